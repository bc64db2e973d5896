#include "test_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace stub {

namespace {

bool addExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension) return false;
  bool ok = X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return ok;
}

}  // namespace

TestCertificate::TestCertificate() {
  key_ = EVP_EC_gen("P-256");
  if (!key_) return;
  cert_ = X509_new();
  if (!cert_) return;
  X509_set_version(cert_, 2);
  // A random serial, so two certificates of one run differ.
  unsigned char serial[8];
  FILE* random = std::fopen("/dev/urandom", "rb");
  if (random) {
    if (std::fread(serial, 1, sizeof serial, random) != sizeof serial) serial[0] = 1;
    std::fclose(random);
  }
  serial[0] &= 0x7f;
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert_));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(cert_), -24 * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert_), 7 * 24 * 3600);
  X509_set_pubkey(cert_, key_);
  X509_NAME* name = X509_get_subject_name(cert_);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert_, name);
  bool ok = addExtension(cert_, NID_basic_constraints, "critical,CA:TRUE") &&
            addExtension(cert_, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1") &&
            addExtension(cert_, NID_key_usage, "critical,digitalSignature,keyCertSign");
  if (!ok || X509_sign(cert_, key_, EVP_sha256()) <= 0) {
    X509_free(cert_);
    cert_ = nullptr;
    return;
  }

  std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-cert-XXXXXX").string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) return;
  FILE* file = fdopen(fd, "w");
  if (!file) {
    close(fd);
    return;
  }
  bool written = PEM_write_X509(file, cert_) == 1;
  std::fclose(file);
  if (written) {
    pemPath_ = pattern;
  } else {
    std::remove(pattern.c_str());
  }
}

TestCertificate::~TestCertificate() {
  if (!pemPath_.empty()) std::remove(pemPath_.c_str());
  X509_free(cert_);
  EVP_PKEY_free(key_);
}

}  // namespace stub
