// The TLS engine on Schannel (SSPI): a client security context that takes the server's
// ciphertext from memory and leaves its own in memory. The certificate is checked by hand after
// the handshake (TlsSchannelCertificate.h).
#include "net/TlsEngine.h"
#include "net/TlsSchannelCertificate.h"
#include "net/TlsSchannelCredentials.h"
#include "net/TlsSchannelLibrary.h"
#include "platform/IpAddress.h"
#include "platform/win32/Text.h"

#include <schannel.h>

#include <algorithm>
#include <cstring>

namespace net {
namespace {

// A TLS record: type, version, 16-bit length, then that many bytes.
constexpr size_t kRecordHeader = 5;
constexpr unsigned char kAlertRecord = 21;

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

// Handshake steps one call may take: each consumes a message or stops; the bound only keeps a
// library that does neither from spinning.
constexpr int kMaxSteps = 32;

// Whether `bytes` may begin a TLS record: a content type of TLS (change_cipher_spec, alert,
// handshake, application_data) and major version 3, as far as they have arrived.
bool LooksLikeRecord(const std::string &bytes) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    return (bytes.size() < 1 || (b[0] >= 20 && b[0] <= 23)) && (bytes.size() < 2 || b[1] == 3);
}

// The buffer of `type` among `buffers`, or nullptr.
SecBuffer *Find(SecBuffer *buffers, size_t count, unsigned long type) {
    for (size_t i = 0; i < count; ++i)
        if (buffers[i].BufferType == type)
            return &buffers[i];
    return nullptr;
}

class TSchannelEngine final : public TTlsEngine {
  public:
    TSchannelEngine(CredHandle credentials, const std::string &host)
        : credentials_(credentials), host_(host) {
        platform::IpAddress address;
        // An address goes out without SNI, which carries names only.
        if (!platform::ParseIpAddress(host, address))
            target_ = platform::win32::Widen(host);
    }
    ~TSchannelEngine() override {
        if (haveContext_)
            Schannel().DeleteSecurityContext(&context_);
    }

    void Input(const char *data, size_t len) override { in_.append(data, len); }
    void EndOfInput() override { ended_ = true; }
    void TakeOutput(std::string &out) override {
        out += out_;
        out_.clear();
    }
    Result Handshake() override;
    bool Established() const override { return established_; }
    Result Read(void *buffer, size_t len, size_t &count) override;
    Result Write(const void *data, size_t len) override;
    bool Buffered() const override;
    void Close() override;
    const std::string &Reason() const override { return reason_; }

  private:
    // Runs InitializeSecurityContext over the input until it completes (Done) or needs more.
    Result Negotiate();
    // Moves a handshake that a record of the server started on: Done when data can flow.
    Result Renegotiate();
    // Done after the first handshake or a renegotiation, with the certificate checked.
    Result Complete();
    // Decrypts the first record of the input: Done when one was consumed.
    Result DecryptRecord();
    Result Fail(SECURITY_STATUS status);
    // Appends a token Schannel allocated to the output, and frees it.
    void Emit(SecBuffer &token);

