#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// Real third-party peers for integration tests: nginx and lighttpd as origin servers and
// tinyproxy as an HTTP proxy, each started as a foreground child process on 127.0.0.1 with an
// ephemeral port and its own configuration, pid file and logs in a fresh temporary directory,
// and stopped by process id. Plain POSIX only, so it does not depend on the code under test.
//
// A peer is started in its own process group with PR_SET_PDEATHSIG = SIGKILL, so it dies with
// the test process even when that is killed by a time-out. The death signal follows the thread
// that forked the child: construct a peer on a thread that outlives it (e.g. the test body).
namespace testsupport {

using namespace std::chrono_literals;

class PeerProcess;
struct PeerLaunch;

// What every peer offers. Construction blocks until the peer accepts connections, at most
// about 5 s per attempt and 5 attempts when the chosen port was taken meanwhile, and throws
// std::runtime_error with the reason, the peer's logs and its output if it exits or does not
// accept in time. Destruction stops it: SIGTERM, SIGKILL to its process group after 3 s, a
// bounded wait for it, and removal of the temporary directory.
class RealPeer {
  public:
    RealPeer(const RealPeer &) = delete;
    RealPeer &operator=(const RealPeer &) = delete;

    // The listening port on 127.0.0.1, in host order.
    uint16_t Port() const;

    // Time from the start of the successful launch until the peer accepted connections.
    std::chrono::milliseconds StartupTime() const;

  protected:
    explicit RealPeer(PeerLaunch launch);
    ~RealPeer();

    std::unique_ptr<PeerProcess> process_;
};

// An origin server serving a directory, with an access log and an error log.
class OriginServer : public RealPeer {
  public:
    // Contents of the access log, one line per finished request in the format
    //   127.0.0.1 "GET /file HTTP/1.1" 206 100 "bytes=0-99"
    // (client address, request line, status, body bytes sent, Range header or "-").
    // The line is written after the reply has been sent, so a client that has just read a
    // reply may not see its line yet: use WaitForAccessLog.
    std::string AccessLog() const;
    // Waits until the access log contains `needle`, polling every 5 ms; false after `timeout`.
    bool WaitForAccessLog(const std::string &needle, std::chrono::milliseconds timeout = 2s) const;
    // The error log.
    std::string ErrorLog() const;

  protected:
    using RealPeer::RealPeer;
};

// The certificate (PEM, the server's first, then any intermediates) and key an https
// server presents.
struct NginxTls {
    std::string certificate;
    std::string key;
};

// nginx serving a directory on 127.0.0.1 (GET, HEAD and single/multiple Range requests of
// static files, 206 replies: nginx's defaults). Runs as a single foreground process
// ("daemon off; master_process off;"), so a SIGKILL can never leave worker processes behind.
// The error log is at notice level and above.
class NginxServer : public OriginServer {
  public:
    // True if the nginx binary is found in PATH or /usr/sbin, /usr/local/sbin, /sbin; else
    // false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Serves `root` (made absolute; it must be a directory). `extraServerConfig` is pasted into
    // the server block (e.g. "location /r { return 302 /f; }"). Blocks and throws as said at
    // RealPeer.
    explicit NginxServer(const std::string &root, const std::string &extraServerConfig = "");
    // The same over TLS only ("listen ... ssl", nginx's default protocols and ciphers).
    NginxServer(const std::string &root, const NginxTls &tls,
                const std::string &extraServerConfig = "");
};

// lighttpd serving a directory on 127.0.0.1 with its defaults for static files (GET, HEAD,
// Range requests). Runs in the foreground ("-D") as the current user (no server.username, so
// as root too). Measured on Debian 12's lighttpd 1.4.69: an HTTP/1.1 request with
// "Range: bytes=100-199" gets "206 Partial Content" with that slice, but an HTTP/1.0 request
// with the same Range header gets "200 OK" with the whole file (and no Accept-Ranges header);
// neither reply carries Last-Modified or ETag.
// The access log goes through a pipe to cat, because lighttpd's own access log file is
// written up to about 2 s late; that cat is a child of lighttpd in its process group and ends
// with it (end of its input, and the SIGKILL to the group on stopping).
class LighttpdServer : public OriginServer {
  public:
    // True if the lighttpd binary is found in PATH or /usr/sbin, /usr/local/sbin, /sbin; else
    // false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Serves `root` (made absolute; it must be a directory). `extraConfig` is appended to the
    // configuration file (e.g. 'url.redirect = ("^/r$" => "/f")' with mod_redirect loaded by
    // 'server.modules += ("mod_redirect")'). Blocks and throws as said at RealPeer.
    explicit LighttpdServer(const std::string &root, const std::string &extraConfig = "");
};

// tinyproxy on 127.0.0.1, accepting clients from 127.0.0.1 only and forwarding plain HTTP
// requests (absolute URL in the request line) to any origin, loopback included, and CONNECT
// to any port. Runs in the foreground ("-d") as the current user.
class HttpProxy : public RealPeer {
  public:
    // True if the tinyproxy binary is found in PATH or /usr/bin, /usr/sbin, /usr/local/bin,
    // /usr/local/sbin; else false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Starts the proxy. Blocks and throws as said at RealPeer.
    HttpProxy();

    // Contents of tinyproxy's log at level Info: connections, request lines
    // ("Request (file descriptor 6): GET http://127.0.0.1:PORT/f HTTP/1.1"), upstream
    // connections. The start-up probe's connection shows up here too.
    std::string Log() const;
    // Waits until the log contains `needle`, polling every 5 ms; false after `timeout`.
    bool WaitForLog(const std::string &needle, std::chrono::milliseconds timeout = 2s) const;
};

} // namespace testsupport
