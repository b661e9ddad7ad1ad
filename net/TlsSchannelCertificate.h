#pragma once

#include <windows.h>

#ifndef SECURITY_WIN32
#define SECURITY_WIN32 // the user-mode SSPI declarations
#endif
#include <security.h>

#include <string>

namespace net {

// Whether `host` is a dotted IPv4 address ("127.0.0.1"); its bytes go to `address`.
bool ParseIpv4Address(const std::string &host, unsigned char (&address)[4]);

// Verifies the certificate the server of the established Schannel `context` presented, for
// `host` (a name or a dotted IPv4 address): the chain must reach a root of the system's stores,
// be valid now and for server authentication, and the certificate must name the host (a DNS
// entry or the common name) or hold the address among its IP entries. Empty when it passes,
// else why not, in OpenSSL's words ("certificate has expired", "hostname mismatch", ...), so
// that the user reads the same texts on every system. Builds the chain from the system's
// stores and the certificates the server sent (Windows, not Wine, may fetch a missing root or
// issuer from the network meanwhile, as it does for every program). Checks no revocation.
std::string CertificateProblem(CtxtHandle &context, const std::string &host);

} // namespace net
