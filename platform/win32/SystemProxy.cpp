// The current user's proxy settings through WinHTTP, loaded from the system folder when a
// download first needs them: the automatic configuration script or automatic detection,
// resolved for each URL by WinHTTP's own script engine, else the static proxy with its bypass
// list.
#include "platform/SystemProxy.h"

#include "platform/Catalogue.h"
#include "platform/SharedLibrary.h"
#include "platform/win32/Text.h"

#include <windows.h>

#include <winhttp.h>

#include <mutex>

namespace platform {
namespace {

#define PLATFORM_WINHTTP_FUNCTIONS(X)                                                              \
    X(WinHttpGetIEProxyConfigForCurrentUser)                                                       \
    X(WinHttpOpen)                                                                                 \
    X(WinHttpGetProxyForUrl)                                                                       \
    X(WinHttpCloseHandle)

struct TWinHttp {
#define PLATFORM_WINHTTP_POINTER(name) decltype(&::name) name = nullptr;
    PLATFORM_WINHTTP_FUNCTIONS(PLATFORM_WINHTTP_POINTER)
#undef PLATFORM_WINHTTP_POINTER
    bool complete = false;
    HINTERNET session = nullptr; // for the scripts; made at the first one
};

TWinHttp Load() {
    TWinHttp winhttp;
    std::string error;
    void *library = LoadSystemLibrary("winhttp.dll", error);
    if (!library)
        return winhttp;
#define PLATFORM_WINHTTP_RESOLVE(name)                                                             \
    if (!ResolveFunction(library, "winhttp.dll", #name, winhttp.name, error))                      \
        return winhttp;
    PLATFORM_WINHTTP_FUNCTIONS(PLATFORM_WINHTTP_RESOLVE)
#undef PLATFORM_WINHTTP_RESOLVE
    winhttp.complete = true;
    return winhttp;
}

std::mutex winhttpMutex; // one caller at a time: the session handle is shared

TWinHttp &WinHttp() {
    static TWinHttp winhttp = Load();
    return winhttp;
}

// Takes a string WinHTTP allocated, and frees it.
std::string Take(LPWSTR text) {
    std::string narrow = win32::Narrow(text);
    if (text)
        GlobalFree(text);
    return narrow;
}

// What a script or detection gives for the URL; false when they give nothing.
bool FromScript(TWinHttp &winhttp, const std::string &url, const std::string &scheme,
                const std::wstring &configUrl, bool detect, std::vector<ProxyServer> &proxies) {
    if (!winhttp.session)
        winhttp.session = winhttp.WinHttpOpen(L"download", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!winhttp.session)
        return false;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (!configUrl.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = configUrl.c_str();
    } else if (detect) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        return false;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    const std::wstring wideUrl = win32::Widen(url);
    if (!winhttp.WinHttpGetProxyForUrl(winhttp.session, wideUrl.c_str(), &options, &info))
        return false;
    const std::string list = Take(info.lpszProxy);
    Take(info.lpszProxyBypass);
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY)
        proxies = ParseProxyList(list, scheme);
    // A list of DIRECT alone is no proxy.
    if (proxies.size() == 1 && proxies.front().Direct)
        proxies.clear();
    return true;
}

} // namespace

std::vector<ProxyServer> SystemProxiesFor(const std::string &url, const std::string &scheme,
                                          const std::string &host, std::string &source) {
    source.clear();
    std::lock_guard lock(winhttpMutex);
    TWinHttp &winhttp = WinHttp();
    if (!winhttp.complete)
        return {};
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!winhttp.WinHttpGetIEProxyConfigForCurrentUser(&config))
        return {};
    const std::string configUrl = Take(config.lpszAutoConfigUrl);
    const std::string proxy = Take(config.lpszProxy);
    const std::string bypass = Take(config.lpszProxyBypass);
    std::vector<ProxyServer> proxies;
    if (FromScript(winhttp, url, scheme, win32::Widen(configUrl), config.fAutoDetect != FALSE,
                   proxies)) {
        // TRANSLATORS: where a proxy setting comes from, filled into "from %2" (as "the options").
        source = configUrl.empty() ? Tr("automatic proxy detection")
                                   : Tr("the automatic configuration script");
        return proxies;
    }
    if (proxy.empty())
        return {};
    if (BypassListMatches(bypass, host)) {
        // TRANSLATORS: where a proxy setting comes from, filled into "from %2" (as "the options").
        source = Tr("the Internet settings' bypass list");
        return {};
    }
    // TRANSLATORS: where a proxy setting comes from, filled into "from %2" (as "the options").
    source = Tr("the Internet settings");
    return ParseProxyList(proxy, scheme);
}

} // namespace platform
