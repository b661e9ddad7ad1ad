#pragma once

#include "tests/support/TestCertificates.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TLS server on 127.0.0.1 for tests that need control over the records on the wire: after
// the handshake it reads one request header block, then sends bursts of records, each burst
// in one send() so that the client receives all its records at once, and then keeps the
// connection open for a while before it closes. Serves one connection after another with the
// same plan. OpenSSL and POSIX only, so it does not depend on the code under test.
namespace testsupport {

struct TlsPlan {
    // Each burst is a list of records (one SSL_write each), sent together.
    std::vector<std::vector<std::string>> bursts;
    std::chrono::milliseconds gap{0};      // between bursts
    std::chrono::milliseconds holdOpen{0}; // after the last burst, before the close
    bool corruptLastByte = false;          // flip the last byte of the last burst
};

class TlsTestServer {
  public:
    // Listens on an ephemeral port and starts serving; throws std::runtime_error on failure.
    TlsTestServer(const ServerCertificate &certificate, TlsPlan plan);
    // Stops: interrupts a connection in progress and joins the thread.
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer &) = delete;
    TlsTestServer &operator=(const TlsTestServer &) = delete;

    uint16_t Port() const { return port_; }
    // The header blocks received so far, one per connection.
    std::vector<std::string> Requests() const;

  private:
    void Serve();
    void ServeOne(int fd);
    bool Sleep(std::chrono::milliseconds d); // false when stopping

    TlsPlan plan_;
    void *context_ = nullptr; // SSL_CTX
    int listenFd_ = -1;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    int connectionFd_ = -1;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace testsupport
