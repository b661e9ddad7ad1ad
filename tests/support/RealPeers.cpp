#include "tests/support/RealPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kStartTimeout = 5s; // per launch attempt
constexpr int kPortAttempts = 5;   // fresh ports tried when the chosen one was taken
constexpr auto kTermTimeout = 3s;  // SIGTERM grace before SIGKILL
constexpr auto kKillTimeout = 2s;  // wait after SIGKILL before giving up on the child
constexpr auto kPollStep = 5ms;
constexpr size_t kLogTail = 4096; // bytes of each log quoted in an error message

// Both origin servers write these two files in their temporary directory.
constexpr const char *kAccessLog = "access.log";
constexpr const char *kErrorLog = "error.log";

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string Tail(const std::string &text) {
    return text.size() <= kLogTail ? text : "..." + text.substr(text.size() - kLogTail);
}

// Looks for an executable `name` in PATH and then in `extraDirs` (root's sbin directories are
// often missing from a normal user's PATH); empty if none.
std::string FindBinary(const std::string &name, const std::vector<std::string> &extraDirs) {
    std::vector<std::string> dirs;
    if (const char *path = std::getenv("PATH")) {
        std::string p = path;
        size_t start = 0;
        while (start <= p.size()) {
            size_t end = p.find(':', start);
            if (end == std::string::npos)
                end = p.size();
            if (end > start)
                dirs.push_back(p.substr(start, end - start));
            start = end + 1;
        }
    }
    dirs.insert(dirs.end(), extraDirs.begin(), extraDirs.end());
    for (const auto &dir : dirs) {
        std::string candidate = dir + "/" + name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// One kind of peer: its executable, where to look for it beyond PATH, the Debian package with
// it, the logs it writes in its directory, the texts in them that mean "the port was taken",
// a subdirectory it needs for its own temporary files ("" for none), and its arguments for
// running in the foreground with the configuration file `conf` and its files in `dir`.
struct PeerKind {
    std::string name;
    std::vector<std::string> extraDirs;
    std::string package;
    std::vector<std::string> logFiles;
    std::vector<std::string> bindFailureMarkers;
    std::string workDir;
    std::vector<std::string> (*args)(const std::string &dir, const std::string &conf);
};

const std::vector<std::string> kSbinDirs = {"/usr/sbin", "/usr/local/sbin", "/sbin"};
constexpr const char *kProxyLog = "tinyproxy.log";
using Args = std::vector<std::string>;

const PeerKind kNginx = {"nginx",
                         kSbinDirs,
                         "nginx",
                         {kErrorLog, kAccessLog},
                         {"Address already in use"},
                         "temp",
                         // -e: the error log used before the configuration is read (else
                         // /var/log/nginx).
                         [](const std::string &dir, const std::string &conf) -> Args {
                             return {"-p", dir + "/", "-c", conf, "-e", dir + "/" + kErrorLog};
                         }};
// lighttpd: "can't bind to socket: 127.0.0.1:PORT: Address already in use", on stderr.
const PeerKind kLighttpd = {"lighttpd",
                            kSbinDirs,
                            "lighttpd",
                            {kErrorLog, kAccessLog},
                            {"Address already in use"},
                            "upload",
                            [](const std::string &, const std::string &conf) -> Args {
                                return {"-D", "-f", conf};
                            }};
// tinyproxy only says these (on stderr) when its bind fails.
const PeerKind kTinyproxy = {"tinyproxy",
                             {"/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"},
                             "tinyproxy",
                             {kProxyLog},
                             {"Could not create listening sockets", "Address already in use"},
                             "",
                             [](const std::string &, const std::string &conf) -> Args {
                                 return {"-d", "-c", conf};
                             }};

bool BinaryAvailable(const PeerKind &binary, std::string *why) {
    if (!FindBinary(binary.name, binary.extraDirs).empty())
        return true;
    if (why) {
        std::string dirs;
        for (const auto &d : binary.extraDirs)
            dirs += ", " + d;
        *why = binary.name + " not found in PATH" + dirs + " (Debian package " + binary.package +
               ", installed by scripts/setup)";
    }
    return false;
}

// The binary's path; throws std::runtime_error with the reason if it is missing.
std::string RequireBinary(const PeerKind &binary) {
    std::string path = FindBinary(binary.name, binary.extraDirs);
    if (path.empty()) {
        std::string why;
        BinaryAvailable(binary, &why);
        throw std::runtime_error(why);
    }
    return path;
}

// `root` made absolute; throws std::runtime_error if it is not a directory.
std::string RequireDirectory(const std::string &root, const std::string &peer) {
    std::error_code ec;
    std::string absRoot = fs::absolute(root, ec).string();
    if (ec || !fs::is_directory(absRoot, ec))
        throw std::runtime_error(peer + " root is not a directory: " + root);
    return absRoot;
}

// A port that was free on 127.0.0.1 a moment ago: bind port 0, read it back, close. Another
// process may take it before the peer binds it; the caller retries on a bind failure.
uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        int err = errno;
        close(fd);
        throw std::system_error(err, std::generic_category(), "bind 127.0.0.1:0");
    }
    close(fd);
    return ntohs(addr.sin_port);
}

