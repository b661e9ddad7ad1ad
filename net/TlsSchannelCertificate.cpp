// The server certificate check of the Schannel engine. The engine asks Schannel for no
// validation of its own (Wine's accepts expired, untrusted and wrong-name certificates alike),
// so everything is checked here, after the handshake, before any data moves.
#include "net/TlsSchannelCertificate.h"

#include "net/TlsSchannelLibrary.h"
#include "platform/IpAddress.h"
#include "platform/win32/Text.h"

#include <schannel.h>
#include <wincrypt.h>

#include <cstring>
#include <memory>

namespace net {
namespace {

// The fdwChecks bits of SSL_EXTRA_CERT_CHAIN_POLICY_PARA (wininet.h's SECURITY_FLAG_IGNORE_*).
// Trust, time and revocation are read from the chain's own status instead, because Wine's SSL
// policy passes a chain that ends in an unknown root.
constexpr DWORD kIgnoreRevocation = 0x00000080;
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreCommonName = 0x00001000;
constexpr DWORD kIgnoreDate = 0x00002000;

// Revocation is not checked (as with OpenSSL's defaults); these bits only say so.
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

struct CertificateFree {
    void operator()(PCCERT_CONTEXT c) const { Schannel().CertFreeCertificateContext(c); }
};
struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT c) const { Schannel().CertFreeCertificateChain(c); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

// Whether the certificate's subject alternative names hold `address` as an IP entry (as
// OpenSSL checks an address: the IP entries only, never the common name).
bool NamesAddress(PCCERT_CONTEXT certificate, const platform::IpAddress &address) {
    const DWORD length = address.family == platform::IpAddress::Family::V4 ? 4 : 16;
    const CERT_INFO *info = certificate->pCertInfo;
    PCERT_EXTENSION extension =
        Schannel().CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (!extension)
        return false;
    CERT_ALT_NAME_INFO *names = nullptr;
    DWORD size = 0;
    if (!Schannel().CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_ALTERNATE_NAME,
                             extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY &entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == length &&
                std::memcmp(entry.IPAddress.pbData, address.bytes.data(), length) == 0;
    }
    LocalFree(names);
    return found;
}

// The chain does not reach a trusted root: OpenSSL's texts tell a self-signed certificate,
// a chain the server sent up to an unknown self-signed root, and a missing issuer apart.
std::string UntrustedText(PCCERT_CHAIN_CONTEXT chain, DWORD status) {
    const CERT_SIMPLE_CHAIN *simple = chain->cChain ? chain->rgpChain[chain->cChain - 1] : nullptr;
    if (simple && simple->cElement > 0 && (status & CERT_TRUST_IS_UNTRUSTED_ROOT)) {
        const CERT_CHAIN_ELEMENT *root = simple->rgpElement[simple->cElement - 1];
        if (root->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED)
            return chain->cChain == 1 && simple->cElement == 1
                       ? "self-signed certificate"
                       : "self-signed certificate in certificate chain";
    }
    return "unable to get local issuer certificate";
}

// A certificate of the chain outside its validity period: which way.
std::string TimeText(PCCERT_CHAIN_CONTEXT chain) {
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[c];
        for (DWORD e = 0; e < simple->cElement; ++e) {
            const CERT_CHAIN_ELEMENT *element = simple->rgpElement[e];
            if (Schannel().CertVerifyTimeValidity(nullptr, element->pCertContext->pCertInfo) < 0)
                return "certificate is not yet valid";
        }
    }
    return "certificate has expired";
}

// The chain's remaining faults, the most telling first.
std::string ChainText(PCCERT_CHAIN_CONTEXT chain, DWORD status) {
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return UntrustedText(chain, status);
    if (status & (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_CTL_IS_NOT_TIME_VALID))
        return TimeText(chain);
    if (status & CERT_TRUST_IS_REVOKED)
        return "certificate revoked";
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return "certificate signature failure";
    if (status & (CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE))
        return "unsupported certificate purpose";
    return "certificate chain not trusted";
}

// The SSL policy's error other than trust, time and revocation, which ChainText tells.
std::string PolicyText(DWORD error, bool address) {
    switch (static_cast<HRESULT>(error)) {
    case CERT_E_CN_NO_MATCH: return address ? "IP address mismatch" : "hostname mismatch";
    case CERT_E_WRONG_USAGE:
    case CERT_E_PURPOSE: return "unsupported certificate purpose";
    case TRUST_E_CERT_SIGNATURE: return "certificate signature failure";
    case CERT_E_EXPIRED: return "certificate has expired";
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING: return "unable to get local issuer certificate";
    default: return "certificate rejected by the system's policy";
    }
}

} // namespace

std::string CertificateProblem(CtxtHandle &context, const std::string &host) {
    PCCERT_CONTEXT remote = nullptr;
    if (Schannel().QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
            SEC_E_OK ||
        !remote)
        return "peer did not return a certificate";
    Certificate certificate(remote);

    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    // The server's other certificates (intermediates) are in the certificate's own store.
    // Windows may fetch a root it trusts but has not stored yet (its root update) or an issuer
    // a certificate names the address of: the system's own rules for its trust store.
    if (!Schannel().CertGetCertificateChain(nullptr, remote, nullptr, remote->hCertStore, &para, 0, nullptr,
                                 &built) ||
        !built)
        return "unable to get local issuer certificate";
    Chain chain(built);
    const DWORD status = chain->TrustStatus.dwErrorStatus & ~kRevocationUnknown;

    // OpenSSL's order: the issuer first, then the name, then the rest of the chain.
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return UntrustedText(chain.get(), status);

    platform::IpAddress address;
    const bool isAddress = platform::ParseIpAddress(host, address);
    if (isAddress && !NamesAddress(remote, address))
        return "IP address mismatch";

    std::wstring name = platform::win32::Widen(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = kIgnoreRevocation | kIgnoreUnknownCa | kIgnoreDate;
    // An address was matched above: the policy's own match would look at names only.
    if (isAddress)
        ssl.fdwChecks |= kIgnoreCommonName;
    else
        ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict{};
    verdict.cbSize = sizeof verdict;
    if (!Schannel().CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &verdict))
        return "certificate rejected by the system's policy";
    if (verdict.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
        return PolicyText(verdict.dwError, isAddress);
    if (status != 0)
        return ChainText(chain.get(), status);
    if (verdict.dwError != 0)
        return PolicyText(verdict.dwError, isAddress);
    return {};
}

} // namespace net
