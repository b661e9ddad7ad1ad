// TPowersock: moving bytes over the connected socket. The notification handlers fill the
// receive queue and empty the send queue; the blocking operations wait on them.
#include "net/Psock.h"
#include "platform/Catalogue.h"

#include "platform/SocketErrors.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace net {
namespace {

// Chunk size of one send, through a local buffer one byte larger.
constexpr size_t kChunk = 16383;
// One receive reads at most a buffer of kReceiveBuffer bytes. During a transfer a pass goes
// on receiving while buffers come full, up to kReceiveChunk bytes, and counts them as one
// chunk: every chunk fires OnPacketRecvd, which a download worker hands to the main thread
// and waits for, so a fast connection makes a thousand of those round trips per GiB rather
// than tens of thousands, while the buffer stays small.
constexpr size_t kReceiveBuffer = 65536;
constexpr size_t kReceiveChunk = 1048576;
// Largest part of a text that Write hands to SendBuffer at once.
constexpr size_t kWritePart = 16384;

// Runs a function when the scope is left, by any path.
template <typename F> struct OnExit {
    F f;
    ~OnExit() { f(); }
};
template <typename F> OnExit(F) -> OnExit<F>;

platform::Message SelfMessage(platform::MessageKind kind) {
    platform::Message m;
    m.kind = kind;
    return m;
}

} // namespace

char *TPowersock::ReceiveBuffer() {
    // Made at the first receive: a component that never receives costs nothing.
    if (!receiveBuffer_)
        receiveBuffer_ = std::make_unique<char[]>(kReceiveBuffer);
    return receiveBuffer_.get();
}

bool TPowersock::StoreBytes(const char *data, size_t &n) {
    if (CaptureLeft >= 0) {
        n = std::min(n, static_cast<size_t>(CaptureLeft));
        CaptureLeft -= static_cast<int64_t>(n);
    }
    try {
        ReceiveStream->Write(data, n);
    } catch (const EFileStreamError &) {
        // The capture ends with this error (disk full, ...); the bytes are not counted.
        CaptureError = std::current_exception();
        return false;
    }
    BytesMoved += n;
    return true;
}

void TPowersock::CountChunk(size_t n) {
    if (!TransferActive)
        return;
    ReceiveProgress += static_cast<int64_t>(n);
    if (OnPacketRecvd)
        OnPacketRecvd(this);
}

void TPowersock::StoreChunk(const char *data, size_t n) {
    if (StoreBytes(data, n))
        CountChunk(n);
}

size_t TPowersock::StartCaptureLimit(size_t buffered) {
    CaptureLeft = std::exchange(CaptureLimit, -1);
    if (CaptureLeft < 0)
        return buffered;
    buffered = std::min(buffered, static_cast<size_t>(CaptureLeft));
    CaptureLeft -= static_cast<int64_t>(buffered);
    return buffered;
}

