// A certificate made at test start, for the loopback stand-in's HTTPS.
//
// TestCertificate makes a fresh P-256 key and a self-signed certificate for
// "localhost" and 127.0.0.1 (valid from a day ago for a week), and writes
// the certificate as PEM to a temporary file that a client can be told to
// trust (FLUVANE_CA_FILE). Two certificates made this way do not trust each
// other, which is how a test shows that an untrusted server is refused.
// Nothing is read from or kept on disk beyond the temporary file, which the
// destructor removes.
#ifndef TESTS_SUPPORT_TEST_CERTIFICATE_H
#define TESTS_SUPPORT_TEST_CERTIFICATE_H

#include <string>

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

namespace stub {

class TestCertificate {
 public:
  TestCertificate();
  ~TestCertificate();
  TestCertificate(const TestCertificate&) = delete;
  TestCertificate& operator=(const TestCertificate&) = delete;

  bool valid() const { return cert_ && key_ && !pemPath_.empty(); }
  X509* certificate() const { return cert_; }
  EVP_PKEY* key() const { return key_; }
  // The certificate as a PEM file.
  const std::string& pemPath() const { return pemPath_; }

 private:
  X509* cert_ = nullptr;
  EVP_PKEY* key_ = nullptr;
  std::string pemPath_;
};

}  // namespace stub

#endif
