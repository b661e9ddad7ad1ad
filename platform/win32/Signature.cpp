// The Authenticode signature of a held file, through wintrust.dll and crypt32.dll, both loaded
// from the system folder when a signer is first checked (neither is a Known DLL: imported,
// a copy beside the program would be taken first).
#include "platform/Signature.h"

#include "platform/SharedLibrary.h"
#include "platform/win32/Text.h"

#include <windows.h>

#include <wincrypt.h>
#include <wintrust.h>

#include <softpub.h>

#include <cstdio>

namespace platform {
namespace {

#define PLATFORM_WINTRUST_FUNCTIONS(X)                                                             \
    X(WinVerifyTrust)                                                                              \
    X(WTHelperProvDataFromStateData)                                                               \
    X(WTHelperGetProvSignerFromChain)
#define PLATFORM_CRYPT32_FUNCTIONS(X)                                                              \
    X(CertVerifyCertificateChainPolicy)                                                            \
    X(CertGetNameStringW)

struct TTrust {
#define PLATFORM_TRUST_POINTER(name) decltype(&::name) name = nullptr;
    PLATFORM_WINTRUST_FUNCTIONS(PLATFORM_TRUST_POINTER)
    PLATFORM_CRYPT32_FUNCTIONS(PLATFORM_TRUST_POINTER)
#undef PLATFORM_TRUST_POINTER
    std::string error; // why the check cannot be made; "" when every function is there
};

TTrust Load() {
    TTrust trust;
    void *wintrust = LoadSystemLibrary("wintrust.dll", trust.error);
    void *crypt32 = wintrust ? LoadSystemLibrary("crypt32.dll", trust.error) : nullptr;
    if (!crypt32)
        return trust;
#define PLATFORM_TRUST_RESOLVE(library, name)                                                      \
    if (!ResolveFunction(library, #library ".dll", #name, trust.name, trust.error))                \
        return trust;
#define PLATFORM_WINTRUST_RESOLVE(name) PLATFORM_TRUST_RESOLVE(wintrust, name)
#define PLATFORM_CRYPT32_RESOLVE(name) PLATFORM_TRUST_RESOLVE(crypt32, name)
    PLATFORM_WINTRUST_FUNCTIONS(PLATFORM_WINTRUST_RESOLVE)
    PLATFORM_CRYPT32_FUNCTIONS(PLATFORM_CRYPT32_RESOLVE)
#undef PLATFORM_CRYPT32_RESOLVE
#undef PLATFORM_WINTRUST_RESOLVE
#undef PLATFORM_TRUST_RESOLVE
    return trust;
}

const TTrust &Trust() {
    static const TTrust trust = Load();
    return trust;
}

// The common name of a certificate's subject; "" when it has none.
std::string CommonName(const TTrust &trust, PCCERT_CONTEXT certificate) {
    if (!certificate)
        return {};
    char *oid = const_cast<char *>(szOID_COMMON_NAME);
    const DWORD length =
        trust.CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, oid, nullptr, 0);
    if (length <= 1)
        return {};
    std::wstring name(length, L'\0');
    trust.CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, oid, name.data(), length);
    return win32::Narrow(name.c_str());
}

// The check's state and reason for the result of the verification or the chain's policy.
SignatureCheck Verdict(DWORD code, std::string signer) {
    SignatureCheck check{SignatureState::Invalid, std::move(signer), ""};
    switch (code) {
    case ERROR_SUCCESS:
        check.state = SignatureState::Valid;
        break;
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE):
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN):
    case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN):
        check.state = SignatureState::Unsigned;
        check.reason = "the file is not signed";
        break;
    case static_cast<DWORD>(TRUST_E_BAD_DIGEST):
        check.state = SignatureState::Tampered;
        check.reason = "the file was changed after it was signed";
        break;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
        check.state = SignatureState::Untrusted;
        check.reason = "its certificate does not lead to a trusted root";
        break;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        check.state = SignatureState::Expired;
        check.reason = "its certificate has expired";
        break;
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "the signature is not valid (error 0x%08lX)",
                      static_cast<unsigned long>(code));
        check.reason = text;
    }
    }
    return check;
}

} // namespace

bool CanCheckSignatures() { return true; }

SignatureCheck CheckSignature(const TPositionalFile &file) {
    const TTrust &trust = Trust();
    if (!trust.error.empty())
        return {SignatureState::CannotCheck, "", "the signature cannot be checked: " + trust.error};
    if (file.Handle() == -1)
        return {SignatureState::CannotCheck, "", "the file is not open"};

    const std::wstring path = win32::Widen(file.Path());
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    // The held handle itself: the file shares no writing, and the check reads what is held.
    fileInfo.hFile = reinterpret_cast<HANDLE>(file.Handle());
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // Nothing from the network: no revocation lists, no certificates fetched for the chain (a
    // stub must never wait on a server that is not the download's).
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND noWindow = reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
    DWORD code = static_cast<DWORD>(trust.WinVerifyTrust(noWindow, &action, &data));

    // The signer, and its chain checked once more by the Authenticode policy: the
    // verification alone may pass a chain it did not check (wine does for SHA-256
    // certificates).
    std::string signer;
    CRYPT_PROVIDER_DATA *provider =
        data.hWVTStateData ? trust.WTHelperProvDataFromStateData(data.hWVTStateData) : nullptr;
    CRYPT_PROVIDER_SGNR *signing =
        provider ? trust.WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    PCCERT_CHAIN_CONTEXT chain = signing ? signing->pChainContext : nullptr;
    if (signing && signing->csCertChain > 0 && signing->pasCertChain)
        signer = CommonName(trust, signing->pasCertChain[0].pCert);
    else if (chain && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0)
        signer = CommonName(trust, chain->rgpChain[0]->rgpElement[0]->pCertContext);
    if (code == ERROR_SUCCESS) {
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!chain)
            code = static_cast<DWORD>(CERT_E_CHAINING); // a signature with no chain to check
        else if (!trust.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain,
                                                         &policy, &status))
            code = GetLastError() ? GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
        else
            code = status.dwError;
    }

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust.WinVerifyTrust(noWindow, &action, &data);
    return Verdict(code, signer);
}

} // namespace platform
