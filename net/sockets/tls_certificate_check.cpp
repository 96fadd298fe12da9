#include "net/sockets/tls_certificate_check.h"

#include <openssl/bio.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <strings.h>

namespace KestNet {
namespace {

struct BioDeleter {
  void operator()(BIO* p_pBio) const { BIO_free(p_pBio); }
};

bool EqualIgnoringCase(const std::string& p_strLeft, const std::string& p_strRight) {
  return p_strLeft.size() == p_strRight.size() && strcasecmp(p_strLeft.c_str(), p_strRight.c_str()) == 0;
}

std::string LastCommonName(const X509_NAME* p_pName) {
  int index = -1;
  int last = -1;
  while ((index = X509_NAME_get_index_by_NID(p_pName, NID_commonName, index)) >= 0) {
    last = index;
  }
  if (last < 0) {
    return {};
  }
  const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(p_pName, last));
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, data);
  if (length < 0) {
    return {};
  }
  std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

struct VerifyReason {
  long error;
  const char* reason;
};

// The errors a person meets most, in words that say what to fix.
constexpr VerifyReason kVerifyReasons[] = {
    {X509_V_ERR_CERT_HAS_EXPIRED, "expired"},
    {X509_V_ERR_CERT_NOT_YET_VALID, "not yet valid"},
    {X509_V_ERR_HOSTNAME_MISMATCH, "host name mismatch"},
    {X509_V_ERR_IP_ADDRESS_MISMATCH, "host name mismatch"},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "unknown issuer"},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, "unknown issuer"},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, "unknown issuer"},
    // A server that presents its whole chain ends it with its CA's own
    // self-signed certificate: when that CA is not trusted, the server's
    // certificate has an unknown issuer, it is not self-signed itself.
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, "unknown issuer"},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "self-signed"},
    {kVerifyErrorSubjectMismatch, "subject mismatch"},
    {kVerifyErrorIssuerMismatch, "issuer mismatch"},
};

}  // namespace

std::string NameToRfc2253(const X509_NAME* p_pName) {
  if (p_pName == nullptr) {
    return {};
  }
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), p_pName, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

bool NameMatchesSetting(const X509_NAME* p_pName, const std::string& p_strSetting) {
  if (p_strSetting.empty()) {
    return true;
  }
  if (p_strSetting.find('=') != std::string::npos) {
    return EqualIgnoringCase(NameToRfc2253(p_pName), p_strSetting);
  }
  return EqualIgnoringCase(LastCommonName(p_pName), p_strSetting);
}

std::string DescribeVerifyError(long p_lVerifyError) {
  const auto* found = std::find_if(std::begin(kVerifyReasons), std::end(kVerifyReasons),
                                   [&](const VerifyReason& p_entry) { return p_entry.error == p_lVerifyError; });
  if (found != std::end(kVerifyReasons)) {
    return found->reason;
  }
  return X509_verify_cert_error_string(p_lVerifyError);
}

}  // namespace KestNet
