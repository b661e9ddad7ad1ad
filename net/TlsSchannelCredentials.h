#pragma once

#include <windows.h>

#ifndef SECURITY_WIN32
#define SECURITY_WIN32 // the user-mode SSPI declarations
#endif
#include <security.h>

#include <string>

namespace net {

// The client credentials every Schannel session shares: TLS 1.2, and 1.3 where the system
// has it; no client certificate; the server's certificate left to the engine to check. Made at
// the first call (thread-safe), kept for the process. nullptr, with Schannel's status in
// `status`, when Schannel refuses them.
const CredHandle *SchannelCredentials(SECURITY_STATUS &status);

// A short text in the manner of OpenSSL's for one of Schannel's status codes.
std::string SchannelStatusText(SECURITY_STATUS status);

} // namespace net
