// TPowersock: construction, connection, time-outs, cancellation, closing, errors and status.
// The data transfer operations are in PsockTransfer.cpp.
#include "net/Psock.h"
#include "platform/Catalogue.h"

#include "net/PsockConnectAttempt.h"
#include "net/PlainLayer.h"
#include "net/SocketErrorTable.h"
#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"

#include <mutex>

namespace net {
namespace {

// Live components that started using the socket layer; the first one records its start-up
// information.
std::mutex socketUsersMutex;
int32_t SocketUsers = 0;

std::string VersionText(int word) {
    return std::to_string((word >> 8) & 0xFF) + "." + std::to_string(word & 0xFF);
}

} // namespace

TPowersock::TPowersock() : Owner(std::this_thread::get_id()) {
    ReportStatus(8, "Create");
    Timer = std::make_unique<platform::TThreadTimer>();
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](TObject *Sender) { TimerTriggered(Sender); });
    InitializeWinsock();
}

void TPowersock::InitializeWinsock() {
    ReportStatus(8, "Initializing Winsock");
    std::lock_guard lock(socketUsersMutex);
    if (++SocketUsers == 1) {
        auto info = platform::QuerySocketLayerInfo();
        WinsockInfo = {"Version= " + VersionText(info.version),
                       "High Version= " + VersionText(info.highVersion),
                       "Description= " + info.description,
                       "System= " + info.systemStatus,
                       "Max Sockets= " + std::to_string(info.maxSockets),
                       "Max Udp pack size= " + std::to_string(info.maxUdpDatagram)};
    }
    // Closing the first socket resets the connection instead of lingering.
    if (!CreateSocket(true)) {
        --SocketUsers;
        throw ESockError(platform::Tr("Initializaton of windows sockets failed"));
    }
}

bool TPowersock::CreateSocket(bool linger) {
    auto s = platform::AsyncSocket::Create();
    if (!s || s->Handle() >= kNoSocket)
        return false;
    ResetOnClose = linger;
    if (linger)
        s->SetLinger(true, 0);
    s->Select(*this, platform::kAllEvents);
    UseSocket(std::move(s));
    return true;
}

void TPowersock::UseSocket(std::unique_ptr<platform::AsyncSocket> socket) {
    Layer.reset();
    Socket = std::move(socket);
    Layer = std::make_unique<PlainLayer>(Socket.get());
}

TPowersock::~TPowersock() {
    Destroying = true; // no status reports, no OnDisconnect, no fresh socket from here on
    ReportStatus(8, "Destroy");
    AbortOperation();
    Cancel();
    Timer.reset();
    try {
        RequestCloseSocket();
    } catch (...) {
        // The socket is gone either way; a destructor has no one to tell.
    }
    std::lock_guard lock(socketUsersMutex);
    --SocketUsers;
}

uint16_t TPowersock::SocketHandle() const {
    return Socket ? static_cast<uint16_t>(Socket->Handle()) : kNoSocket;
}

bool TPowersock::OnOwnerThread() const { return std::this_thread::get_id() == Owner; }

void TPowersock::HandleMessage(const platform::Message &m) {
    try {
        DispatchSocketMessage(m);
    } catch (...) {
        // Failures of event handlers run from a notification never leave the dispatcher.
    }
}

void TPowersock::DispatchSocketMessage(const platform::Message &m) {
    using platform::MessageKind;
    switch (m.kind) {
    case MessageKind::SocketEvent:
        LastEventOk = m.error == 0;
        switch (m.event) {
        case platform::kEventRead:
        case platform::kEventWrite:
            // While the layer opens (a TLS handshake), the socket's notifications drive it
            // alone.
            if (!Layer->IsOpen())
                ContinueOpening();
            else if (m.event == platform::kEventRead)
                ReadToStream();
            else
                WriteFromStream();
            break;
        case platform::kEventConnect:
            // The connect wait judges by this event alone: a reset handled in the same pass
            // must not turn a connect that succeeded into a failed one.
            ConnectEventSeen = true;
            ConnectEventOk = LastEventOk;
            if (!LastEventOk)
                LastSocketError = m.error; // why it failed ("Connection refused")
            if (LastEventOk) {
                IsConnected = true;
                // A TLS connection is announced once its handshake is done (Connect).
                if (OnConnect && !UseTls)
                    OnConnect(this);
            }
            break;
        case platform::kEventClose:
            if (!Layer->IsOpen()) {
                Layer->ClosedWithError(m.error);
                ContinueOpening(); // the server's last bytes, then its close
            }
            HandleClose();
            break;
        default: break;
        }
        break;
    case MessageKind::LookupDone:
        if (m.event != LookupSerial)
            break; // the late answer of an abandoned lookup
        LookupError = m.error;
        LookupAddresses.clear();
        if (m.error == 0 && m.addresses)
            LookupAddresses = *m.addresses;
        if (m.error == 0 && LookupAddresses.empty())
            LookupError = platform::kErrNoData;
        LastEventOk = LookupError == 0;
        LookupDone = true;
        break;
    case MessageKind::WritePending: WriteFromStream(); break;
    case MessageKind::ReadPending: ReadToStream(); break;
    default: break;
    }
}

