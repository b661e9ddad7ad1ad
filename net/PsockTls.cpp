// TPsockTls: OpenSSL on memory buffers, fed from and drained to the component's socket.
#include "net/PsockTls.h"

#include "net/Psock.h"
#include "net/SocketErrorTable.h"
#include "net/TlsLibrary.h"
#include "platform/SocketErrors.h"

#include <climits>

namespace net {
namespace {

// One socket read: room for a few full records, so bulk data needs few system calls.
constexpr size_t kPullChunk = 65536;
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

} // namespace

struct TPsockTls::Impl {
    explicit Impl(const TTlsLibrary &library) : tls(library) {}
    ~Impl() { tls.SSL_free(ssl); }
    const TTlsLibrary &tls;
    SSL *ssl = nullptr;
    BIO *in = nullptr;  // ciphertext from the server, owned by ssl
    BIO *out = nullptr; // ciphertext to the server, owned by ssl
};

namespace {
const TTlsLibrary &LoadedLibrary() {
    std::string error;
    const TTlsLibrary *tls = TlsLibrary(error);
    if (!tls)
        throw ESockError("TLS could not be set up: " + error);
    return *tls;
}
} // namespace

TPsockTls::TPsockTls(platform::AsyncSocket &socket, const std::string &host)
    : tls_(LoadedLibrary()), impl_(std::make_unique<Impl>(tls_)), socket_(socket) {
    tls_.ERR_clear_error();
    SSL_CTX *context = ClientContext(tls_);
    if (context)
        impl_->ssl = tls_.SSL_new(context);
    if (impl_->ssl) {
        impl_->in = tls_.BIO_new(tls_.BIO_s_mem());
        impl_->out = tls_.BIO_new(tls_.BIO_s_mem());
    }
    if (!impl_->in || !impl_->out) {
        tls_.BIO_free(impl_->in);
        tls_.BIO_free(impl_->out);
        throw ESockError("TLS could not be set up: " + LibraryError(tls_));
    }
    tls_.SSL_set_bio(impl_->ssl, impl_->in, impl_->out);
    tls_.SSL_set_connect_state(impl_->ssl);

    X509_VERIFY_PARAM *param = tls_.SSL_get0_param(impl_->ssl);
    // An address is checked against the certificate's IP entries and sent without SNI, which
    // carries names only; a name is checked against its DNS names and sent as SNI.
    bool named = tls_.X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1;
    if (named) {
        tls_.X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (tls_.SSL_set1_host(impl_->ssl, host.c_str()) != 1 ||
            tls_.SSL_ctrl(impl_->ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                          const_cast<char *>(host.c_str())) != 1)
            throw ESockError("TLS could not be set up for the host name " + host);
    }
    tls_.ERR_clear_error();
}

TPsockTls::~TPsockTls() = default;

void TPsockTls::ClosedWithError(int code) {
    closeError_ = code;
    // A reset reads as a plain end once the socket has reported it: the close names it.
    if (code != 0 && closedEarly_) {
        failure_ = SocketFailure(code);
        closedEarly_ = false;
    }
}

bool TPsockTls::Established() const {
    return tls_.SSL_is_init_finished(impl_->ssl) == 1;
}

void TPsockTls::Fail(const std::string &what) {
    if (failure_.empty())
        failure_ = what;
}

bool TPsockTls::Pull() {
    if (eof_)
        return false;
    char buffer[kPullChunk];
    long n = socket_.Receive(buffer, sizeof buffer);
    pullError_ = n < 0 ? platform::LastSocketError() : 0;
    if (n < 0)
        return false;
    if (n == 0) {
        // The server has closed: from here on an empty buffer reads as the end.
        eof_ = true;
        tls_.BIO_ctrl(impl_->in, BIO_C_SET_BUF_MEM_EOF_RETURN, 0, nullptr);
        return true;
    }
    tls_.BIO_write(impl_->in, buffer, static_cast<int>(n));
    return true;
}

void TPsockTls::Feed(const char *data, size_t len) {
    if (len > 0)
        tls_.BIO_write(impl_->in, data, static_cast<int>(len));
}

int TPsockTls::Flush() {
    char buffer[16384];
    for (int n; (n = tls_.BIO_read(impl_->out, buffer, sizeof buffer)) > 0;)
        pending_.append(buffer, static_cast<size_t>(n));
    while (!pending_.empty()) {
        long sent = socket_.Send(pending_.data(), pending_.size());
        if (sent < 0)
            return platform::LastSocketError() == platform::kErrWouldBlock ? 0 : -1;
        pending_.erase(0, static_cast<size_t>(sent));
    }
    return 1;
}

std::string TPsockTls::HandshakeFailure() {
    long verify = tls_.SSL_get_verify_result(impl_->ssl);
    if (verify != X509_V_OK)
        return std::string("Certificate verification failed: ") +
               tls_.X509_verify_cert_error_string(verify);
    std::string reason = LibraryError(tls_);
    if (eof_ && (reason.empty() || reason.find("eof") != std::string::npos)) {
        if (closeError_ != 0)
            return SocketFailure(closeError_);
        closedEarly_ = true; // a reset may still be told by the close notification
        reason = "the server closed the connection";
    }
    return "TLS handshake failed" + (reason.empty() ? "" : ": " + reason);
}

std::string TPsockTls::SocketFailure(int code) {
    const char *text = SocketErrorText(code);
    return std::string("TLS handshake failed: ") + (text ? text : "the connection broke");
}

TPsockTls::Step TPsockTls::Handshake() {
    if (!failure_.empty())
        return Step::Failed;
    // Take everything the socket holds; the last receive re-arms its read notification.
    for (int i = 0; i < 64 && Pull(); ++i) {
    }
    tls_.ERR_clear_error();
    int r = tls_.SSL_do_handshake(impl_->ssl);
    int e = r == 1 ? SSL_ERROR_NONE : tls_.SSL_get_error(impl_->ssl, r);
    // The client's last flight may still wait for the socket: it goes out before any data.
    int flushed = Flush();
    if (e == SSL_ERROR_NONE)
        return Step::Done;
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        if (eof_)
            Fail(HandshakeFailure());
        else if (flushed < 0)
            Fail(SocketFailure(platform::LastSocketError()));
        else if (pullError_ != 0 && pullError_ != platform::kErrWouldBlock)
            Fail(SocketFailure(pullError_));
        else
            return Step::Pending;
        return Step::Failed;
    }
    Fail(HandshakeFailure());
    return Step::Failed;
}

