#pragma once

#include "tests/support/TestSockets.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 for tests: every accepted connection plays a script of reads, sends,
// delays, stalls and closes, and every byte it receives is recorded so that tests can assert on
// the exact request a client sent. Plain sockets (TestSockets.h) and std::thread only, so it
// does not depend on the code under test.
namespace testsupport {

using namespace std::chrono_literals;

struct Action;
using Script = std::vector<Action>;

struct Action {
    enum class Kind { ReadRequest, ReadBytes, Send, Delay, Stall, Close, Reset, Respond };

    Kind kind = Kind::Close;
    std::string bytes;
    size_t count = 0;
    size_t slice = 0;
    std::chrono::milliseconds delay{0};
    std::function<Script(const std::string &request)> respond;

    // Waits until the received bytes hold a header block ending in "\r\n\r\n" and consumes it.
    // Blocks until then, the peer closes (the script then ends) or the server stops.
    static Action ReadRequest();
    // Waits for exactly n more bytes (e.g. a request body) and consumes them; ends like
    // ReadRequest.
    static Action ReadBytes(size_t n);
    // Sends bytes; slice > 0 sends them in slices of that size, waiting `delay` before each
    // slice after the first. Blocks while the peer does not read; a send error (peer reset)
    // ends the script.
    static Action Send(std::string bytes, size_t slice = 0, std::chrono::milliseconds delay = 0ms);
    // Waits d while still recording whatever arrives.
    static Action Delay(std::chrono::milliseconds d);
    // Holds the connection open and sends nothing until the peer closes or the server stops.
    static Action Stall();
    // Graceful close: FIN after the bytes sent so far, then keeps reading until the peer
    // closes so that unread input cannot turn the close into a reset. Ends the script.
    static Action Close();
    // Abortive close: SO_LINGER {1, 0} then close, so the peer gets a RST. Ends the script.
    static Action Reset();
    // The rest of the script, made from the last header block ReadRequest took (with its
    // final empty line): a server that answers what it was asked.
    static Action Respond(std::function<Script(const std::string &request)> fn);
};

class ScriptedServer {
  public:
    // Binds 127.0.0.1 on an ephemeral port, listens and starts the accept thread; throws
    // std::system_error if a socket call fails.
    ScriptedServer();
    // The same on a given IPv4 address (dotted, e.g. "127.0.0.3") and port (0: ephemeral);
    // a fixed port is bound with SO_REUSEADDR. Throws std::system_error as above, also for an
    // address that is not dotted IPv4.
    ScriptedServer(const std::string &address, uint16_t port);
    // Stop().
    ~ScriptedServer();

    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    // The bound port, in host order.
    uint16_t Port() const;

    // Queues a script for the next accepted connection; queued scripts are used in FIFO order.
    void Expect(Script s);
    // Script for connections accepted while nothing is queued (initially ReadRequest, Close).
    void SetDefault(Script s);

    // Number of connections accepted so far.
    size_t Accepted() const;
    // Every byte received so far on connection i (0-based, in accept order); empty if there is
    // no such connection. Complete once the peer has closed or Stop() has returned.
    std::string Received(size_t connection) const;
    // True once the peer of connection i has closed or reset it (the server saw EOF or an
    // error on its socket).
    bool PeerClosed(size_t connection) const;

    // Block up to `timeout` (less if the server stops) for the condition; return whether it holds.
    bool WaitForAccepted(size_t n, std::chrono::milliseconds timeout) const;
    bool WaitForPeerClose(size_t connection, std::chrono::milliseconds timeout) const;
    bool WaitForReceived(size_t connection, size_t bytes, std::chrono::milliseconds timeout) const;

    // Stops listening for `d`: connection attempts meanwhile are refused (the peer's connect
    // fails with ECONNREFUSED); afterwards the server listens on the same address and port
    // again. Calls during a refusal extend it. Returns at once; safe from a script's thread.
    void RefuseConnections(std::chrono::milliseconds d);

    // Closes the listener and every connection (interrupting stalls, delays and blocked sends)
    // and joins all threads. Returns promptly; idempotent. Received() stays readable after it.
    void Stop();

  private:
    using Clock = std::chrono::steady_clock;
    struct Connection;
    struct Session;

    void AcceptLoop();
    // Creates, binds and listens on listenFd_ (address_, port_); returns an errno value, 0 on
    // success.
    int OpenListener();
    // After a refusal window was asked for: closes the listener, waits out the window (or a
    // Stop) and listens again. False when the server stops meanwhile or cannot listen again.
    bool SitOutRefusal();
    void RunConnection(Connection &conn, SocketHandle fd, Script script);
    void Record(Connection &conn, const char *data, size_t n);
    void MarkPeerClosed(Connection &conn);
    const Connection *Find(size_t connection) const; // caller holds mutex_

    SocketHandle listenFd_ = kNoSocket; // replaced only by the accept thread, under mutex_
    uint32_t address_ = 0;              // network order
    // Set once by Stop() and never cleared, so that it wakes every poll in every thread.
    std::unique_ptr<WakeSignal> stopWake_;
    // Set by RefuseConnections: the accept thread wakes and sits the refusal out.
    std::unique_ptr<WakeSignal> refuseWake_;
    uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Script> queued_;
    Script default_;
    std::vector<std::unique_ptr<Connection>> connections_;
    bool stopped_ = false;            // set once every thread has been joined
    Clock::time_point refuseUntil_{}; // the end of a refusal window asked for; {} for none

    std::mutex stopMutex_; // serialises Stop() calls
    bool stopping_ = false;
    std::thread acceptThread_;
    // Owned by the accept thread; Stop() touches it only after joining that thread.
    std::vector<std::thread> workers_;
};

// n bytes of a deterministic pattern starting at absolute offset `offset`: byte i is
// (i * 131 + i / 256) & 0xFF, which does not repeat within 64 KiB, so a misplaced range shows.
std::string PatternBytes(size_t offset, size_t n);

} // namespace testsupport
