// SHA-256 through the system's Cryptography API: Next Generation (bcrypt.dll), loaded from the
// system folder at the first digest: a program that computes none never maps it.
#include "platform/Sha256.h"

#include "platform/SharedLibrary.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>

namespace platform {
namespace {

#define PLATFORM_CNG_FUNCTIONS(X)                                                              \
    X(BCryptOpenAlgorithmProvider)                                                             \
    X(BCryptCloseAlgorithmProvider)                                                            \
    X(BCryptCreateHash)                                                                        \
    X(BCryptHashData)                                                                          \
    X(BCryptFinishHash)                                                                        \
    X(BCryptDestroyHash)

struct TCng {
#define PLATFORM_CNG_POINTER(name) decltype(&::name) name = nullptr;
    PLATFORM_CNG_FUNCTIONS(PLATFORM_CNG_POINTER)
#undef PLATFORM_CNG_POINTER
    bool complete = false;
    std::string error;
};

TCng Load() {
    TCng cng;
    // From the system folder: a bcrypt.dll beside the program is never taken for the system's.
    void *library = LoadSystemLibrary("bcrypt.dll", cng.error);
    if (!library)
        return cng;
#define PLATFORM_CNG_RESOLVE(name)                                                             \
    if (!ResolveFunction(library, "bcrypt.dll", #name, cng.name, cng.error))                   \
        return cng;
    PLATFORM_CNG_FUNCTIONS(PLATFORM_CNG_RESOLVE)
#undef PLATFORM_CNG_RESOLVE
    cng.complete = true;
    return cng;
}

// The library, loaded once for the process (any thread).
const TCng &Cng() {
    static const TCng cng = Load();
    return cng;
}

struct THashState {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

std::string StatusText(const char *call, NTSTATUS status) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed with status 0x%08lX", call,
                  static_cast<unsigned long>(status));
    return text;
}

void Release(THashState *state) {
    if (state->hash)
        Cng().BCryptDestroyHash(state->hash);
    if (state->algorithm)
        Cng().BCryptCloseAlgorithmProvider(state->algorithm, 0);
    delete state;
}

} // namespace

TSha256::TSha256() {
    const TCng &cng = Cng();
    if (!cng.complete) {
        error_ = cng.error;
        return;
    }
    auto *state = new THashState;
    NTSTATUS status =
        cng.BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!Succeeded(status)) {
        error_ = StatusText("BCryptOpenAlgorithmProvider(SHA256)", status);
        state->algorithm = nullptr;
        Release(state);
        return;
    }
    // The system keeps the hash object's memory itself (Windows 7 and later).
    status = cng.BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) {
        error_ = StatusText("BCryptCreateHash", status);
        state->hash = nullptr;
        Release(state);
        return;
    }
    state_ = state;
}

TSha256::~TSha256() {
    if (state_)
        Release(static_cast<THashState *>(state_));
}

void TSha256::Update(const void *data, size_t size) {
    if (!state_)
        return;
    auto *state = static_cast<THashState *>(state_);
    auto *bytes = static_cast<unsigned char *>(const_cast<void *>(data));
    // The length is a ULONG: a very large block goes in parts.
    while (size > 0) {
        const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!Succeeded(Cng().BCryptHashData(state->hash, bytes, part, 0)))
            failed_ = true;
        bytes += part;
        size -= part;
    }
}

std::string TSha256::Finish() {
    if (!state_)
        return "";
    auto *state = static_cast<THashState *>(state_);
    unsigned char digest[32];
    const bool done =
        !failed_ && Succeeded(Cng().BCryptFinishHash(state->hash, digest, sizeof digest, 0));
    Release(state);
    state_ = nullptr;
    return done ? HexDigits(digest, sizeof digest) : "";
}

} // namespace platform
