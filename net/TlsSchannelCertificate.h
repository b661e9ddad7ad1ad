#pragma once

#include <windows.h>

#ifndef SECURITY_WIN32
#define SECURITY_WIN32 // the user-mode SSPI declarations
#endif
#include <security.h>

#include <string>

namespace net {

// Verifies the certificate the server of the established Schannel `context` presented, for
// `host` (a name, or an IPv4 or IPv6 address without brackets): the chain must reach a root of the system's stores,
// be valid now and for server authentication, and the certificate must name the host (a DNS
// entry or the common name) or hold the address among its IP entries. Empty when it passes,
// else why not, in OpenSSL's words ("certificate has expired", "hostname mismatch", ...), so
// that the user reads the same texts on every system. Builds the chain from the system's
// stores and the certificates the server sent (Windows, not Wine, may fetch a missing root or
// issuer from the network meanwhile, as it does for every program). Checks no revocation.
std::string CertificateProblem(CtxtHandle &context, const std::string &host);

} // namespace net
