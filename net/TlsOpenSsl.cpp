// The TLS engine on OpenSSL: an SSL session between two memory BIOs, the library loaded at run
// time (TlsLibrary.h).
#include "net/TlsEngine.h"
#include "net/TlsLibrary.h"

#include <climits>

namespace net {
namespace {

// A TLS record: type, version, 16-bit length, then that many bytes.
constexpr size_t kRecordHeader = 5;

struct ContextDeleter {
    decltype(&::SSL_CTX_free) free;
    void operator()(SSL_CTX *c) const { free(c); }
};

// The text of the TLS library's latest error, "" when it gave none.
std::string LibraryError(const TTlsLibrary &tls) {
    unsigned long code = tls.ERR_peek_last_error();
    if (code == 0)
        return {};
    if (const char *reason = tls.ERR_reason_error_string(code))
        return reason;
    char text[256];
    tls.ERR_error_string_n(code, text, sizeof text);
    return text;
}

// The client context all sessions share: loading the trust store takes about 20 ms, too much
// for every attempt of every worker. It is not changed after it has been made, and OpenSSL
// lets threads create sessions from one context at the same time.
SSL_CTX *ClientContext(const TTlsLibrary &tls) {
    static const std::unique_ptr<SSL_CTX, ContextDeleter> context = [&tls] {
        std::unique_ptr<SSL_CTX, ContextDeleter> c(tls.SSL_CTX_new(tls.TLS_client_method()),
                                                   ContextDeleter{tls.SSL_CTX_free});
        if (!c)
            return c;
        tls.SSL_CTX_ctrl(c.get(), SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
        tls.SSL_CTX_set_verify(c.get(), SSL_VERIFY_PEER, nullptr);
        // A missing trust store is not an error here: every verification then fails, with
        // a text that says so.
        tls.SSL_CTX_set_default_verify_paths(c.get());
        // Many servers end an HTTP/1.0 answer by closing without a close_notify. A body that
        // was cut short is caught where its length is checked, as with plain HTTP.
        tls.SSL_CTX_set_options(c.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
        tls.ERR_clear_error();
        return c;
    }();
    return context.get();
}

class TOpenSslEngine final : public TTlsEngine {
  public:
    explicit TOpenSslEngine(const TTlsLibrary &tls) : tls_(tls) {}
    ~TOpenSslEngine() override { tls_.SSL_free(ssl_); }

    // Sets the session up for `host`; false with the user's text in `error`.
    bool Start(const std::string &host, std::string &error);

    void Input(const char *data, size_t len) override;
    void EndOfInput() override;
    void TakeOutput(std::string &out) override;
    Result Handshake() override;
    bool Established() const override { return tls_.SSL_is_init_finished(ssl_) == 1; }
    Result Read(void *buffer, size_t len, size_t &count) override;
    Result Write(const void *data, size_t len) override;
    bool Buffered() const override;
    void Close() override;
    const std::string &Reason() const override { return reason_; }

  private:
    // Failed with the library's latest reason.
    Result LibraryFailure();
    // How a handshake that cannot go on ended: the certificate, the input's end, the library.
    Result HandshakeFailure();

    const TTlsLibrary &tls_;
    SSL *ssl_ = nullptr;
    BIO *in_ = nullptr;  // ciphertext from the server, owned by ssl_
    BIO *out_ = nullptr; // ciphertext to the server, owned by ssl_
    bool ended_ = false;
    std::string reason_;
};

bool TOpenSslEngine::Start(const std::string &host, std::string &error) {
    tls_.ERR_clear_error();
    SSL_CTX *context = ClientContext(tls_);
    if (context)
        ssl_ = tls_.SSL_new(context);
    if (ssl_) {
        in_ = tls_.BIO_new(tls_.BIO_s_mem());
        out_ = tls_.BIO_new(tls_.BIO_s_mem());
    }
    if (!in_ || !out_) {
        tls_.BIO_free(in_);
        tls_.BIO_free(out_);
        in_ = out_ = nullptr;
        error = TlsSetupFailure(LibraryError(tls_));
        return false;
    }
    tls_.SSL_set_bio(ssl_, in_, out_);
    tls_.SSL_set_connect_state(ssl_);

    X509_VERIFY_PARAM *param = tls_.SSL_get0_param(ssl_);
    // An address is checked against the certificate's IP entries and sent without SNI, which
    // carries names only; a name is checked against its DNS names and sent as SNI.
    bool named = tls_.X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1;
    if (named) {
        tls_.X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (tls_.SSL_set1_host(ssl_, host.c_str()) != 1 ||
            tls_.SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                          const_cast<char *>(host.c_str())) != 1) {
            // TRANSLATORS: %1 is the server's host name.
            error = platform::Fill(platform::Tr("TLS could not be set up for the host name %1"),
                                   {host});
            return false;
        }
    }
    tls_.ERR_clear_error();
    return true;
}

void TOpenSslEngine::Input(const char *data, size_t len) {
    while (len > 0) {
        const int part = static_cast<int>(len > INT_MAX ? INT_MAX : len);
        tls_.BIO_write(in_, data, part);
        data += part;
        len -= static_cast<size_t>(part);
    }
}

void TOpenSslEngine::EndOfInput() {
    // From here on an empty input buffer reads as the end, not as "try again".
    ended_ = true;
    tls_.BIO_ctrl(in_, BIO_C_SET_BUF_MEM_EOF_RETURN, 0, nullptr);
}

void TOpenSslEngine::TakeOutput(std::string &out) {
    char buffer[16384];
    for (int n; (n = tls_.BIO_read(out_, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
}

TTlsEngine::Result TOpenSslEngine::LibraryFailure() {
    reason_ = LibraryError(tls_);
    return Result::Failed;
}

TTlsEngine::Result TOpenSslEngine::HandshakeFailure() {
    long verify = tls_.SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
        reason_ = tls_.X509_verify_cert_error_string(verify);
        return Result::Rejected;
    }
    // The input ended inside the handshake: the library then has no error of its own, or its
    // "unexpected EOF" one.
    const unsigned long code = tls_.ERR_peek_last_error();
    reason_ = LibraryError(tls_);
    const bool endOfInput =
        code == 0 || (ERR_GET_LIB(code) == ERR_LIB_SSL &&
                      ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
    return ended_ && endOfInput ? Result::Closed : Result::Failed;
}

TTlsEngine::Result TOpenSslEngine::Handshake() {
    tls_.ERR_clear_error();
    int r = tls_.SSL_do_handshake(ssl_);
    int e = r == 1 ? SSL_ERROR_NONE : tls_.SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_NONE)
        return Result::Done;
    // A memory BIO takes every write, so wanting to write means only that output waits.
    if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && !ended_)
        return Result::WantInput;
    return HandshakeFailure();
}

TTlsEngine::Result TOpenSslEngine::Read(void *buffer, size_t len, size_t &count) {
    count = 0;
    tls_.ERR_clear_error();
    int r = tls_.SSL_read(ssl_, buffer, static_cast<int>(len > INT_MAX ? INT_MAX : len));
    if (r > 0) {
        count = static_cast<size_t>(r);
        return Result::Done;
    }
    int e = tls_.SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_ZERO_RETURN)
        return Result::Closed;
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
        return Result::WantInput;
    return LibraryFailure();
}

TTlsEngine::Result TOpenSslEngine::Write(const void *data, size_t len) {
    const auto *bytes = static_cast<const char *>(data);
    while (len > 0) {
        tls_.ERR_clear_error();
        int part = static_cast<int>(len > INT_MAX ? INT_MAX : len);
        // Without partial writes SSL_write takes all of `part` into the memory BIO.
        int r = tls_.SSL_write(ssl_, bytes, part);
        if (r <= 0)
            return LibraryFailure();
        bytes += r;
        len -= static_cast<size_t>(r);
    }
    return Result::Done;
}

bool TOpenSslEngine::Buffered() const {
    if (tls_.SSL_pending(ssl_) > 0)
        return true;
    // After a read the session stands at a record boundary: a whole record in the buffer
    // can be read without the socket.
    char *data = nullptr;
    long size = tls_.BIO_ctrl(in_, BIO_CTRL_INFO, 0, &data);
    if (size < static_cast<long>(kRecordHeader) || !data)
        return false;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    size_t record = kRecordHeader + (static_cast<size_t>(bytes[3]) << 8 | bytes[4]);
    return static_cast<size_t>(size) >= record;
}

void TOpenSslEngine::Close() {
    tls_.ERR_clear_error();
    tls_.SSL_shutdown(ssl_);
    tls_.ERR_clear_error();
}

} // namespace

std::unique_ptr<TTlsEngine> CreateTlsEngine(const std::string &host, std::string &error) {
    std::string why;
    const TTlsLibrary *tls = TlsLibrary(why);
    if (!tls) {
        error = TlsSetupFailure(why);
        return nullptr;
    }
    auto engine = std::make_unique<TOpenSslEngine>(*tls);
    if (!engine->Start(host, error))
        return nullptr;
    return engine;
}

} // namespace net
