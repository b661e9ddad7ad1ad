#include "platform/AsyncSocket.h"

#include "platform/SocketErrors.h"
#include "platform/posix/PollSource.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/SocketAddress.h"

namespace platform {
namespace {

int Fail(int systemError) {
    SetLastSocketError(SocketErrorFromSystem(systemError));
    return -1;
}

class PosixSocket final : public AsyncSocket, public posix::PollSource {
  public:
    enum class State { Idle, Connecting, Connected, Failed, Closed };

    PosixSocket(int fd, IpAddress::Family family) : fd_(fd), family_(family) {}
    ~PosixSocket() override { Close(); }

    uintptr_t Handle() const override { return static_cast<uintptr_t>(fd_); }

    void Select(const MessageTarget &target, uint16_t mask) override {
        if (!queue_) {
            queue_ = target.OwnerQueue();
            posix::AddPollSource(*queue_, this);
        }
        target_ = target.TargetId();
        mask_ = mask;
    }

    bool SetLinger(bool on, int seconds) override {
        linger l{on ? 1 : 0, seconds};
        if (setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
            return Fail(errno) == 0;
        return true;
    }

    int Connect(const IpAddress &address, uint16_t port) override {
        if (state_ != State::Idle)
            return Fail(state_ == State::Closed ? EBADF : EISCONN);
        if (address.family != family_)
            return Fail(EAFNOSUPPORT);
        SocketAddress sa;
        const auto len = static_cast<socklen_t>(ToSocketAddress(address, port, sa));
        int r = connect(fd_, &sa.any, len);
        int e = r == 0 ? 0 : errno;
        if (r == 0 || e == EINPROGRESS || e == EINTR) {
            // Completion is reported by a connect event, also for an immediate success.
            state_ = State::Connecting;
        } else if (e == ECONNREFUSED || e == ENETUNREACH || e == EHOSTUNREACH ||
                   e == ETIMEDOUT) {
            // A refusal that the system reports at once still arrives as an event, so that
            // every failed connect looks the same to the caller.
            state_ = State::Failed;
            PostEvent(kEventConnect, SocketErrorFromSystem(e));
        } else {
            return Fail(e);
        }
        SetLastSocketError(kErrWouldBlock);
        return -1;
    }

    long Receive(void *buffer, size_t len) override {
        readEnabled_ = true;
        ssize_t n = recv(fd_, buffer, len, 0);
        if (n < 0)
            return Fail(errno);
        return n;
    }

    long Send(const void *data, size_t len) override {
        ssize_t n = send(fd_, data, len, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                writeArmed_ = true;
            return Fail(errno);
        }
        return n;
    }

    int Close() override {
        if (fd_ < 0)
            return 0;
        if (queue_) {
            posix::RemovePollSource(*queue_, this);
            queue_.reset();
        }
        int r = close(fd_);
        fd_ = -1;
        state_ = State::Closed;
        return r == 0 ? 0 : Fail(errno);
    }

    // Polling.
    int PollFd() const override { return fd_; }

    short PollEvents() const override {
        if (mask_ == 0 || fd_ < 0 || closePosted_)
            return 0;
        if (state_ == State::Connecting)
            return POLLOUT;
        if (state_ != State::Connected)
            return 0;
        short ev = POLLRDHUP;
        if ((mask_ & kEventRead) && readEnabled_)
            ev |= POLLIN;
        if ((mask_ & kEventWrite) && writeArmed_)
            ev |= POLLOUT;
        return ev;
    }

    void PollResult(short revents) override {
        if (state_ == State::Connecting) {
            int err = PendingError();
            if (err == 0 || err == ECONNRESET || err == EPIPE) {
                // A reset this early still means the connection was made: tell the connect,
                // then the close.
                state_ = State::Connected;
                PostEvent(kEventConnect, 0);
                PostEvent(kEventWrite, 0); // a connected socket can be written to
                if (err != 0) {
                    closePosted_ = true;
                    PostEvent(kEventClose, SocketErrorFromSystem(err));
                }
            } else {
                state_ = State::Failed;
                PostEvent(kEventConnect, SocketErrorFromSystem(err));
            }
            return;
        }
        if ((revents & POLLIN) && readEnabled_ && (mask_ & kEventRead)) {
            readEnabled_ = false;
            PostEvent(kEventRead, 0);
        }
        if ((revents & POLLOUT) && writeArmed_) {
            writeArmed_ = false;
            PostEvent(kEventWrite, 0);
        }
        if (revents & (POLLRDHUP | POLLHUP | POLLERR)) {
            // The close is told once; a closed connection is not polled again.
            closePosted_ = true;
            PostEvent(kEventClose, SocketErrorFromSystem(PendingError()));
        }
    }

  private:
    int PendingError() const {
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        return err;
    }

    void PostEvent(uint16_t event, int error) {
        if (!queue_ || !(mask_ & event))
            return;
        Message m;
        m.kind = MessageKind::SocketEvent;
        m.target = target_;
        m.event = event;
        m.error = static_cast<uint16_t>(error);
        queue_->Post(std::move(m));
    }

    int fd_;
    IpAddress::Family family_;
    State state_ = State::Idle;
    std::shared_ptr<NotifyQueue> queue_;
    uint64_t target_ = 0;
    uint16_t mask_ = 0;
    bool readEnabled_ = true;
    bool writeArmed_ = false;
    bool closePosted_ = false;
};

} // namespace

std::unique_ptr<AsyncSocket> AsyncSocket::Create(IpAddress::Family family) {
    if (family == IpAddress::Family::None) {
        Fail(EAFNOSUPPORT);
        return nullptr;
    }
    const int domain = family == IpAddress::Family::V4 ? AF_INET : AF_INET6;
    int fd = socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        Fail(errno);
        return nullptr;
    }
    return std::make_unique<PosixSocket>(fd, family);
}

uint16_t HostToNetwork16(uint16_t v) { return htons(v); }

SocketLayerInfo QuerySocketLayerInfo() {
    SocketLayerInfo info;
    info.description = "POSIX sockets, IPv4";
    info.systemStatus = "Running";
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0)
        info.maxSockets = static_cast<long>(rl.rlim_cur);
    info.maxUdpDatagram = 65507;
    return info;
}

} // namespace platform
