#include "tests/support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace kestnet::testing {
namespace {

namespace fs = std::filesystem;

constexpr long kHour = 60 * 60;
constexpr long kYear = 365 * 24 * kHour;

struct KeyDeleter {
  void operator()(EVP_PKEY* p_pKey) const { EVP_PKEY_free(p_pKey); }
};
struct CertificateDeleter {
  void operator()(X509* p_pCertificate) const { X509_free(p_pCertificate); }
};
struct FileCloser {
  void operator()(FILE* p_pFile) const { std::fclose(p_pFile); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Certificate = std::unique_ptr<X509, CertificateDeleter>;

// Who signs a server certificate.
enum class Signer { kTestCa, kItself, kUnknownCa };

struct Profile {
  ServerCertificate which;
  const char* name;
  const char* address;
  const char* subjectAltName;
  long notBefore;  // seconds from now
  long notAfter;
  Signer signer;
};

constexpr Profile kProfiles[] = {
    {ServerCertificate::kValid, "valid", "127.0.0.1", "IP:127.0.0.1", -kHour, kYear, Signer::kTestCa},
    {ServerCertificate::kExpired, "expired", "127.0.0.2", "IP:127.0.0.2", -2 * kYear, -kHour, Signer::kTestCa},
    {ServerCertificate::kOtherHost, "other-host", "127.0.0.3", "DNS:mail.other.invalid", -kHour, kYear,
     Signer::kTestCa},
    {ServerCertificate::kSelfSigned, "self-signed", "127.0.0.4", "IP:127.0.0.4", -kHour, kYear, Signer::kItself},
    {ServerCertificate::kNotYetValid, "not-yet-valid", "127.0.0.5", "IP:127.0.0.5", 24 * kHour, kYear,
     Signer::kTestCa},
    {ServerCertificate::kUnknownIssuer, "unknown-issuer", "127.0.0.6", "IP:127.0.0.6", -kHour, kYear,
     Signer::kUnknownCa},
};

const Profile& ProfileOf(ServerCertificate p_which) {
  for (const Profile& profile : kProfiles) {
    if (profile.which == p_which) return profile;
  }
  return kProfiles[0];
}

Key NewKey() { return Key(EVP_EC_gen("P-256")); }

bool AddName(X509_NAME* p_pName, const char* p_szOrganisation, const char* p_szCommonName) {
  const auto add = [&](const char* p_szField, const char* p_szValue) {
    return X509_NAME_add_entry_by_txt(p_pName, p_szField, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(p_szValue), -1, -1, 0) == 1;
  };
  return add("O", p_szOrganisation) && add("CN", p_szCommonName);
}

bool AddExtension(X509* p_pCertificate, X509* p_pIssuer, int p_nid, const char* p_szValue) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, p_pIssuer, p_pCertificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, p_nid, p_szValue);
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(p_pCertificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A certificate for p_key, signed by p_signingKey as p_pIssuer (itself when
// null).
Certificate Issue(EVP_PKEY* p_key, const char* p_szCommonName, long p_serial, long p_notBefore, long p_notAfter,
                  X509* p_pIssuer, EVP_PKEY* p_signingKey, bool p_bAuthority, const char* p_szSubjectAltName) {
  Certificate certificate(X509_new());
  if (!certificate || X509_set_version(certificate.get(), 2) != 1 ||
      ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), p_serial) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), p_notBefore) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), p_notAfter) == nullptr ||
      !AddName(X509_get_subject_name(certificate.get()), "KestNet Test", p_szCommonName) ||
      X509_set_pubkey(certificate.get(), p_key) != 1) {
    return nullptr;
  }
  X509* issuer = p_pIssuer != nullptr ? p_pIssuer : certificate.get();
  if (X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuer)) != 1) return nullptr;
  const bool extended =
      p_bAuthority ? AddExtension(certificate.get(), issuer, NID_basic_constraints, "critical,CA:TRUE") &&
                         AddExtension(certificate.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
                         AddExtension(certificate.get(), issuer, NID_subject_key_identifier, "hash")
                   : AddExtension(certificate.get(), issuer, NID_basic_constraints, "CA:FALSE") &&
                         AddExtension(certificate.get(), issuer, NID_ext_key_usage, "serverAuth") &&
                         AddExtension(certificate.get(), issuer, NID_subject_alt_name, p_szSubjectAltName);
  if (!extended || X509_sign(certificate.get(), p_signingKey, EVP_sha256()) == 0) return nullptr;
  return certificate;
}

