#pragma once

#include "platform/ProxyRules.h"

#include <string>
#include <vector>

namespace platform {

// The proxies the system's settings give for `url` (whose scheme and host are given as well),
// in the order to try them; empty when the URL is reached directly. On Linux the variables
// curl follows: http_proxy for http, https_proxy or HTTPS_PROXY for https, all_proxy or
// ALL_PROXY for both, and no_proxy or NO_PROXY (the upper-case HTTP_PROXY is not read: a web
// server's CGI can set it). On Windows the current user's settings through WinHTTP (loaded
// from the system folder at the first call): an automatic configuration script or automatic
// detection, resolved for the URL, else the static proxy and its bypass list. `source` names
// where the answer came from, for the status line ("http_proxy", "the Internet settings").
// Blocks while a configuration script is fetched and run; never throws.
std::vector<ProxyServer> SystemProxiesFor(const std::string &url, const std::string &scheme,
                                          const std::string &host, std::string &source);

} // namespace platform
