#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Real third-party peers for integration tests: nginx, lighttpd, Apache and python's
// http.server as origin servers and tinyproxy and squid as HTTP proxies, each started as a
// foreground child process on 127.0.0.1 with an ephemeral port and its own configuration, pid
// file and logs in a fresh temporary directory (python's server: its arguments and output),
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
// accept in time. Destruction stops it: SIGTERM (squid: SIGINT), SIGKILL to its process group
// after 3 s, a bounded wait for it, and removal of the temporary directory.
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

// Apache (Debian's apache2, binary /usr/sbin/apache2) serving a directory on 127.0.0.1, in the
// foreground ("-DFOREGROUND") with a configuration file of its own (none of /etc/apache2's
// sites, conf and mods): the modules mpm_event, authz_core, mime (types from /etc/mime.types),
// dir and alias loaded from /usr/lib/apache2/modules, Apache's defaults otherwise (GET, HEAD,
// Range requests, keep-alive). "ServerName 127.0.0.1", so that apache2 looks up no name.
// The error log is at notice level and above.
//
// Started as root, apache2 switches its worker processes to www-data (nobody if there is no
// www-data), and they must reach the files: the served directory gets search permission for
// others (o+x; mkdtemp makes directories 0700) if www-data cannot pass through it, and the
// constructor throws if a directory above it is closed to www-data. Its files must be readable
// by others (the default umask gives that). As any other user it runs as that user.
//
// Measured on Debian 12 (apache2 2.4.71): it accepts 20 to 50 ms after it is started. A
// relative target of mod_alias's Redirect ("Redirect 302 /r/f.bin /d/f.bin") becomes an
// absolute Location built from the request's Host line, port included: "Host: 127.0.0.1"
// gives "http://127.0.0.1/d/f.bin" (so port 80, not the port the request reached),
// "Host: 127.0.0.1:PORT" gives "http://127.0.0.1:PORT/d/f.bin", and a request without Host
// gets ServerName's "http://127.0.0.1/d/f.bin". An HTTP/1.0 request with a Range header gets
// "HTTP/1.1 206 Partial Content" with that slice (its status line says HTTP/1.1 to HTTP/1.0
// requests too). An HTTP/1.0 request without "Connection: keep-alive" gets "Connection:
// close" and the end of the connection after the body; with it, "Connection: Keep-Alive"
// ("Keep-Alive: timeout=5, max=100") and the connection stays open for the next request.
// Replies to files carry Accept-Ranges, Last-Modified and an ETag (weak, W/"...", while the
// file is less than a second old).
class ApacheServer : public OriginServer {
  public:
    // True if the apache2 binary is found in PATH or /usr/sbin, /usr/local/sbin, /sbin; else
    // false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Serves `root` (made absolute; it must be a directory). `extraConfig` is pasted into the
    // configuration at server level (e.g. "Redirect 302 /r/f.bin /d/f.bin"). Blocks and throws
    // as said at RealPeer.
    explicit ApacheServer(const std::string &root, const std::string &extraConfig = "");
};

// squid (Debian's squid 5) as an HTTP proxy on 127.0.0.1 with Debian's default configuration,
// /etc/squid/squid.conf (and the /etc/squid/conf.d/*.conf it includes), as users run it, with
// only what a private instance needs changed: its http_port lines replaced by 127.0.0.1 on an
// ephemeral port; its pid file, cache.log and access log (stdio, native format) in the
// temporary directory; no netdb file; "visible_hostname localhost", so that squid looks up no
// name of this machine; "pinger_enable off": squid starts its ICMP helper, pinger, in a
// session of its own, where stopping squid's process group does not reach it, and it outlived
// squid by 10 to 15 s (it only measures distances to origins for choosing among cache peers,
// and there are none). Runs in the foreground ("-N"), as one process, with no disk cache (the
// defaults have no cache_dir: memory only).
// Started as root it switches to the account proxy (squid's default; nobody if there is no
// proxy), which gets the temporary directory; as any other user it runs as that user.
//
// Debian's access rules already let this through and are kept as they are: clients from
// localhost are allowed ("http_access allow localhost"), loopback origins are not denied
// ("http_access deny to_localhost" is commented out), and ports 1025-65535 are Safe_ports.
//
// Measured on Debian 12 (squid 5.7): it accepts about 100 ms (86 to 152 ms) after it is
// started, well within the bounded wait of every peer; it writes its pid file before it opens
// its port, so readiness is its cache.log line "Accepting HTTP Socket connections at ...
// local=127.0.0.1:PORT". It is stopped with SIGINT, its shutdown without the wait for open
// connections: SIGTERM waits shutdown_lifetime (30 s) and then 1 s more even with none open;
// SIGINT takes about 2 s (1.8 to 2.1 s). An HTTP/1.0 request (absolute URL) with
// "Proxy-Connection: Keep-Alive" gets "HTTP/1.1 200 OK" with the origin's Content-Length and
// "Connection: keep-alive", and the connection stays open after the body and carries the next
// request: such a client must stop reading at Content-Length. Without that header the reply
// says "Connection: close" and squid closes the connection after the body. Replies carry Via,
// X-Cache and X-Cache-Lookup; squid asks the origin in HTTP/1.1.
class SquidProxy : public RealPeer {
  public:
    // A user of a proxy that asks for Basic credentials.
    struct User {
        std::string name, password;
    };

