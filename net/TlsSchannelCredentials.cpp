// The credentials and status texts the Schannel engine's sessions share.
#include "net/TlsSchannelCredentials.h"
#include "net/TlsSchannelLibrary.h"

#include <schannel.h>

#include <cstdio>

namespace net {

std::string SchannelStatusText(SECURITY_STATUS status) {
    switch (status) {
    case SEC_E_ILLEGAL_MESSAGE: return "unexpected or malformed message";
    case SEC_E_INVALID_TOKEN: return "malformed message";
    case SEC_E_ALGORITHM_MISMATCH: return "no protocol version or cipher suite in common";
    case SEC_E_UNSUPPORTED_FUNCTION: return "unsupported protocol";
    case SEC_E_DECRYPT_FAILURE: return "decryption failed";
    case SEC_E_ENCRYPT_FAILURE: return "encryption failed";
    case SEC_E_MESSAGE_ALTERED: return "bad record mac";
    case SEC_E_OUT_OF_SEQUENCE: return "record out of sequence";
    case SEC_E_INSUFFICIENT_MEMORY: return "out of memory";
    case SEC_E_CONTEXT_EXPIRED: return "the session has ended";
    case SEC_E_SECPKG_NOT_FOUND: return "Schannel is not available";
    case SEC_E_INTERNAL_ERROR: return "internal error";
    default: break;
    }
    char text[40];
    std::snprintf(text, sizeof text, "Schannel error 0x%08lX",
                  static_cast<unsigned long>(status));
    return text;
}

namespace {

// The handle and what Schannel said when it was made. Never freed: worker threads may still
// hold sessions while the process ends.
struct Credentials {
    CredHandle handle{};
    SECURITY_STATUS status = SEC_E_INTERNAL_ERROR;
};

} // namespace

const CredHandle *SchannelCredentials(SECURITY_STATUS &status) {
    static const Credentials credentials = [] {
        Credentials c;
        // TLS 1.3 where the system has it; a system that does not know it refuses the set.
        for (DWORD protocols : {static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT),
                                static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT)}) {
            SCHANNEL_CRED cred{};
            cred.dwVersion = SCHANNEL_CRED_VERSION;
            cred.grbitEnabledProtocols = protocols;
            // No client certificate is offered, and the server's is checked here, not by
            // Schannel.
            cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
            c.status = Schannel().AcquireCredentialsHandleW(
                nullptr, const_cast<wchar_t *>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &cred,
                nullptr, nullptr, &c.handle, nullptr);
            if (c.status == SEC_E_OK)
                break;
        }
        return c;
    }();
    status = credentials.status;
    return credentials.status == SEC_E_OK ? &credentials.handle : nullptr;
}

} // namespace net
