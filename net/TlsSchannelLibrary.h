#pragma once

#include <windows.h>

#ifndef SECURITY_WIN32
#define SECURITY_WIN32 // the user-mode SSPI declarations
#endif
#include <security.h>
#include <wincrypt.h>

#include <string>

namespace net {

// The functions of SSPI (secur32.dll: Schannel, and Negotiate and NTLM for proxies) and of
// the certificate store (crypt32.dll) this program calls, each as a pointer of its own type.
#define NET_SCHANNEL_FUNCTIONS(X)                                                                  \
    X(AcquireCredentialsHandleW)                                                                   \
    X(ApplyControlToken)                                                                           \
    X(CompleteAuthToken)                                                                           \
    X(DecryptMessage)                                                                              \
    X(DeleteSecurityContext)                                                                       \
    X(EncryptMessage)                                                                              \
    X(FreeContextBuffer)                                                                           \
    X(FreeCredentialsHandle)                                                                       \
    X(InitializeSecurityContextW)                                                                  \
    X(QueryContextAttributesW)
#define NET_CRYPT32_FUNCTIONS(X)                                                               \
    X(CertFindExtension)                                                                       \
    X(CertFreeCertificateChain)                                                                \
    X(CertFreeCertificateContext)                                                              \
    X(CertGetCertificateChain)                                                                 \
    X(CertVerifyCertificateChainPolicy)                                                        \
    X(CertVerifyTimeValidity)                                                                  \
    X(CryptDecodeObjectEx)

// secur32.dll and crypt32.dll, loaded from the system folder when the first TLS session is set
// up: they are no Known DLLs, and a copy of either planted beside the program (a Downloads
// folder) is never taken. A plain HTTP run never maps them. They stay loaded.
struct TSchannelLibrary {
#define NET_SCHANNEL_POINTER(name) decltype(&::name) name = nullptr;
    NET_SCHANNEL_FUNCTIONS(NET_SCHANNEL_POINTER)
    NET_CRYPT32_FUNCTIONS(NET_SCHANNEL_POINTER)
#undef NET_SCHANNEL_POINTER
};

// The loaded libraries, or nullptr with why in `error`. Loads them at the first call; any
// thread.
const TSchannelLibrary *SchannelLibrary(std::string &error);
// The loaded libraries, once SchannelLibrary has succeeded (the engine's sessions are only
// made then).
const TSchannelLibrary &Schannel();

} // namespace net
