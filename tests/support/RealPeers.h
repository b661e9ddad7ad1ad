#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// Real third-party peers for integration tests: nginx as an origin server and tinyproxy as an
// HTTP proxy, each started as a foreground child process on 127.0.0.1 with an ephemeral port
// and its own configuration, pid file and logs in a fresh temporary directory, and stopped by
// process id. Plain POSIX only, so it does not depend on the code under test.
//
// A peer is started in its own process group with PR_SET_PDEATHSIG = SIGKILL, so it dies with
// the test process even when that is killed by a time-out. The death signal follows the thread
// that forked the child: construct a peer on a thread that outlives it (e.g. the test body).
namespace testsupport {

using namespace std::chrono_literals;

class PeerProcess;

// nginx serving a directory on 127.0.0.1 (GET, HEAD and single/multiple Range requests of
// static files, 206 replies: nginx's defaults). Runs as a single foreground process
// ("daemon off; master_process off;"), so a SIGKILL can never leave worker processes behind.
class NginxServer {
  public:
    // True if the nginx binary is found in PATH or /usr/sbin, /usr/local/sbin, /sbin; else
    // false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Serves `root` (made absolute; it must be a directory). `extraServerConfig` is pasted into
    // the server block (e.g. "location /r { return 302 /f; }"). Blocks until the server accepts
    // connections, at most about 5 s per attempt and 5 attempts when the chosen port was taken
    // meanwhile; throws std::runtime_error with the reason, the error log and nginx's output
    // if it exits or does not accept in time.
    explicit NginxServer(const std::string &root, const std::string &extraServerConfig = "");
    // Stops the server: SIGTERM, SIGKILL to its process group after 3 s, waits for it (bounded)
    // and removes the temporary directory.
    ~NginxServer();

    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // The listening port on 127.0.0.1, in host order.
    uint16_t Port() const;

    // Contents of the access log, one line per finished request in the format
    //   127.0.0.1 "GET /file HTTP/1.1" 206 100 "bytes=0-99"
    // (client address, request line, status, body bytes sent, Range header or "-").
    // nginx writes a line after it has sent the reply, so a client that has just read a reply
    // may not see its line yet: use WaitForAccessLog.
    std::string AccessLog() const;
    // Waits until the access log contains `needle`, polling every 5 ms; false after `timeout`.
    bool WaitForAccessLog(const std::string &needle, std::chrono::milliseconds timeout = 2s) const;
    // The error log (notice level and above).
    std::string ErrorLog() const;

    // Time from the start of the successful launch until the server accepted connections.
    std::chrono::milliseconds StartupTime() const;

  private:
    std::unique_ptr<PeerProcess> process_;
};

// tinyproxy on 127.0.0.1, accepting clients from 127.0.0.1 only and forwarding plain HTTP
// requests (absolute URL in the request line) to any origin, loopback included, and CONNECT
// to any port. Runs in the foreground ("-d") as the current user.
class HttpProxy {
  public:
    // True if the tinyproxy binary is found in PATH or /usr/bin, /usr/sbin, /usr/local/bin,
    // /usr/local/sbin; else false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Starts the proxy. Blocks and throws like NginxServer's constructor.
    HttpProxy();
    // Stops it like ~NginxServer.
    ~HttpProxy();

    HttpProxy(const HttpProxy &) = delete;
    HttpProxy &operator=(const HttpProxy &) = delete;

    // The listening port on 127.0.0.1, in host order.
    uint16_t Port() const;

    // Contents of tinyproxy's log at level Info: connections, request lines
    // ("Request (file descriptor 6): GET http://127.0.0.1:PORT/f HTTP/1.1"), upstream
    // connections. The start-up probe's connection shows up here too.
    std::string Log() const;
    // Waits until the log contains `needle`, polling every 5 ms; false after `timeout`.
    bool WaitForLog(const std::string &needle, std::chrono::milliseconds timeout = 2s) const;

    // Time from the start of the successful launch until the proxy accepted connections.
    std::chrono::milliseconds StartupTime() const;

  private:
    std::unique_ptr<PeerProcess> process_;
};

} // namespace testsupport