void TPowersock::ReadToStream() {
    if (CancelRequested) {
        // A cancelled transfer takes no more notifications until the socket is replaced.
        if (Socket)
            Socket->Select(*this, 0);
        if (OnReceiveAborted)
            OnReceiveAborted(this);
    }
    if (InHandler)
        return;
    InHandler = true;
    bool stored = false;
    {
        OnExit clear{[this] { InHandler = false; }};
        ReportStatus(8, "ReadToStream");
        long n = Layer->Receive(ReceiveBuffer(), kReceiveBuffer);
        if (n < 0) {
            ReportReceiveError(platform::LastSocketError());
        } else {
            // More is waiting when the buffer came full, or when the layer holds bytes
            // received already (TLS records: no socket notification would announce those).
            // During a transfer the pass goes on reading, up to kReceiveChunk bytes counted as
            // one chunk. Outside one (a reply or header read line by line) only bytes the
            // layer holds get another pass; the rest waits for the socket's own
            // notification, so the reader looks at what came first and the memory queue does
            // not fill with a body nobody has asked for yet.
            size_t chunk = 0;
            int error = 0;
            bool waiting = false, kept = false;
            for (;;) {
                const size_t received = static_cast<size_t>(n);
                size_t taken = received;
                if (!StoreBytes(ReceiveBuffer(), taken))
                    break;
                kept = true;
                chunk += taken;
                waiting = received == kReceiveBuffer || Layer->Buffered();
                // A capture that has all it may take reads no further.
                if (CaptureLeft == 0)
                    waiting = false;
                if (!waiting || !TransferActive || chunk >= kReceiveChunk)
                    break;
                n = Layer->Receive(ReceiveBuffer(), kReceiveBuffer);
                if (n <= 0) {
                    // Drained (would block), closed (the close notification follows), or
                    // failed after some bytes: the bytes stored so far count first.
                    if (n < 0 && platform::LastSocketError() != platform::kErrWouldBlock)
                        error = platform::LastSocketError();
                    waiting = false;
                    break;
                }
            }
            if (kept)
                CountChunk(chunk);
            stored = true;
            if (error)
                ReportReceiveError(error);
            else if (waiting && (TransferActive || Layer->Buffered()))
                PostToSelf(SelfMessage(platform::MessageKind::ReadPending));
        }
    }
    // A session that failed (TLS) delivers nothing more: the connection ends here.
    if (!Layer->Failure().empty()) {
        DropBrokenConnection();
        return;
    }
    if (stored && OnDataArrived)
        OnDataArrived(this);
}

void TPowersock::ReportReceiveError(int code) {
    if (Layer->Failure().empty()) {
        FireSocketError(code);
        return;
    }
    LastSocketError = code;
    if (OnSocketError)
        OnSocketError(this, static_cast<uint16_t>(LastSocketError), Layer->Failure());
}

void TPowersock::DropBrokenConnection() {
    if (SessionFailure.empty())
        SessionFailure = Layer->Failure();
    IsConnected = false;
    RequestCloseSocket();
}

void TPowersock::HandleClose() {
    // What is still unread in the socket belongs to the transfer: drain it into the receive
    // stream and count it like any other chunk, so a body whose last bytes come with the
    // close is complete.
    while (Socket && !CancelRequested && CaptureLeft != 0) {
        long n = Layer->Receive(ReceiveBuffer(), kReceiveBuffer);
        if (n <= 0)
            break;
        StoreChunk(ReceiveBuffer(), static_cast<size_t>(n));
    }
    if (SessionFailure.empty())
        SessionFailure = Layer->Failure();
    IsConnected = false;
    RequestCloseSocket();
}

void TPowersock::WriteFromStream() {
    if (InHandler)
        return;
    InHandler = true;
    OnExit clear{[this] { InHandler = false; }};
    ReportStatus(8, "WriteFromStream");
    // What the layer holds that the socket could not take before (TLS output) goes out first.
    Layer->Flush();
    bool pending =
        FileTransfer ? SendStream->Position() < SendStream->Size() : SendStream->Size() > 0;
    if (!pending || CancelRequested || !Socket)
        return;

    SendStream->Seek(FileTransfer ? SendProgress : 0);
    char buffer[kChunk + 1];
    size_t len = SendStream->Read(buffer, kChunk);
    long n = Layer->Send(buffer, len);
    if (n < 0) {
        LastSocketError = platform::LastSocketError();
        if (LastSocketError != platform::kErrWouldBlock)
            SendFailed = true;
        SendStream->Seek(0);
        return; // a would-block refusal resumes at the next write notification
    }
    BytesMoved += static_cast<uint64_t>(n);
    int64_t reached = SendStream->Position() - static_cast<int64_t>(len) + n;
    if (reached >= SendStream->Size()) {
        if (!FileTransfer)
            SendQueue.Clear();
        SendDone = true;
    } else {
        if (FileTransfer)
            SendStream->Seek(reached);
        else {
            SendQueue.Bytes().erase(0, static_cast<size_t>(n));
            SendQueue.Seek(0);
        }
        PostToSelf(SelfMessage(platform::MessageKind::WritePending));
    }
    SendProgress += n;
    if (TransferActive && OnPacketSent)
        OnPacketSent(this);
}

