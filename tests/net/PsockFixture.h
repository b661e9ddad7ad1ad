#pragma once

// Shared helpers of the socket component tests: an event log, message pumping with a bound,
// a listener that never reads, and a canceller on another thread.

#include "net/Psock.h"
#include "platform/NotifyQueue.h"
#include "tests/support/TestSockets.h"

#include <chrono>
#include <string>
#include <thread>
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
    explicit SilentListener(int backlog = 4) : fd_(testsupport::OpenLoopbackListener(backlog, port_)) {}
    ~SilentListener() {
        for (testsupport::SocketHandle f : fillers_)
            testsupport::CloseSocket(f);
        testsupport::CloseSocket(peer_);
        testsupport::CloseSocket(fd_);
    }
    uint16_t Port() const { return port_; }
    testsupport::SocketHandle AcceptOne() { return peer_ = accept(fd_, nullptr, nullptr); }
    // Fills the accept queue so that the next connect gets no answer.
    void FillBacklog() {
        for (int i = 0; i < 4; ++i)
            fillers_.push_back(testsupport::StartLoopbackConnect(port_));
        std::this_thread::sleep_for(50ms);
    }

  private:
    uint16_t port_ = 0;
    testsupport::SocketHandle fd_;
    testsupport::SocketHandle peer_ = testsupport::kNoSocket;
    std::vector<testsupport::SocketHandle> fillers_;
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
