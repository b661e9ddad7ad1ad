#pragma once

// Shared helpers of the socket component tests: an event log, message pumping with a bound,
// a listener that never reads, and a canceller on another thread.

#include "net/Psock.h"
#include "platform/NotifyQueue.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace psocktest {

using namespace std::chrono;
using namespace std::chrono_literals;

// Records status texts and events of a component, in the order they happen.
struct EventLog {
    std::vector<std::string> entries;

    void Attach(net::TPowersock &s) {
        s.OnStatus = [this](platform::TObject *, const std::string &t) { entries.push_back(t); };
        s.OnConnect = [this](platform::TObject *) { entries.push_back("[OnConnect]"); };
        s.OnDisconnect = [this](platform::TObject *) { entries.push_back("[OnDisconnect]"); };
        s.OnHostResolved = [this](platform::TObject *) { entries.push_back("[OnHostResolved]"); };
        s.OnConnectionFailed = [this](platform::TObject *) {
            entries.push_back("[OnConnectionFailed]");
        };
    }
    int Count(const std::string &e) const {
        int n = 0;
        for (auto &x : entries)
            n += x == e;
        return n;
    }
    // The entries without the given ones.
    std::vector<std::string> Without(const std::string &skip) const {
        std::vector<std::string> r;
        for (auto &x : entries)
            if (x != skip)
                r.push_back(x);
        return r;
    }
};

// Processes this thread's messages for a while (what a wait loop of the component does).
inline void PumpFor(milliseconds d) {
    auto end = steady_clock::now() + d;
    while (steady_clock::now() < end)
        platform::SleepAndProcess(2);
}

template <typename P> bool PumpUntil(P pred, milliseconds limit = 3000ms) {
    auto end = steady_clock::now() + limit;
    while (!pred() && steady_clock::now() < end)
        platform::SleepAndProcess(2);
    return pred();
}

// A listener on 127.0.0.1 that accepts (optionally) but never reads, and, with a zero backlog
// and its queue filled, leaves further connects pending for ever.
class SilentListener {
  public:
    explicit SilentListener(int backlog = 4) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        listen(fd_, backlog);
        socklen_t len = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len);
        port_ = ntohs(sa.sin_port);
    }
    ~SilentListener() {
        for (int f : fillers_)
            close(f);
        if (peer_ >= 0)
            close(peer_);
        close(fd_);
    }
    uint16_t Port() const { return port_; }
    int AcceptOne() { return peer_ = accept(fd_, nullptr, nullptr); }
    // Fills the accept queue so that the next connect gets no answer.
    void FillBacklog() {
        for (int i = 0; i < 4; ++i) {
            int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(port_);
            sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connect(f, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
            fillers_.push_back(f);
        }
        std::this_thread::sleep_for(50ms);
    }

  private:
    int fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int peer_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

// Calls Cancel (or AbortOperation) of a component from another thread after a delay.
class CancelLater {
  public:
    CancelLater(net::TPowersock &s, milliseconds after, bool abort = false)
        : thread_([&s, after, abort] {
              std::this_thread::sleep_for(after);
              if (abort)
                  s.AbortOperation();
              else
                  s.Cancel();
          }) {}
    ~CancelLater() { thread_.join(); }

  private:
    std::thread thread_;
};

// The component as the HTTP client configures it: a time-out or an abort also cancels.
class AbortingSock : public net::TPowersock {
  public:
    void AbortOperation() override {
        LookupDone = true;
        Cancel();
    }
    ~AbortingSock() override {
        Destroying = true; // as the base destructor does: no reports while going away
        AbortOperation();
    }
};

// Runs f and returns the message of the exception it throws ("" for none).
template <typename E, typename F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const E &e) {
        return e.what();
    }
    return {};
}

} // namespace psocktest
