#pragma once

#include <memory>
#include <string>
#include <vector>

// Certificates for TLS tests, made with the OpenSSL library in a fresh temporary directory
// (removed with everything in it on destruction): a test certificate authority whose
// certificate file serves as the trust store (SSL_CERT_FILE), a second authority that nobody
// trusts, and server certificates issued by either, with chosen names and validity. EC P-256
// keys, SHA-256 signatures.
namespace testsupport {

// The PEM files of one server certificate and its key.
struct ServerCertificate {
    std::string certificate;
    std::string key;
};

struct CertificateRequest {
    std::string commonName = "localhost";
    // subjectAltName entries, e.g. {"DNS:localhost", "IP:127.0.0.1"}.
    std::vector<std::string> altNames = {"DNS:localhost", "IP:127.0.0.1"};
    // Validity relative to now, in days (negative: in the past).
    long validFromDays = -1;
    long validUntilDays = 30;
    // Issued by the authority that is not in the trust store.
    bool untrusted = false;
};

class TestCertificates {
  public:
    // Makes both authorities; throws std::runtime_error when OpenSSL or the files fail.
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates &) = delete;
    TestCertificates &operator=(const TestCertificates &) = delete;

    // The trusted authority's certificate: the trust store of the tests.
    const std::string &TrustStore() const;
    // Issues a server certificate; `name` names its files.
    ServerCertificate Issue(const std::string &name, const CertificateRequest &request = {});
    const std::string &Directory() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The certificates of this test process, made on first use, with SSL_CERT_FILE pointing at
// their trust store from then on. A program reads that variable once, when it makes its first
// TLS context, so every test of a process must share one authority: call this before the
// first TLS connection.
TestCertificates &SharedTestCertificates();

} // namespace testsupport
