// TPowersock: construction, connection, time-outs, cancellation, closing, errors and status.
// The data transfer operations are in PsockTransfer.cpp.
#include "net/Psock.h"

#include "net/PsockTls.h"
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
        throw ESockError("Initializaton of windows sockets failed");
    }
}

bool TPowersock::CreateSocket(bool linger) {
    auto s = platform::AsyncSocket::Create();
    if (!s || s->Handle() >= kNoSocket)
        return false;
    if (linger)
        s->SetLinger(true, 0);
    s->Select(*this, platform::kAllEvents);
    Socket = std::move(s);
    return true;
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
            // While the TLS handshake runs, the socket's notifications drive it alone.
            if (Handshaking())
                ContinueHandshake();
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
            if (Handshaking()) {
                Tls->ClosedWithError(m.error);
                ContinueHandshake(); // the server's last bytes, then its close
            }
            HandleClose();
            break;
        default: break;
        }
        break;
    case MessageKind::LookupDone:
        if (m.event != LookupSerial)
            break; // the late answer of an abandoned lookup
        // Connections are made over IPv4 only so far: a name with IPv6 addresses alone has no
        // address to connect to, as when the lookup asked for IPv4 only.
        LookupError = m.error;
        if (m.error == 0 && m.address == 0)
            LookupError = platform::kErrNoData;
        LastEventOk = LookupError == 0;
        LookupAddress = m.address;
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

void TPowersock::ResolveHost() {
    ReportStatus(8, "Resolve Host");
    const std::string &name = Proxy.empty() ? Host : Proxy;
    if (name.size() > 255)
        throw ESockError("Host name too long");
    uint32_t address = 0;
    if (platform::ParseDottedAddress(name.c_str(), address)) {
        RemoteAddress = address;
        return;
    }
    RemoteAddress = 0;
    TimerOn();
    LookupDone = false;
    LookupError = platform::kErrHostNotFound; // until the lookup answers
    LookupSerial = platform::StartHostLookup(name.c_str(), *this);
    WaitUntil([this] { return LookupDone || TimedOut; }, false);
    TimerOff();
    if (TimedOut)
        throw ESockError("Host Lookup Timed Out", SockFailure::LookupTimedOut);
    if (CancelRequested)
        throw ESockError("Host Lookup Canceled", SockFailure::Cancelled);
    if (LookupError != 0) {
        LastSocketError = LookupError; // why it failed ("Host not found")
        throw ESockError("Host Lookup Failed", SockFailure::HostNotFound);
    }
    RemoteAddress = LookupAddress;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect() {
    ReportStatus(8, "Connecting");
    CancelRequested = false;
    // A component given up before (or while) it connects stays cancelled: the mark is read
    // after the clear, and the one who sets it cancels after setting it.
    if (Abandoned) {
        CancelRequested = true;
        throw ESockError("Connection Canceled", SockFailure::Cancelled);
    }
    if (IsConnected)
        throw ESockError("Already connected");
    SecureFailure.clear();
    ProxyAuthAsked = false;

    for (int retries = 0;; ++retries) {
        try {
            ResolveHost();
        } catch (const ESockError &e) {
            if (e.Kind() != SockFailure::HostNotFound)
                throw; // time-out, cancel, a name too long
        }
        if (RemoteAddress != 0)
            break;
        bool handled = false;
        if (retries > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address", SockFailure::HostNotFound);
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError("Null Remote Address", SockFailure::HostNotFound);
    }

    if (!Socket && !CreateSocket(false))
        throw ESockError("Initializaton of windows sockets failed");
    std::string text;
    RemotePort = platform::HostToNetwork16(
        static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort));
    LookupDone = false;
    LastEventOk = true;
    ConnectEventSeen = false;
    ConnectEventOk = false;
    if (Socket->Connect(platform::Ipv4Address(RemoteAddress), RemotePort) != 0)
        CheckSocketError(platform::kErrWouldBlock, text);

    TimerOn();
    WaitUntil([this] { return ConnectEventSeen || TimedOut; }, false);
    bool connected = !TimedOut && !CancelRequested && ConnectEventOk;
    // The tunnel and the handshake belong to the connect phase: the same timer bounds them.
    if (connected && UseTls)
        connected = SecureConnection();
    TimerOff();
    if (connected) {
        if (UseTls && OnConnect)
            OnConnect(this);
        return;
    }
    if (IsConnected && UseTls) {
        // A connection whose tunnel or handshake failed cannot carry a request: close it.
        try {
            RequestCloseSocket();
        } catch (const ESockError &) {
            // The failure below is the one that counts.
        }
    }
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ESockError("Connection Timed out", SockFailure::ConnectTimedOut);
    if (CancelRequested)
        throw ESockError("Connection Canceled", SockFailure::Cancelled);
    if (!SecureFailure.empty())
        throw ESockError(SecureFailure, ProxyAuthAsked ? SockFailure::ProxyAuth : SockFailure::Tls);
    throw ESockError("Connection Failed", SockFailure::ConnectFailed);
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
    if (Tls) {
        if (TlsReady)
            Tls->Shutdown();
        Tls.reset(); // before the socket it reads from
        TlsReady = false;
    }
    if (!Socket)
        return;
    int r = Socket->Close();
    Socket.reset();
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
    return platform::DottedAddressText(RemoteAddress);
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
    return "Unknown Error No. " + std::to_string(code);
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