// True if a TCP connect to 127.0.0.1:port succeeds within 200 ms.
bool CanConnect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    timeval tv{};
    tv.tv_usec = 200 * 1000;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

// Quotes a value for nginx's, lighttpd's and tinyproxy's configuration syntax.
std::string Quote(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string StatusText(int status) {
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    explicit TempDir(const std::string &prefix) {
        const char *tmp = std::getenv("TMPDIR");
        std::string base = tmp && *tmp ? tmp : "/tmp";
        std::string pattern = base + "/" + prefix + "XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return path_; }

  private:
    std::string path_;
};

} // namespace

// How to launch one kind of peer.
struct PeerLaunch {
    std::string name; // for messages, e.g. "nginx"
    // Writes the configuration for `port` into `dir` and returns argv (argv[0] = binary).
    std::function<std::vector<std::string>(const std::string &dir, uint16_t port)> prepare;
    std::string pidFile;               // relative to the directory; holds the pid once bound
    std::vector<std::string> logFiles; // relative; quoted in errors, removed before a retry
    std::vector<std::string> bindFailureMarkers; // texts meaning "the port was taken"
};

namespace {

// The launch of `kind`: DIR/WORKDIR is made, `config(dir, port)` is written to DIR/NAME.conf,
// argv is the binary followed by kind.args(dir, conf) (conf: that file's path), and the peer
// writes its pid to DIR/NAME.pid.
PeerLaunch
ConfiguredLaunch(const PeerKind &kind,
                 std::function<std::string(const std::string &dir, uint16_t port)> config) {
    std::string binary = RequireBinary(kind);
    PeerLaunch launch;
    launch.name = kind.name;
    launch.pidFile = kind.name + ".pid";
    launch.logFiles = kind.logFiles;
    launch.bindFailureMarkers = kind.bindFailureMarkers;
    launch.prepare = [binary, conf = kind.name + ".conf", workDir = kind.workDir,
                      config = std::move(config),
                      args = kind.args](const std::string &dir, uint16_t port) {
        if (!workDir.empty())
            fs::create_directories(dir + "/" + workDir);
        std::string path = dir + "/" + conf;
        WriteWholeFile(path, config(dir, port));
        std::vector<std::string> argv = args(dir, path);
        argv.insert(argv.begin(), binary);
        return argv;
    };
    return launch;
}

// An origin server's configuration for `port`, its files in `dir`, serving `root` (absolute),
// with the caller's `extra` configuration.
using OriginConfig = std::function<std::string(const std::string &dir, uint16_t port,
                                               const std::string &root, const std::string &extra)>;

// ConfiguredLaunch for an origin server serving `root` (made absolute; it must be a directory).
PeerLaunch OriginLaunch(const PeerKind &kind, const std::string &root, const std::string &extra,
                        OriginConfig config) {
    std::string absRoot = RequireDirectory(root, kind.name);
    return ConfiguredLaunch(kind, [config, absRoot, extra](const std::string &dir, uint16_t port) {
        return config(dir, port, absRoot, extra);
    });
}

} // namespace

// One running peer: its temporary directory, its process and its port.
class PeerProcess {
  public:
    explicit PeerProcess(PeerLaunch launch)
        : launch_(std::move(launch)), dir_("realpeer-" + launch_.name + "-") {
        Start();
    }
    ~PeerProcess() { Stop(); }

    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;

    uint16_t Port() const { return port_; }
    std::chrono::milliseconds StartupTime() const { return startup_; }
    std::string File(const std::string &relative) const { return dir_.Path() + "/" + relative; }
    std::string Read(const std::string &relative) const { return ReadWholeFile(File(relative)); }

    bool WaitFor(const std::string &relative, const std::string &needle,
                 std::chrono::milliseconds timeout) const {
        auto deadline = Clock::now() + timeout;
        for (;;) {
            if (Read(relative).find(needle) != std::string::npos)
                return true;
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(kPollStep);
        }
    }

  private:
    static constexpr const char *kOutput = "output.log"; // the child's stdout and stderr

    void Start() {
        std::string lastFailure;
        for (int attempt = 1; attempt <= kPortAttempts; ++attempt) {
            std::error_code ec;
            for (const auto &f : launch_.logFiles)
                fs::remove(File(f), ec);
            fs::remove(File(launch_.pidFile), ec);
            port_ = FreePort();
            std::vector<std::string> argv = launch_.prepare(dir_.Path(), port_);
            auto started = Clock::now();
            Spawn(argv);
            std::string failure = WaitUntilAccepting(started);
            if (failure.empty()) {
                startup_ =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
                return;
            }
            Stop();
            std::string logs = Logs();
            lastFailure = launch_.name + " on 127.0.0.1:" + std::to_string(port_) + ": " + failure +
                          "\n" + logs;
            if (!PortWasTaken(logs))
                break;
        }
        throw std::runtime_error(lastFailure);
    }

    // Forks and execs argv with stdin from /dev/null and stdout/stderr into output.log, in a
    // process group of its own, killed when the forking thread dies, and with no descriptor
    // of ours beyond 0-2 (an inherited socket would keep a test's connection half alive).
    void Spawn(const std::vector<std::string> &argv) {
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        int out = open(File(kOutput).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0) {
            int err = errno;
            if (out >= 0)
                close(out);
            if (in >= 0)
                close(in);
            throw std::system_error(err, std::generic_category(), "open output of " + argv[0]);
        }
        long maxFd = sysconf(_SC_OPEN_MAX);
        if (maxFd < 0 || maxFd > 65536)
            maxFd = 65536;
        pid_t parent = getpid();

        pid_t pid = fork();
        if (pid == 0) {
            // Only async-signal-safe calls from here to exec: the test process has threads.
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            // Ignored signals and the signal mask survive exec; the peer needs the defaults.
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2})
                sigaction(sig, &dfl, nullptr);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            if (close_range(3, ~0U, 0) != 0)
                for (long fd = 3; fd < maxFd; ++fd)
                    close(static_cast<int>(fd));
            execv(args[0], args.data());
            _exit(127);
        }
        int err = errno;
        close(out);
        close(in);
        if (pid < 0)
            throw std::system_error(err, std::generic_category(), "fork for " + argv[0]);
        pid_ = pid;
    }

    // Polls until the pid file holds the child's pid and a connect succeeds (ready: ""), the
    // child exits, the logs report a taken port, or kStartTimeout passes (the failure's
    // description).
    std::string WaitUntilAccepting(Clock::time_point started) {
        auto deadline = started + kStartTimeout;
        for (;;) {
            int status = 0;
            if (HasExited(&status)) {
                Reap();
                return "exited with " + StatusText(status) + " before accepting connections";
            }
            // The pid is written after the listening socket is bound (lighttpd creates the file
            // empty before), so a connect then reaches this peer and not a process that took
            // the port in between.
            if (PidFileNamesChild() && CanConnect(port_) && !HasExited(&status))
                return {};
            // nginx retries a taken port for 2.5 s before it gives up: do not wait for that.
            if (PortWasTaken(Logs()))
                return "the port was taken before it could bind it";
            if (Clock::now() >= deadline)
                return "did not accept connections within " +
                       std::to_string(
                           std::chrono::duration_cast<std::chrono::milliseconds>(kStartTimeout)
                               .count()) +
                       " ms";
            std::this_thread::sleep_for(kPollStep);
        }
    }

    bool PidFileNamesChild() const {
        std::string text = Read(launch_.pidFile);
        char *end = nullptr;
        long pid = std::strtol(text.c_str(), &end, 10);
        return end != text.c_str() && (*end == '\n' || *end == '\0') && pid == pid_;
    }

    // True once the child has exited (or cannot be waited for); leaves it unreaped so that
    // its pid, and so its process group id, cannot be reused meanwhile.
    bool HasExited(int *status) const {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
            return errno != EINTR;
        if (info.si_pid == 0)
            return false;
        if (status) {
            *status =
                info.si_code == CLD_EXITED ? (info.si_status & 0xff) << 8 : (info.si_status & 0x7f);
        }
        return true;
    }

    bool WaitExited(std::chrono::milliseconds timeout) const {
        auto deadline = Clock::now() + timeout;
        while (!HasExited(nullptr)) {
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(kPollStep);
        }
        return true;
    }

    // Kills whatever is left in the child's process group, then collects the child.
    void Reap() {
        kill(-pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

    void Stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        if (!WaitExited(kTermTimeout)) {
            kill(-pid_, SIGKILL);
            if (!WaitExited(kKillTimeout)) {
                // Stuck in the kernel: leave it rather than block the test run forever.
                std::fprintf(stderr, "%s (pid %d) did not die after SIGKILL\n",
                             launch_.name.c_str(), static_cast<int>(pid_));
                pid_ = -1;
                return;
            }
        }
        Reap();
    }

    std::string Logs() const {
        std::string text;
        std::vector<std::string> files = launch_.logFiles;
        files.push_back(kOutput);
        for (const auto &f : files) {
            std::string content = Read(f);
            if (!content.empty())
                text += "--- " + f + " ---\n" + Tail(content) + "\n";
        }
        return text;
    }

    bool PortWasTaken(const std::string &logs) const {
        for (const auto &marker : launch_.bindFailureMarkers)
            if (logs.find(marker) != std::string::npos)
                return true;
        return false;
    }

    PeerLaunch launch_;
    TempDir dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::chrono::milliseconds startup_{0};
};

