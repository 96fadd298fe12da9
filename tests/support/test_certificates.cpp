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

struct Profile {
  ServerCertificate which;
  const char* name;
  const char* address;
  const char* subjectAltName;
  long notBefore;  // seconds from now
  long notAfter;
  bool selfSigned;
};

constexpr Profile kProfiles[] = {
    {ServerCertificate::kValid, "valid", "127.0.0.1", "IP:127.0.0.1", -kHour, kYear, false},
    {ServerCertificate::kExpired, "expired", "127.0.0.2", "IP:127.0.0.2", -2 * kYear, -kHour, false},
    {ServerCertificate::kOtherHost, "other-host", "127.0.0.3", "DNS:mail.other.invalid", -kHour, kYear, false},
    {ServerCertificate::kSelfSigned, "self-signed", "127.0.0.4", "IP:127.0.0.4", -kHour, kYear, true},
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

bool WriteCertificate(const fs::path& p_path, X509* p_pCertificate) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(p_path.c_str(), "w"));
  return file && PEM_write_X509(file.get(), p_pCertificate) == 1;
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
  Key caKey = NewKey();
  Certificate ca = caKey ? Issue(caKey.get(), "KestNet Test CA", 1, -kHour, kYear, nullptr, caKey.get(), true, nullptr)
                         : nullptr;
  if (error || !ca || !WriteCertificate(CaFile(), ca.get())) {
    p_error = "the test CA could not be made";
    return false;
  }
  long serial = 2;
  for (const Profile& profile : kProfiles) {
    Key key = NewKey();
    Certificate certificate =
        key ? Issue(key.get(), "mail.kestnet.test", serial++, profile.notBefore, profile.notAfter,
                    profile.selfSigned ? nullptr : ca.get(), profile.selfSigned ? key.get() : caKey.get(), false,
                    profile.subjectAltName)
            : nullptr;
    if (!certificate || !WriteCertificate(CertificateFile(profile.which), certificate.get()) ||
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
