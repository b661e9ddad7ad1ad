// The TLS library, loaded on first use.
#include "net/TlsLibrary.h"

#include "platform/SharedLibrary.h"
#include "platform/posix/OpenSslName.h"

namespace net {
namespace {

constexpr const char *kLibraryName = PLATFORM_OPENSSL_LIBRARY("libssl");

struct TLoaded {
    TTlsLibrary functions;
    bool complete = false;
    std::string error;
};

TLoaded Load() {
    TLoaded loaded;
    void *library = platform::LoadSharedLibrary(kLibraryName, loaded.error);
    if (!library)
        return loaded;
    // The functions of libcrypto are found through libssl, which depends on it.
#define NET_TLS_RESOLVE(name)                                                                  \
    if (!platform::ResolveFunction(library, kLibraryName, #name, loaded.functions.name,        \
                                   loaded.error))                                              \
        return loaded;
    NET_TLS_FUNCTIONS(NET_TLS_RESOLVE)
#undef NET_TLS_RESOLVE
    loaded.complete = true;
    return loaded;
}

} // namespace

const TTlsLibrary *TlsLibrary(std::string &error) {
    static const TLoaded loaded = Load();
    if (!loaded.complete) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.functions;
}

} // namespace net
