// SHA-256 through OpenSSL's libcrypto, loaded at the first digest.
#include "platform/Sha256.h"

#include "platform/Catalogue.h"
#include "platform/SharedLibrary.h"
#include "platform/posix/OpenSslName.h"

#include <openssl/evp.h>

namespace platform {
namespace {

constexpr const char *kCryptoLibrary = PLATFORM_OPENSSL_LIBRARY("libcrypto");

#define PLATFORM_DIGEST_FUNCTIONS(X)                                                           \
    X(EVP_MD_CTX_new)                                                                          \
    X(EVP_MD_CTX_free)                                                                         \
    X(EVP_DigestInit_ex)                                                                       \
    X(EVP_DigestUpdate)                                                                        \
    X(EVP_DigestFinal_ex)                                                                      \
    X(EVP_sha256)

struct TCrypto {
#define PLATFORM_DIGEST_POINTER(name) decltype(&::name) name = nullptr;
    PLATFORM_DIGEST_FUNCTIONS(PLATFORM_DIGEST_POINTER)
#undef PLATFORM_DIGEST_POINTER
    bool complete = false;
    std::string error;
};

TCrypto Load() {
    TCrypto crypto;
    void *library = LoadSharedLibrary(kCryptoLibrary, crypto.error);
    if (!library)
        return crypto;
#define PLATFORM_DIGEST_RESOLVE(name)                                                          \
    if (!ResolveFunction(library, kCryptoLibrary, #name, crypto.name, crypto.error))           \
        return crypto;
    PLATFORM_DIGEST_FUNCTIONS(PLATFORM_DIGEST_RESOLVE)
#undef PLATFORM_DIGEST_RESOLVE
    crypto.complete = true;
    return crypto;
}

// The library, loaded once for the process (any thread).
const TCrypto &Crypto() {
    static const TCrypto crypto = Load();
    return crypto;
}

} // namespace

TSha256::TSha256() {
    const TCrypto &crypto = Crypto();
    if (!crypto.complete) {
        error_ = crypto.error;
        return;
    }
    EVP_MD_CTX *context = crypto.EVP_MD_CTX_new();
    if (!context || crypto.EVP_DigestInit_ex(context, crypto.EVP_sha256(), nullptr) != 1) {
        crypto.EVP_MD_CTX_free(context);
        // TRANSLATORS: %1 is the file of the system's cryptographic library.
        error_ = Fill(Tr("%1 offers no SHA-256"), {kCryptoLibrary});
        return;
    }
    state_ = context;
}

TSha256::~TSha256() {
    if (state_)
        Crypto().EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(state_));
}

void TSha256::Update(const void *data, size_t size) {
    if (state_ && size &&
        Crypto().EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(state_), data, size) != 1)
        failed_ = true;
}

std::string TSha256::Finish() {
    if (!state_)
        return "";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const TCrypto &crypto = Crypto();
    auto *context = static_cast<EVP_MD_CTX *>(state_);
    const bool done =
        !failed_ && crypto.EVP_DigestFinal_ex(context, digest, &length) == 1 && length == 32;
    crypto.EVP_MD_CTX_free(context);
    state_ = nullptr;
    return done ? HexDigits(digest, length) : "";
}

} // namespace platform