    CredHandle credentials_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    const std::string host_;
    std::wstring target_; // the SNI name; empty for an address
    std::string in_;      // ciphertext received and not yet consumed
    std::string out_;    // ciphertext for the server
    std::string plain_;  // decrypted, not yet read
    SecPkgContext_StreamSizes sizes_{};
    bool ended_ = false;
    bool established_ = false;
    bool renegotiating_ = false;
    bool stepOnce_ = false; // a renegotiation calls Schannel once even with no input
    bool closed_ = false;   // the server's close notice came
    bool broken_ = false;
    Result brokenAs_ = Result::Failed;
    std::string reason_;
};

void TSchannelEngine::Emit(SecBuffer &token) {
    if (token.pvBuffer && token.cbBuffer > 0)
        out_.append(static_cast<const char *>(token.pvBuffer), token.cbBuffer);
    if (token.pvBuffer)
        Schannel().FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
}

TTlsEngine::Result TSchannelEngine::Fail(SECURITY_STATUS status) {
    reason_ = SchannelStatusText(status);
    broken_ = true;
    brokenAs_ = Result::Failed;
    return Result::Failed;
}

TTlsEngine::Result TSchannelEngine::Negotiate() {
    wchar_t *target = target_.empty() ? nullptr : target_.data();
    for (int step = 0; step < kMaxSteps; ++step) {
        if (haveContext_ && in_.empty() && !stepOnce_)
            return ended_ ? Result::Closed : Result::WantInput;
        if (!LooksLikeRecord(in_)) {
            // A server that does not speak TLS (plain HTTP) answers with text; Schannel would
            // wait for the rest of a "record" as long as the text claims.
            reason_ = "wrong version number";
            broken_ = true;
            return Result::Failed;
        }
        stepOnce_ = false;
        SecBuffer input[2] = {
            {static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.data()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, output};
        ULONG attributes = 0;
        const bool gaveInput = haveContext_;
        SECURITY_STATUS status = Schannel().InitializeSecurityContextW(
            &credentials_, haveContext_ ? &context_ : nullptr, target, kContextFlags, 0, 0,
            haveContext_ ? &inputDesc : nullptr, 0, haveContext_ ? nullptr : &context_, &outputDesc,
            &attributes, nullptr);
        Emit(output[0]);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return ended_ ? Result::Closed : Result::WantInput;
        if (status == SEC_I_INCOMPLETE_CREDENTIALS)
            continue; // the server asked for a client certificate: go on without one
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return Fail(status);
        haveContext_ = true;
        // Bytes after the message Schannel took (the next message, or application data after
        // the last one) stay for the next step.
        if (gaveInput) {
            const SecBuffer &extra = input[1];
            size_t keep = extra.BufferType == SECBUFFER_EXTRA ? extra.cbBuffer : 0;
            in_.erase(0, in_.size() - std::min(keep, in_.size()));
        }
        if (status == SEC_E_OK)
            return Result::Done;
    }
    reason_ = "the handshake did not progress";
    broken_ = true;
    return Result::Failed;
}

TTlsEngine::Result TSchannelEngine::Complete() {
    std::string problem = CertificateProblem(context_, host_);
    if (!problem.empty()) {
        reason_ = problem;
        broken_ = true;
        brokenAs_ = Result::Rejected;
        established_ = false;
        return Result::Rejected;
    }
    SECURITY_STATUS status =
        Schannel().QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status == SEC_E_OK && sizes_.cbMaximumMessage == 0)
        status = SEC_E_INTERNAL_ERROR; // Write could not move a byte
    if (status != SEC_E_OK)
        return Fail(status);
    established_ = true;
    return Result::Done;
}

TTlsEngine::Result TSchannelEngine::Handshake() {
    if (broken_)
        return brokenAs_;
    if (established_)
        return Result::Done;
    Result r = Negotiate();
    return r == Result::Done ? Complete() : r;
}

TTlsEngine::Result TSchannelEngine::DecryptRecord() {
    const bool alert = static_cast<unsigned char>(in_[0]) == kAlertRecord;
    SecBuffer buffers[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, in_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = Schannel().DecryptMessage(&context_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return ended_ ? Result::Closed : Result::WantInput;
    if (status == SEC_I_CONTEXT_EXPIRED) {
        closed_ = true;
        return Result::Closed;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
        return Fail(status);
    // The plaintext was decrypted in place, inside in_: copy it before in_ moves.
    const SecBuffer *data = Find(buffers, 4, SECBUFFER_DATA);
    if (data && data->cbBuffer > 0)
        plain_.append(static_cast<const char *>(data->pvBuffer), data->cbBuffer);
    const SecBuffer *extra = Find(buffers, 4, SECBUFFER_EXTRA);
    size_t keep = extra ? std::min<size_t>(extra->cbBuffer, in_.size()) : 0;
    in_.erase(0, in_.size() - keep);
    if (status == SEC_I_RENEGOTIATE) {
        // A handshake message (a new session ticket, a renegotiation): Schannel takes it.
        renegotiating_ = true;
        stepOnce_ = true;
    } else if (alert && (!data || data->cbBuffer == 0)) {
        // Wine reports the server's close notice so, not as SEC_I_CONTEXT_EXPIRED. Any other
        // alert that decrypts (a warning) ends the session as well: TLS 1.2 servers send no
        // warning but before closing.
        closed_ = true;
    }
    return Result::Done;
}

TTlsEngine::Result TSchannelEngine::Renegotiate() {
    // A server's request for a new handshake (HelloRequest) leaves nothing for Schannel to
    // take. Wine's Schannel cannot start a handshake from nothing and asks for input instead;
    // TLS lets a client ignore the request, and the session goes on as it was.
    const bool request = stepOnce_ && in_.empty();
    const size_t before = out_.size();
    Result r = Negotiate();
    if (r == Result::WantInput && request && out_.size() == before) {
        stepOnce_ = false;
        renegotiating_ = false;
        return Result::Done;
    }
    if (r != Result::Done)
        return r;
    renegotiating_ = false;
    // The server may have presented a new certificate.
    return Complete() == Result::Done ? Result::Done : Result::Failed;
}

TTlsEngine::Result TSchannelEngine::Read(void *buffer, size_t len, size_t &count) {
    count = 0;
    if (broken_)
        return brokenAs_ == Result::Rejected ? Result::Failed : brokenAs_;
    // Each pass consumes a record or a handshake message, or returns.
    while (plain_.empty()) {
        if (renegotiating_) {
            Result r = Renegotiate();
            if (r != Result::Done)
                return r;
            continue;
        }
        if (closed_)
            return Result::Closed;
        if (in_.empty())
            return ended_ ? Result::Closed : Result::WantInput;
        Result r = DecryptRecord();
        if (r != Result::Done)
            return r;
    }
    count = std::min(len, plain_.size());
    std::memcpy(buffer, plain_.data(), count);
    plain_.erase(0, count);
    return Result::Done;
}

TTlsEngine::Result TSchannelEngine::Write(const void *data, size_t len) {
    if (!established_ || broken_) {
        if (reason_.empty())
            reason_ = "the handshake has not finished";
        return Result::Failed;
    }
    const auto *bytes = static_cast<const char *>(data);
    std::string record;
    while (len > 0) {
        const size_t part = std::min<size_t>(len, sizes_.cbMaximumMessage);
        record.assign(sizes_.cbHeader + part + sizes_.cbTrailer, '\0');
        char *at = record.data();
        std::memcpy(at + sizes_.cbHeader, bytes, part);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, at},
            {static_cast<unsigned long>(part), SECBUFFER_DATA, at + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, at + sizes_.cbHeader + part},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = Schannel().EncryptMessage(&context_, 0, &desc, 0);
        if (status != SEC_E_OK)
            return Fail(status);
        // The sizes it returns, which may be smaller than those it announced.
        for (int i = 0; i < 3; ++i)
            out_.append(static_cast<const char *>(buffers[i].pvBuffer), buffers[i].cbBuffer);
        bytes += part;
        len -= part;
    }
    return Result::Done;
}

bool TSchannelEngine::Buffered() const {
    if (!plain_.empty())
        return true;
    if (in_.size() < kRecordHeader)
        return false;
    const auto *header = reinterpret_cast<const unsigned char *>(in_.data());
    size_t record = kRecordHeader + (static_cast<size_t>(header[3]) << 8 | header[4]);
    return in_.size() >= record;
}

void TSchannelEngine::Close() {
    if (!established_ || broken_)
        return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (Schannel().ApplyControlToken(&context_, &controlDesc) != SEC_E_OK)
        return;
    // The next step of the context produces the close_notify.
    SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outputDesc{SECBUFFER_VERSION, 1, &output};
    ULONG attributes = 0;
    Schannel().InitializeSecurityContextW(
        &credentials_, &context_, target_.empty() ? nullptr : target_.data(), kContextFlags, 0, 0,
        nullptr, 0, nullptr, &outputDesc, &attributes, nullptr);
    Emit(output);
}

} // namespace

std::unique_ptr<TTlsEngine> CreateTlsEngine(const std::string &host, std::string &error) {
    std::string why;
    if (!SchannelLibrary(why)) {
        error = TlsSetupFailure(why);
        return nullptr;
    }
    SECURITY_STATUS status = SEC_E_OK;
    const CredHandle *credentials = SchannelCredentials(status);
    if (!credentials) {
        error = TlsSetupFailure(SchannelStatusText(status));
        return nullptr;
    }
    return std::make_unique<TSchannelEngine>(*credentials, host);
}

} // namespace net