void TPowersock::ThrowIfCancelled(const char *abortText) {
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError(abortText, TimedOut ? SockFailure::Stalled : SockFailure::Cancelled);
    }
}

void TPowersock::ThrowIfSessionBroke() {
    // A session that failed (TLS) cut the data short: that is no end of the data.
    if (!SessionFailure.empty())
        throw ESockError(SessionFailure, SockFailure::Tls);
}

void TPowersock::ThrowSendFailure() {
    if (!Layer->Failure().empty())
        throw ESockError(Layer->Failure(), SockFailure::Tls);
    if (!SessionFailure.empty())
        throw ESockError(SessionFailure, SockFailure::Tls);
    throw ESockError(SendFailed ? LookupErrorMessage(static_cast<uint16_t>(LastSocketError))
                                : platform::Tr("Connection closed"),
                     SockFailure::Closed);
}

void TPowersock::SendBuffer(const char *data, uint16_t length) {
    ReportStatus(4, "Sending Buffer");
    if (CancelRequested)
        return;
    size_t len = length != 0 ? length : strnlen(data, 65535);
    if (len == 0)
        return;
    SendQueue.SeekEnd();
    SendQueue.Write(data, len);
    SendDone = false;
    SendFailed = false;
    PostToSelf(SelfMessage(platform::MessageKind::WritePending));
    WaitUntil([this] { return SendDone || SendFailed || !IsConnected; }, true);
    ThrowIfCancelled(platform::Tr("Socket send aborted"));
    if (!SendDone) {
        // The bytes can never be sent; they must not go out on a later connection either.
        SendQueue.Clear();
        ThrowSendFailure();
    }
}

void TPowersock::Write(const std::string &text) {
    ReportStatus(8, "Write");
    // The text goes out up to its first zero byte, in parts for a long one.
    size_t len = strnlen(text.c_str(), text.size());
    size_t offset = 0;
    do {
        size_t part = std::min(kWritePart, len - offset);
        if (part == 0) {
            SendBuffer("", 0); // nothing to send: returns at once
            return;
        }
        SendBuffer(text.data() + offset, static_cast<uint16_t>(part));
        offset += part;
    } while (offset < len);
}

void TPowersock::Writeln(const std::string &text) {
    ReportStatus(8, "Writeln");
    Write(text + "\r\n");
}

void TPowersock::ReadLn(std::string &line) {
    ReportStatus(8, "ReadLn");
    std::string &bytes = ReceiveQueue.Bytes();
    size_t scanned = 0;
    size_t lineFeed = std::string::npos;
    WaitUntil(
        [&] {
            lineFeed = bytes.find('\n', scanned);
            if (lineFeed != std::string::npos)
                return true;
            scanned = bytes.size();
            // Closed: no more bytes will come; too long: no line is that long.
            return !IsConnected || bytes.size() > kMaxLineLength;
        },
        true);
    if (CancelRequested)
        throw EAbortError(platform::Tr("Socket readln aborted"),
                          TimedOut ? SockFailure::Stalled : SockFailure::Cancelled);
    if (lineFeed == std::string::npos && bytes.size() > kMaxLineLength)
        throw ESockError(platform::Tr("Line too long"));
    if (lineFeed == std::string::npos)
        throw ESockError(SessionFailure.empty() ? platform::Tr("Connection closed") : SessionFailure,
                         SessionFailure.empty() ? SockFailure::Closed : SockFailure::Tls);
    line.assign(bytes, 0, lineFeed + 1);
    bytes.erase(0, lineFeed + 1);
    ReceiveQueue.SeekEnd();
}