void TPowersock::WaitUntil(const std::function<bool()> &done, bool dataWait) {
    using Clock = std::chrono::steady_clock;
    uint64_t moved = BytesMoved;
    auto lastMove = Clock::now();
    while (!CancelRequested && !done()) {
        platform::SleepAndProcess(2);
        if (!dataWait || TimeOut <= 0)
            continue;
        auto now = Clock::now();
        if (BytesMoved != moved) {
            moved = BytesMoved;
            lastMove = now;
        } else if (now - lastMove >= std::chrono::milliseconds(TimeOut)) {
            // Nothing moved for the whole time-out: end the wait as a time-out does.
            TimedOut = true;
            AbortOperation();
            CancelRequested = true;
        }
    }
}

void TPowersock::Disconnect() {
    ReportStatus(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::Cancel() {
    // A report from another thread would run OnStatus there; only the owner reports.
    if (OnOwnerThread())
        ReportStatus(8, "Canceling");
    CancelRequested = true;
}

void TPowersock::AbortOperation() {}

void TPowersock::RequestCloseSocket() {
    ReportStatus(4, "Request Close Socket");
    IsConnected = false;
    for (auto &attempt : Attempts)
        attempt->StopPassingOn();
    Layer->Shutdown();
    if (!Socket)
        return;
    int r = Socket->Close();
    UseSocket(nullptr);
    if (r != 0) {
        std::string text;
        CheckSocketError(platform::kErrWouldBlock, text);
    }
    if (Destroying)
        return;
    if (OnDisconnect)
        OnDisconnect(this);
    // Between connections the component always holds an open, unconnected socket.
    if (!CreateSocket(false))
        FireSocketError(platform::LastSocketError());
}

void TPowersock::TimerOn() {
    ReportStatus(8, "Timer On");
    TimedOut = false;
    Timer->SetInterval(TimeOut > 0 ? static_cast<uint32_t>(TimeOut) : 0);
    Timer->SetEnabled(true);
}

void TPowersock::TimerOff() {
    ReportStatus(8, "Timer Off");
    Timer->SetEnabled(false);
}

void TPowersock::TimerTriggered(TObject *) {
    ReportStatus(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    AbortOperation();
}

std::string TPowersock::RemoteAddressText() const {
    return platform::IpAddressText(RemoteAddress);
}

void TPowersock::ReportStatus(uint8_t level, const std::string &text) {
    if (static_cast<int32_t>(level) > ReportLevel || Destroying)
        return;
    LastStatus = text;
    if (OnStatus)
        OnStatus(this, LastStatus);
}

std::string TPowersock::LookupErrorMessage(uint16_t code) {
    ReportStatus(8, "Looking Up Error Message");
    if (code == 0)
        return {};
    if (const char *text = SocketErrorText(code))
        return std::to_string(code) + ":" + text;
    return platform::Fill(platform::Tr("Unknown Error No. %1"), {std::to_string(code)});
}

void TPowersock::FireSocketError(int code) {
    LastSocketError = code;
    std::string text = LookupErrorMessage(static_cast<uint16_t>(code));
    if (OnSocketError)
        OnSocketError(this, static_cast<uint16_t>(code), text);
}

void TPowersock::CheckSocketError(uint16_t expected, std::string &text) {
    ReportStatus(16, "Checking Error In Error Manager");
    LastSocketError = platform::LastSocketError();
    if (LastSocketError == expected) {
        text.clear();
        return;
    }
    text = LookupErrorMessage(static_cast<uint16_t>(LastSocketError));
    if (OnSocketError)
        OnSocketError(this, static_cast<uint16_t>(LastSocketError), text);
    throw ESockError(text);
}

std::string NthField(const std::string &s, char separator, int n) {
    std::string field;
    int count = 0;
    for (char c : s) {
        if (c == separator) {
            if (++count == n)
                break;
        } else if (count == n - 1) {
            field += c;
        }
    }
    return field;
}

int NthCharPos(const std::string &s, char ch, int n) {
    int count = 0;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] == ch && ++count == n)
            return static_cast<int>(i) + 1;
    return static_cast<int>(s.size()) + 1;
}

} // namespace net
