// TlsLayer: a TLS engine on memory, fed from and drained to the layer below.
#include "net/TlsLayer.h"
#include "platform/Catalogue.h"

#include "net/SocketErrorTable.h"
#include "net/TlsEngine.h"
#include "platform/SocketErrors.h"

#include <climits>
#include <utility>

namespace net {
namespace {

// One socket read: room for a few full records, so bulk data needs few system calls.
constexpr size_t kPullChunk = 65536;

// The failure's text with the TLS library's reason, or without one when it gave none.
std::string WithReason(const char *bare, const char *withReason, const std::string &reason) {
    return reason.empty() ? platform::Tr(bare) : platform::Fill(platform::Tr(withReason), {reason});
}

} // namespace

TlsLayer::TlsLayer(std::unique_ptr<TTlsEngine> engine, std::unique_ptr<ByteLayer> below)
    : engine_(std::move(engine)), below_(std::move(below)) {}

TlsLayer::~TlsLayer() = default;

void TlsLayer::ClosedWithError(int code) {
    closeError_ = code;
    // A reset reads as a plain end once the socket has reported it: the close names it.
    if (code != 0 && closedEarly_) {
        failure_ = SocketFailure(code);
        closedEarly_ = false;
    }
}

void TlsLayer::Fail(const std::string &what) {
    if (failure_.empty())
        failure_ = what;
}

bool TlsLayer::Pull() {
    if (eof_)
        return false;
    char buffer[kPullChunk];
    long n = below_->Receive(buffer, sizeof buffer);
    pullError_ = n < 0 ? platform::LastSocketError() : 0;
    if (n < 0)
        return false;
    if (n == 0) {
        // The server has closed: from here on an empty input reads as the end.
        eof_ = true;
        engine_->EndOfInput();
        return true;
    }
    engine_->Input(buffer, static_cast<size_t>(n));
    return true;
}

void TlsLayer::Feed(const char *data, size_t len) {
    if (len > 0)
        engine_->Input(data, len);
}

int TlsLayer::Flush() {
    engine_->TakeOutput(pending_);
    while (!pending_.empty()) {
        long sent = below_->Send(pending_.data(), pending_.size());
        if (sent < 0)
            return platform::LastSocketError() == platform::kErrWouldBlock ? 0 : -1;
        pending_.erase(0, static_cast<size_t>(sent));
    }
    return 1;
}

std::string TlsLayer::ClosedFailure() {
    if (closeError_ != 0)
        return SocketFailure(closeError_);
    closedEarly_ = true; // a reset may still be told by the close notification
    return platform::Tr("TLS handshake failed: the server closed the connection");
}

std::string TlsLayer::SocketFailure(int code) {
    const char *text = SocketErrorText(code);
    return text ? platform::Fill(platform::Tr("TLS handshake failed: %1"), {text})
                : platform::Tr("TLS handshake failed: the connection broke");
}

TlsLayer::Step TlsLayer::Open() {
    if (!failure_.empty())
        return Step::Failed;
    // Take everything the socket holds; the last receive re-arms its read notification.
    for (int i = 0; i < 64 && Pull(); ++i) {
    }
    TTlsEngine::Result r = engine_->Handshake();
    // The client's last flight may still wait for the socket: it goes out before any data.
    int flushed = Flush();
    switch (r) {
    case TTlsEngine::Result::Done:
        open_ = true;
        return Step::Done;
    case TTlsEngine::Result::Rejected:
        Fail(platform::Fill(platform::Tr("Certificate verification failed: %1"), {engine_->Reason()}));
        return Step::Failed;
    case TTlsEngine::Result::Closed:
        Fail(ClosedFailure());
        return Step::Failed;
    case TTlsEngine::Result::WantInput:
        if (flushed < 0)
            Fail(SocketFailure(platform::LastSocketError()));
        else if (pullError_ != 0 && pullError_ != platform::kErrWouldBlock)
            Fail(SocketFailure(pullError_));
        else
            return Step::Pending;
        return Step::Failed;
    case TTlsEngine::Result::Failed:
        break;
    }
    Fail(WithReason(platform::TrKey("TLS handshake failed"),
                    platform::TrKey("TLS handshake failed: %1"), engine_->Reason()));
    return Step::Failed;
}

long TlsLayer::Receive(void *buffer, size_t len) {
    if (!open_) {
        platform::SetLastSocketError(platform::kErrWouldBlock);
        return -1;
    }
    const size_t want = len > INT_MAX ? INT_MAX : len;
    for (;;) {
        size_t count = 0;
        switch (engine_->Read(buffer, want, count)) {
        case TTlsEngine::Result::Done:
            Flush(); // what reading produced (a key update's answer) goes out
            return static_cast<long>(count);
        case TTlsEngine::Result::Closed:
            return 0;
        case TTlsEngine::Result::WantInput:
            Flush();
            if (eof_)
                return 0;
            if (Pull())
                continue;
            return -1; // the socket's code: would-block, or its failure
        case TTlsEngine::Result::Failed:
        case TTlsEngine::Result::Rejected:
            break;
        }
        Fail(WithReason(platform::TrKey("TLS connection failed"),
                        platform::TrKey("TLS connection failed: %1"), engine_->Reason()));
        platform::SetLastSocketError(platform::kErrConnAborted);
        return -1;
    }
}

long TlsLayer::Send(const void *data, size_t len) {
    if (!open_) {
        platform::SetLastSocketError(platform::kErrWouldBlock);
        return -1;
    }
    int flushed = Flush();
    if (flushed < 0)
        return -1;
    if (flushed == 0) {
        platform::SetLastSocketError(platform::kErrWouldBlock);
        return -1;
    }
    if (len == 0)
        return 0;
    const size_t take = len > INT_MAX ? INT_MAX : len;
    if (engine_->Write(data, take) != TTlsEngine::Result::Done) {
        Fail(WithReason(platform::TrKey("TLS connection failed"),
                        platform::TrKey("TLS connection failed: %1"), engine_->Reason()));
        platform::SetLastSocketError(platform::kErrConnAborted);
        return -1;
    }
    // The engine took it all; what the socket cannot take now follows at the next write
    // notification.
    Flush();
    return static_cast<long>(take);
}

bool TlsLayer::Buffered() const {
    return engine_->Buffered();
}

void TlsLayer::Shutdown() {
    if (!open_ || !failure_.empty())
        return;
    engine_->Close();
    Flush();
}

} // namespace net
