// The proxy handshake of Windows: SSPI's Negotiate or NTLM package, with the credentials of
// the user who is logged on (no name or password is asked or kept by this program).
#include "net/ProxyHandshake.h"
#include "net/TlsSchannelLibrary.h"
#include "platform/win32/Text.h"

namespace net {
namespace {

class SspiHandshake final : public ProxyHandshake {
  public:
    SspiHandshake(const TSchannelLibrary &sspi, CredHandle credentials, std::wstring target)
        : sspi_(sspi), credentials_(credentials), target_(std::move(target)) {}
    ~SspiHandshake() override {
        if (haveContext_)
            sspi_.DeleteSecurityContext(&context_);
        sspi_.FreeCredentialsHandle(&credentials_);
    }
    SspiHandshake(const SspiHandshake &) = delete;
    SspiHandshake &operator=(const SspiHandshake &) = delete;

    bool Next(const std::string &proxyToken, std::string &clientToken) override {
        std::string in = proxyToken; // SSPI takes the input buffer as writable
        SecBuffer inBuffer{static_cast<unsigned long>(in.size()), SECBUFFER_TOKEN, in.data()};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &inBuffer};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        unsigned long attributes = 0;
        TimeStamp expiry{};
        const SECURITY_STATUS status = sspi_.InitializeSecurityContextW(
            &credentials_, haveContext_ ? &context_ : nullptr, target_.data(),
            ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION, 0, SECURITY_NATIVE_DREP,
            haveContext_ ? &inDesc : nullptr, 0, &context_, &outDesc, &attributes, &expiry);
        const bool complete = status == SEC_I_COMPLETE_NEEDED ||
                              status == SEC_I_COMPLETE_AND_CONTINUE;
        const bool ok = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || complete;
        if (ok)
            haveContext_ = true;
        if (ok && complete && sspi_.CompleteAuthToken(&context_, &outDesc) != SEC_E_OK) {
            if (outBuffer.pvBuffer)
                sspi_.FreeContextBuffer(outBuffer.pvBuffer);
            return false;
        }
        if (outBuffer.pvBuffer) {
            clientToken.assign(static_cast<const char *>(outBuffer.pvBuffer), outBuffer.cbBuffer);
            sspi_.FreeContextBuffer(outBuffer.pvBuffer);
        }
        return ok;
    }

  private:
    const TSchannelLibrary &sspi_;
    CredHandle credentials_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    std::wstring target_;
};

} // namespace

std::unique_ptr<ProxyHandshake> StartSystemHandshake(const std::string &scheme,
                                                     const std::string &proxyHost) {
    std::string error;
    const TSchannelLibrary *sspi = SchannelLibrary(error);
    if (!sspi)
        return nullptr;
    CredHandle credentials{};
    TimeStamp expiry{};
    std::wstring package = platform::win32::Widen(scheme);
    // No identity: the package takes the logged-on user's own.
    if (sspi->AcquireCredentialsHandleW(nullptr, package.data(), SECPKG_CRED_OUTBOUND, nullptr,
                                        nullptr, nullptr, nullptr, &credentials,
                                        &expiry) != SEC_E_OK)
        return nullptr;
    return std::make_unique<SspiHandshake>(*sspi, credentials,
                                           platform::win32::Widen("HTTP/" + proxyHost));
}

} // namespace net
