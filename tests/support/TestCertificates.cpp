#include "tests/support/TestCertificates.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace testsupport {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string &what) {
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error("test certificates: " + what + ": " + text);
}

struct KeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509 *c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        Fail("EC key");
    return key;
}

void AddExtension(X509 *cert, X509 *issuer, int nid, const std::string &value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext || X509_add_ext(cert, ext, -1) != 1)
        Fail("extension " + value);
    X509_EXTENSION_free(ext);
}

// A certificate for `key` named `commonName`, signed by issuerKey (self-signed when issuer is
// null).
Cert MakeCertificate(EVP_PKEY *key, const std::string &commonName, long fromDays, long untilDays,
                     X509 *issuer, EVP_PKEY *issuerKey, bool authority,
                     const std::vector<std::string> &altNames) {
    static long serial = 1;
    Cert cert(X509_new());
    if (!cert)
        Fail("X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), untilDays * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Download tests"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1,
                               0);
    X509 *signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (authority) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        std::string names;
        for (const auto &n : altNames)
            names += (names.empty() ? "" : ",") + n;
        if (!names.empty())
            AddExtension(cert.get(), signer, NID_subject_alt_name, names);
    }
    if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        Fail("signing " + commonName);
    return cert;
}

void WritePem(const std::string &path, X509 *cert, EVP_PKEY *key) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f)
        throw std::system_error(errno, std::generic_category(), "open " + path);
    bool ok = cert ? PEM_write_X509(f, cert) == 1
                   : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        Fail("writing " + path);
}

} // namespace

struct TestCertificates::Impl {
    std::string dir;
    std::string trustStore;
    Key caKey, otherKey;
    Cert ca, other;
    ~Impl() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

TestCertificates::TestCertificates() : impl_(std::make_unique<Impl>()) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/testcerts-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    impl_->dir = pattern;
    impl_->caKey = NewKey();
    impl_->ca = MakeCertificate(impl_->caKey.get(), "Download Test CA", -1, 3650, nullptr, nullptr,
                                true, {});
    impl_->otherKey = NewKey();
    impl_->other = MakeCertificate(impl_->otherKey.get(), "Untrusted Test CA", -1, 3650, nullptr,
                                   nullptr, true, {});
    impl_->trustStore = impl_->dir + "/trusted-ca.pem";
    WritePem(impl_->trustStore, impl_->ca.get(), nullptr);
}

TestCertificates::~TestCertificates() = default;

const std::string &TestCertificates::TrustStore() const {
    return impl_->trustStore;
}

const std::string &TestCertificates::Directory() const {
    return impl_->dir;
}

ServerCertificate TestCertificates::Issue(const std::string &name,
                                          const CertificateRequest &request) {
    Key key = NewKey();
    X509 *issuer = request.untrusted ? impl_->other.get() : impl_->ca.get();
    EVP_PKEY *issuerKey = request.untrusted ? impl_->otherKey.get() : impl_->caKey.get();
    Cert cert = MakeCertificate(key.get(), request.commonName, request.validFromDays,
                                request.validUntilDays, issuer, issuerKey, false, request.altNames);
    ServerCertificate files{impl_->dir + "/" + name + ".pem", impl_->dir + "/" + name + ".key"};
    WritePem(files.certificate, cert.get(), nullptr);
    WritePem(files.key, nullptr, key.get());
    return files;
}

TestCertificates &SharedTestCertificates() {
    static TestCertificates certificates;
    static const bool pointed = [] {
        setenv("SSL_CERT_FILE", certificates.TrustStore().c_str(), 1);
        return true;
    }();
    (void)pointed;
    return certificates;
}

} // namespace testsupport
