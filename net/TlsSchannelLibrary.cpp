#include "net/TlsSchannelLibrary.h"

#include "platform/SharedLibrary.h"

namespace net {
namespace {

struct Loaded {
    TSchannelLibrary library;
    bool complete = false;
    std::string error;
};

Loaded Load() {
    Loaded loaded;
    void *secur32 = platform::LoadSystemLibrary("secur32.dll", loaded.error);
    void *crypt32 = secur32 ? platform::LoadSystemLibrary("crypt32.dll", loaded.error) : nullptr;
    if (!crypt32)
        return loaded;
    TSchannelLibrary &l = loaded.library;
#define NET_SCHANNEL_RESOLVE(name)                                                             \
    if (!platform::ResolveFunction(secur32, "secur32.dll", #name, l.name, loaded.error))       \
        return loaded;
    NET_SCHANNEL_FUNCTIONS(NET_SCHANNEL_RESOLVE)
#undef NET_SCHANNEL_RESOLVE
#define NET_CRYPT32_RESOLVE(name)                                                              \
    if (!platform::ResolveFunction(crypt32, "crypt32.dll", #name, l.name, loaded.error))       \
        return loaded;
    NET_CRYPT32_FUNCTIONS(NET_CRYPT32_RESOLVE)
#undef NET_CRYPT32_RESOLVE
    loaded.complete = true;
    return loaded;
}

const Loaded &Library() {
    static const Loaded loaded = Load();
    return loaded;
}

} // namespace

const TSchannelLibrary *SchannelLibrary(std::string &error) {
    const Loaded &loaded = Library();
    if (!loaded.complete) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.library;
}

const TSchannelLibrary &Schannel() { return Library().library; }

} // namespace net