// ---- what every peer offers ----

RealPeer::RealPeer(PeerLaunch launch)
    : process_(std::make_unique<PeerProcess>(std::move(launch))) {}

RealPeer::~RealPeer() = default;

uint16_t RealPeer::Port() const {
    return process_->Port();
}

std::chrono::milliseconds RealPeer::StartupTime() const {
    return process_->StartupTime();
}

std::string OriginServer::AccessLog() const {
    return process_->Read(kAccessLog);
}

bool OriginServer::WaitForAccessLog(const std::string &needle,
                                    std::chrono::milliseconds timeout) const {
    return process_->WaitFor(kAccessLog, needle, timeout);
}

std::string OriginServer::ErrorLog() const {
    return process_->Read(kErrorLog);
}

namespace {

// ---- nginx ----

// The whole configuration: every path inside `dir` (Debian's compiled-in log and temp paths
// under /var would otherwise be used), listening on 127.0.0.1 only.
std::string NginxConfig(const std::string &dir, uint16_t port, const std::string &root,
                        const std::string &extra, const NginxTls *tls = nullptr) {
    std::string d = dir + "/";
    std::ostringstream c;
    c << "daemon off;\n"
      << "master_process off;\n"
      << "pid " << Quote(d + "nginx.pid") << ";\n"
      << "error_log " << Quote(d + kErrorLog) << " notice;\n"
      << "events { worker_connections 256; }\n"
      << "http {\n"
      << "  types { text/html html htm; text/plain txt; application/json json; }\n"
      << "  default_type application/octet-stream;\n"
      << "  log_format peers '$remote_addr \"$request\" $status $body_bytes_sent "
         "\"$http_range\"';\n"
      << "  access_log " << Quote(d + kAccessLog) << " peers;\n"
      << "  client_body_temp_path " << Quote(d + "temp/body") << ";\n"
      << "  proxy_temp_path " << Quote(d + "temp/proxy") << ";\n"
      << "  fastcgi_temp_path " << Quote(d + "temp/fastcgi") << ";\n"
      << "  uwsgi_temp_path " << Quote(d + "temp/uwsgi") << ";\n"
      << "  scgi_temp_path " << Quote(d + "temp/scgi") << ";\n"
      << "  keepalive_timeout 15s;\n"
      << "  server {\n"
      << "    listen 127.0.0.1:" << port << (tls ? " ssl" : "") << ";\n"
      << "    server_name localhost;\n";
    if (tls)
        c << "    ssl_certificate " << Quote(tls->certificate) << ";\n"
          << "    ssl_certificate_key " << Quote(tls->key) << ";\n";
    c << "    root " << Quote(root) << ";\n"
      << "    " << extra << "\n"
      << "  }\n"
      << "}\n";
    return c.str();
}

// ---- lighttpd ----

// Quotes a word for /bin/sh.
std::string ShellQuote(const std::string &s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The whole configuration: every path inside `dir`, listening on 127.0.0.1 only, no
// server.username (so no change of user, as root too), the same access log line as nginx's.
// lighttpd's own access log file is buffered and written about 2 s late; a piped logger gets
// each line as soon as the request is done, so the log goes through cat.
std::string LighttpdConfig(const std::string &dir, uint16_t port, const std::string &root,
                           const std::string &extra) {
    std::string d = dir + "/";
    std::ostringstream c;
    c << "server.modules = ( \"mod_indexfile\", \"mod_accesslog\" )\n"
      << "server.document-root = " << Quote(root) << "\n"
      << "server.bind = \"127.0.0.1\"\n"
      << "server.port = " << port << "\n"
      << "server.pid-file = " << Quote(d + "lighttpd.pid") << "\n"
      << "server.errorlog = " << Quote(d + kErrorLog) << "\n"
      << "server.upload-dirs = ( " << Quote(d + "upload") << " )\n"
      << "server.max-keep-alive-idle = 15\n"
      << "index-file.names = ( \"index.html\" )\n"
      << "mimetype.assign = ( \".html\" => \"text/html\", \".htm\" => \"text/html\", "
         "\".txt\" => \"text/plain\", \".json\" => \"application/json\" )\n"
      << "accesslog.filename = " << Quote("|exec /bin/cat >> " + ShellQuote(d + kAccessLog)) << "\n"
      << "accesslog.format = " << Quote("%h \"%r\" %>s %b \"%{Range}i\"") << "\n"
      << extra << "\n";
    return c.str();
}

// ---- tinyproxy ----

// The names of the current user and group: tinyproxy started as root switches to its User
// and Group, and running as ourselves keeps the temporary directory readable and writable.
std::pair<std::string, std::string> CurrentUserAndGroup() {
    std::string userName = std::to_string(geteuid());
    std::string groupName = std::to_string(getegid());
    std::vector<char> buf(16384);
    struct passwd pw {};
    struct passwd *pwp = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &pwp) == 0 && pwp)
        userName = pwp->pw_name;
    struct group gr {};
    struct group *grp = nullptr;
    if (getgrgid_r(getegid(), &gr, buf.data(), buf.size(), &grp) == 0 && grp)
        groupName = grp->gr_name;
    return {userName, groupName};
}