    // True if the squid binary is found in PATH or /usr/sbin, /usr/local/sbin, /sbin; else
    // false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Starts the proxy. Blocks and throws as said at RealPeer. With `users`, every request
    // must carry the Basic credentials of one of them (basic_ncsa_auth with a password file
    // of the instance's own, realm "download-test"): squid answers 407 otherwise, and the
    // access log names the user. CONNECT is let through to every port above 1024 as well.
    explicit SquidProxy(std::vector<User> users = {});
    // The same with NTLM instead of Basic, through squid's ntlm_fake_auth: any well-formed
    // handshake is accepted, and the access log names the user of its last message. squid
    // ties the authentication to the connection it was made on.
    struct FakeNtlm {};
    explicit SquidProxy(FakeNtlm);

    // Contents of squid's access log, native format, one line per finished request, e.g.
    //   1796754182.169     27 127.0.0.1 TCP_MISS/200 100312 GET http://127.0.0.1:PORT/f.bin
    //   - HIER_DIRECT/127.0.0.1 application/octet-stream
    // (on one line; the bytes are those sent to the client, headers included). The start-up
    // probe's connection shows up as "NONE_NONE/000 0 - error:transaction-end-before-headers".
    std::string Log() const;
    // Waits until the access log contains `needle`, polling every 5 ms; false after `timeout`.
    bool WaitForLog(const std::string &needle, std::chrono::milliseconds timeout = 2s) const;
    // squid's cache.log: start-up, warnings, errors.
    std::string CacheLog() const;
};

// python3's http.server ("python3 -I -u -m http.server --bind 127.0.0.1 --directory ROOT
// PORT") serving a directory on 127.0.0.1: GET and HEAD of files and directory listings, one
// request per connection, replies "HTTP/1.0", no Range support. It writes no pid file: it is
// ready once it has printed "Serving HTTP on 127.0.0.1 port PORT" and accepts connections.
//
// AccessLog() is made from its request lines on stderr ('127.0.0.1 - - [date] "GET /f HTTP/1.0"
// 200 -'), which it writes when it starts a reply, not after it: the body bytes are the
// file's size (as it is when the log is read) for a 200 to GET, 0 for a 200 to HEAD and "-"
// otherwise, and the Range header is always "-" (python does not log it). ErrorLog() is its
// whole output (stdout and stderr).
//
// Measured on Debian 12 (python 3.11.2, and 3.11.7 found first in root's PATH here): it
// accepts 200 to 450 ms after it is started. An HTTP/1.0 or HTTP/1.1 request with
// "Range: bytes=100-199" gets "HTTP/1.0 200 OK" with the whole file: no Content-Range, no
// Accept-Ranges; the connection is closed after the body. Replies carry Content-Length and
// Last-Modified but no ETag, and write "Content-type".
class PythonHttpServer : public OriginServer {
  public:
    // True if python3 is found in PATH or /usr/bin, /usr/local/bin; else false with the reason
    // in *why.
    static bool Available(std::string *why = nullptr);

    // Serves `root` (made absolute; it must be a directory). Blocks and throws as said at
    // RealPeer.
    explicit PythonHttpServer(const std::string &root);
};

// mini_httpd (Debian package mini-httpd) serving a directory on 127.0.0.1, in the foreground
// ("-D"), configured by its arguments, one forked process per connection. Started as root it
// switches to nobody, with the served directory made reachable as for ApacheServer; as any
// other user it runs as that user. AccessLog() is made from its own log, which it writes
// before the reply: the body bytes as it logs them (the file's length; 0 for HEAD), the Range
// header always "-". ErrorLog() is its output (stdout and stderr).
//
// The start-up probe's connection shows up in the log as '"UNKNOWN  UNKNOWN" 400 -'.
//
// Measured on Debian 12 (mini_httpd 1.30): it accepts about 10 ms after it is started. It
// ignores Range in HTTP/1.0 and HTTP/1.1 requests alike (a 200 with the whole file, no
// Content-Range, no Accept-Ranges), repeats the request's version in its status line
// ("HTTP/1.0 200 Ok", "HTTP/1.1 200 Ok") and sends "Connection: close" and closes after every
// reply.
class MiniHttpd : public OriginServer {
  public:
    // True if the mini_httpd binary is found in PATH or /usr/sbin, /usr/local/sbin, /sbin;
    // else false with the reason in *why.
    static bool Available(std::string *why = nullptr);

    // Serves `root` (made absolute; it must be a directory). Blocks and throws as said at
    // RealPeer.
    explicit MiniHttpd(const std::string &root);
};

} // namespace testsupport
