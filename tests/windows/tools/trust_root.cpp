// Adds a certificate (a PEM or DER file) to the current user's trusted root store, so that a
// test's server certificates chain to a root the system trusts. Meant for a wine prefix of
// the test's own: the entry stays there.
//   trust_root CERTIFICATE_FILE
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const char *what, const char *file) {
    std::fprintf(stderr, "trust_root: %s %s (error %lu)\n", what, file,
                 static_cast<unsigned long>(GetLastError()));
    return 1;
}

// The DER bytes of a PEM file's first certificate, or the file itself when it is DER.
bool Decode(const std::string &file, std::vector<BYTE> &der) {
    if (file.find("-----BEGIN") == std::string::npos) {
        der.assign(file.begin(), file.end());
        return !der.empty();
    }
    DWORD size = 0;
    if (!CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return false;
    der.resize(size);
    return CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                                CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                nullptr) != FALSE;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_root CERTIFICATE_FILE\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "trust_root: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<BYTE> der;
    if (!Decode(file, der))
        return Fail("no certificate in", argv[1]);

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
    if (!store)
        return Fail("cannot open the store CurrentUser\\ROOT for", argv[1]);
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    if (!added)
        return Fail("cannot add the certificate of", argv[1]);
    return 0;
}