// A certificate file: the certificate, then the issuer a server presents
// with it, if any.
bool WriteCertificate(const fs::path& p_path, X509* p_pCertificate, X509* p_pPresentedIssuer = nullptr) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(p_path.c_str(), "w"));
  return file && PEM_write_X509(file.get(), p_pCertificate) == 1 &&
         (p_pPresentedIssuer == nullptr || PEM_write_X509(file.get(), p_pPresentedIssuer) == 1);
}

// A certificate authority: its key and self-signed certificate.
struct Authority {
  Key key;
  Certificate certificate;
};

Authority NewAuthority(const char* p_szCommonName, long p_serial) {
  Authority authority{NewKey(), nullptr};
  if (authority.key) {
    authority.certificate = Issue(authority.key.get(), p_szCommonName, p_serial, -kHour, kYear, nullptr,
                                  authority.key.get(), true, nullptr);
  }
  return authority;
}

bool WriteKey(const fs::path& p_path, EVP_PKEY* p_pKey) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(p_path.c_str(), "w"));
  return file && PEM_write_PrivateKey(file.get(), p_pKey, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

}  // namespace

bool TestCertificates::Make(const fs::path& p_directory, std::string& p_error) {
  m_directory = p_directory;
  std::error_code error;
  fs::create_directories(p_directory, error);
  const Authority ca = NewAuthority("KestNet Test CA", 1);
  const Authority unknownCa = NewAuthority("KestNet Unknown CA", 2);
  if (error || !ca.certificate || !unknownCa.certificate || !WriteCertificate(CaFile(), ca.certificate.get())) {
    p_error = "the test CAs could not be made";
    return false;
  }
  long serial = 3;
  for (const Profile& profile : kProfiles) {
    Key key = NewKey();
    const Authority* issuer = profile.signer == Signer::kTestCa      ? &ca
                              : profile.signer == Signer::kUnknownCa ? &unknownCa
                                                                     : nullptr;
    Certificate certificate =
        key ? Issue(key.get(), "mail.kestnet.test", serial++, profile.notBefore, profile.notAfter,
                    issuer != nullptr ? issuer->certificate.get() : nullptr,
                    issuer != nullptr ? issuer->key.get() : key.get(), false, profile.subjectAltName)
            : nullptr;
    // The unknown CA travels with its certificate: a whole chain, anchored
    // nowhere the client trusts.
    X509* presentedIssuer = profile.signer == Signer::kUnknownCa ? unknownCa.certificate.get() : nullptr;
    if (!certificate || !WriteCertificate(CertificateFile(profile.which), certificate.get(), presentedIssuer) ||
        !WriteKey(KeyFile(profile.which), key.get())) {
      p_error = std::string("the test certificate ") + profile.name + " could not be made";
      return false;
    }
  }
  return true;
}

fs::path TestCertificates::CertificateFile(ServerCertificate p_which) const {
  return m_directory / (std::string(ProfileOf(p_which).name) + ".crt");
}

fs::path TestCertificates::KeyFile(ServerCertificate p_which) const {
  return m_directory / (std::string(ProfileOf(p_which).name) + ".key");
}

std::string TestCertificates::Address(ServerCertificate p_which) { return ProfileOf(p_which).address; }

}  // namespace kestnet::testing