// Clients from 127.0.0.1 only; no Filter, no upstream proxy and no ConnectPort lines, so any
// origin (loopback included) and, for CONNECT, any port is allowed.
std::string TinyproxyConfig(const std::string &dir, uint16_t port) {
    auto [user, group] = CurrentUserAndGroup();
    std::ostringstream c;
    c << "Port " << port << "\n"
      << "Listen 127.0.0.1\n"
      << "Allow 127.0.0.1\n"
      << "User " << user << "\n"
      << "Group " << group << "\n"
      << "PidFile " << Quote(dir + "/tinyproxy.pid") << "\n"
      << "LogFile " << Quote(dir + "/" + kProxyLog) << "\n"
      << "LogLevel Info\n"
      << "Timeout 30\n"
      << "MaxClients 64\n";
    return c.str();
}

} // namespace

// ---- the peers ----

bool NginxServer::Available(std::string *why) {
    return BinaryAvailable(kNginx, why);
}

bool LighttpdServer::Available(std::string *why) {
    return BinaryAvailable(kLighttpd, why);
}

bool HttpProxy::Available(std::string *why) {
    return BinaryAvailable(kTinyproxy, why);
}

NginxServer::NginxServer(const std::string &root, const std::string &extraServerConfig)
    : OriginServer(OriginLaunch(
          kNginx, root, extraServerConfig,
          [](const std::string &dir, uint16_t port, const std::string &absRoot,
             const std::string &extra) { return NginxConfig(dir, port, absRoot, extra); })) {}

NginxServer::NginxServer(const std::string &root, const NginxTls &tls,
                         const std::string &extraServerConfig)
    : OriginServer(OriginLaunch(kNginx, root, extraServerConfig,
                                [tls](const std::string &dir, uint16_t port,
                                      const std::string &absRoot, const std::string &extra) {
                                    return NginxConfig(dir, port, absRoot, extra, &tls);
                                })) {}

LighttpdServer::LighttpdServer(const std::string &root, const std::string &extraConfig)
    : OriginServer(OriginLaunch(kLighttpd, root, extraConfig, LighttpdConfig)) {}

HttpProxy::HttpProxy() : RealPeer(ConfiguredLaunch(kTinyproxy, TinyproxyConfig)) {}

std::string HttpProxy::Log() const {
    return process_->Read(kProxyLog);
}

bool HttpProxy::WaitForLog(const std::string &needle, std::chrono::milliseconds timeout) const {
    return process_->WaitFor(kProxyLog, needle, timeout);
}

} // namespace testsupport
