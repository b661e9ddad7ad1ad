// The TLS library, loaded on first use.
#include "net/TlsLibrary.h"

#include "platform/SharedLibrary.h"

#include <openssl/opensslv.h>

namespace net {
namespace {

#define NET_TLS_TEXT(x) #x
#define NET_TLS_NUMBER_TEXT(x) NET_TLS_TEXT(x)
// The name of the library this program was built against, with its ABI version.
#ifdef OPENSSL_SHLIB_VERSION
constexpr const char *kLibraryName = "libssl.so." NET_TLS_NUMBER_TEXT(OPENSSL_SHLIB_VERSION);
#else
constexpr const char *kLibraryName = "libssl.so." SHLIB_VERSION_NUMBER;
#endif

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
    loaded.functions.name =                                                                    \
        reinterpret_cast<decltype(&::name)>(platform::SharedLibrarySymbol(library, #name));    \
    if (!loaded.functions.name) {                                                              \
        loaded.error = std::string(kLibraryName) + " has no " #name;                           \
        return loaded;                                                                         \
    }
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