void TPowersock::CaptureString(std::string &text, int32_t count) {
    text.clear();
    TransferActive = true;
    ReportStatus(8, "Capture String");
    ReceiveProgress = 0;
    {
        OnExit clear{[this] {
            TransferActive = false;
            CaptureLeft = -1;
        }};
        ReceiveQueue.Bytes().resize(StartCaptureLimit(ReceiveQueue.Bytes().size()));
        if (count >= -1)
            WaitUntil(
                [&] {
                    text += ReceiveQueue.Bytes();
                    ReceiveQueue.Clear();
                    if (!IsConnected || CaptureLeft == 0)
                        return true;
                    return count >= 0 && text.size() >= static_cast<size_t>(count);
                },
                true);
    }
    ThrowIfCancelled(platform::Tr("Socket capture aborted"));
    ThrowIfSessionBroke();
    if (count >= 0 && text.size() < static_cast<size_t>(count))
        throw ESockError(platform::Tr("Connection closed"), SockFailure::Closed);
}

void TPowersock::CaptureFile(const std::string &fileName) {
    // The file is made when the capture begins, even for a body of no bytes.
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(fileName, TFileStream::Mode::Create);
    } catch (...) {
        CaptureLimit = -1; // as any capture does
        throw;
    }
    CaptureStream(*file);
}

void TPowersock::CaptureStream(TStream &stream) {
    TransferActive = true;
    FileTransfer = true;
    ReportStatus(8, "CaptureFile");
    {
        OnExit restore{[&] {
            ReceiveStream = &ReceiveQueue;
            TransferActive = false;
            FileTransfer = false;
            CaptureLeft = -1;
        }};
        const size_t buffered = StartCaptureLimit(ReceiveQueue.Bytes().size());
        ReceiveStream = &stream;
        CaptureError = nullptr;
        ReceiveProgress = static_cast<int64_t>(buffered);
        if (buffered > 0) {
            try {
                stream.Write(ReceiveQueue.Data(), buffered);
            } catch (const EFileStreamError &) {
                CaptureError = std::current_exception();
            }
        }
        ReceiveQueue.Clear();
        if (!CaptureError)
            WaitUntil([this] { return !IsConnected || CaptureError || CaptureLeft == 0; },
                      true);
    }
    ThrowIfCancelled(platform::Tr("Socket send aborted"));
    if (!CaptureError)
        ThrowIfSessionBroke();
    if (CaptureError)
        std::rethrow_exception(std::exchange(CaptureError, nullptr));
}

void TPowersock::SendFile(const std::string &fileName) {
    ReportStatus(8, "SendFile");
    TransferActive = true;
    FileTransfer = true;
    {
        std::unique_ptr<TFileStream> file;
        OnExit restore{[&] {
            SendStream = &SendQueue;
            file.reset();
            TransferActive = false;
            FileTransfer = false;
        }};
        file = std::make_unique<TFileStream>(fileName, TFileStream::Mode::OpenRead);
        SendStream = file.get();
        SendDone = false;
        SendFailed = false;
        SendProgress = 0;
        TransferSize = file->Size();
        PostToSelf(SelfMessage(platform::MessageKind::WritePending));
        WaitUntil([this] { return SendDone || TransferSize <= 0 || SendFailed || !IsConnected; },
                  true);
    }
    ThrowIfCancelled(platform::Tr("Socket send aborted"));
    if (!SendDone && TransferSize > 0)
        ThrowSendFailure();
}

void TPowersock::Transaction(const std::string &command, std::string &reply) {
    ReportStatus(8, "Transaction");
    ReplyNumber = 0;
    Writeln(command);
    ReadLn(LastReply);
    if (!LastReply.empty()) {
        ReportStatus(1, LastReply);
        std::string digits;
        for (size_t i = 0; i < LastReply.size() && i < 10; ++i) {
            if (LastReply[i] < '0' || LastReply[i] > '9')
                break;
            digits += LastReply[i];
        }
        if (!digits.empty()) {
            long long value = std::stoll(digits);
            if (value > INT16_MAX)
                throw std::out_of_range("Range check error");
            ReplyNumber = static_cast<int16_t>(value);
        }
    }
    reply = LastReply;
}

} // namespace net