long TPsockTls::Receive(void *buffer, size_t len) {
    const int want = static_cast<int>(len > INT_MAX ? INT_MAX : len);
    for (;;) {
        tls_.ERR_clear_error();
        int r = tls_.SSL_read(impl_->ssl, buffer, want);
        if (r > 0) {
            Flush(); // what reading produced (a key update's answer) goes out
            return r;
        }
        int e = tls_.SSL_get_error(impl_->ssl, r);
        if (e == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (e == SSL_ERROR_WANT_READ) {
            Flush();
            if (eof_)
                return 0;
            if (Pull())
                continue;
            return -1; // the socket's code: would-block, or its failure
        }
        if (e == SSL_ERROR_WANT_WRITE) {
            Flush();
            platform::SetLastSocketError(platform::kErrWouldBlock);
            return -1;
        }
        std::string reason = LibraryError(tls_);
        Fail("TLS connection failed" + (reason.empty() ? "" : ": " + reason));
        platform::SetLastSocketError(platform::kErrConnAborted);
        return -1;
    }
}

long TPsockTls::Send(const void *data, size_t len) {
    int flushed = Flush();
    if (flushed < 0)
        return -1;
    if (flushed == 0) {
        platform::SetLastSocketError(platform::kErrWouldBlock);
        return -1;
    }
    if (len == 0)
        return 0;
    tls_.ERR_clear_error();
    int r = tls_.SSL_write(impl_->ssl, data, static_cast<int>(len > INT_MAX ? INT_MAX : len));
    if (r <= 0) {
        std::string reason = LibraryError(tls_);
        Fail("TLS connection failed" + (reason.empty() ? "" : ": " + reason));
        platform::SetLastSocketError(platform::kErrConnAborted);
        return -1;
    }
    // The memory buffer took it all; what the socket cannot take now follows at the next
    // write notification.
    Flush();
    return r;
}

bool TPsockTls::Buffered() const {
    if (tls_.SSL_pending(impl_->ssl) > 0)
        return true;
    // After a read the session stands at a record boundary: a whole record in the buffer
    // can be read without the socket.
    char *data = nullptr;
    long size = tls_.BIO_ctrl(impl_->in, BIO_CTRL_INFO, 0, &data);
    if (size < static_cast<long>(kRecordHeader) || !data)
        return false;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    size_t record = kRecordHeader + (static_cast<size_t>(bytes[3]) << 8 | bytes[4]);
    return static_cast<size_t>(size) >= record;
}

void TPsockTls::Shutdown() {
    if (!Established() || !failure_.empty())
        return;
    tls_.ERR_clear_error();
    tls_.SSL_shutdown(impl_->ssl);
    Flush();
    tls_.ERR_clear_error();
}

} // namespace net
