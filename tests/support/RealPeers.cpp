#include "tests/support/RealPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <crypt.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Per launch attempt; generous, since a machine running the whole suite can take seconds to
// start a Python interpreter.
constexpr auto kStartTimeout = 30s;
constexpr int kPortAttempts = 5;   // fresh ports tried when the chosen one was taken
constexpr auto kTermTimeout = 3s;  // SIGTERM grace before SIGKILL
constexpr auto kKillTimeout = 2s;  // wait after SIGKILL before giving up on the child
constexpr auto kPollStep = 5ms;
constexpr size_t kLogTail = 4096; // bytes of each log quoted in an error message

// nginx, lighttpd and apache2 write these two files in their temporary directory (mini_httpd
// the access log only, python's http.server neither: their output takes the place).
constexpr const char *kAccessLog = "access.log";
constexpr const char *kErrorLog = "error.log";
// Every peer's stdout and stderr.
constexpr const char *kOutputLog = "output.log";

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

// apache2: "(98)Address already in use: AH00072: make_sock: could not bind to address ...",
// on stderr. Debian's binary is run directly, without apache2ctl and /etc/apache2/envvars.
const PeerKind kApache = {"apache2",
                          kSbinDirs,
                          "apache2",
                          {kErrorLog, kAccessLog},
                          {"Address already in use"},
                          "",
                          [](const std::string &, const std::string &conf) -> Args {
                              return {"-f", conf, "-DFOREGROUND"};
                          }};
// squid: "commBind Cannot bind socket FD 11 to 127.0.0.1:PORT: (98) Address already in use",
// in its cache.log. -N: no daemon, and a single process (no separate master and worker).
constexpr const char *kSquidCacheLog = "cache.log";
const PeerKind kSquid = {"squid",
                         kSbinDirs,
                         "squid",
                         {kSquidCacheLog, kAccessLog},
                         {"Address already in use"},
                         "",
                         [](const std::string &, const std::string &conf) -> Args {
                             return {"-N", "-f", conf};
                         }};
// python3 -m http.server: "OSError: [Errno 98] Address already in use", on stderr. It has no
// configuration file: PythonLaunch makes its arguments.
const PeerKind kPython = {
    "python3", {"/usr/bin", "/usr/local/bin"}, "python3", {}, {"Address already in use"}, "",
    nullptr,
};

// mini_httpd: "bind: Address already in use", on stderr. It is configured by its
// arguments: MiniHttpdLaunch makes them.
const PeerKind kMiniHttpd = {
    "mini_httpd", kSbinDirs, "mini-httpd", {kAccessLog}, {"Address already in use"}, "", nullptr,
};

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
    std::string pidFile; // relative to the directory; holds the pid once bound ("": none)
    // If set, the text that `boundFile` (relative) holds once the peer has bound `port`: for a
    // peer without a pid file, or one that writes it before binding.
    std::function<std::string(uint16_t port)> boundText;
    std::string boundFile = kOutputLog;
    std::vector<std::string> logFiles; // relative; quoted in errors, removed before a retry
    std::vector<std::string> bindFailureMarkers; // texts meaning "the port was taken"
    // An origin server's access log (relative), and for a server whose log has a format of its
    // own, the conversion of its text to the lines described at OriginServer::AccessLog.
    std::string accessLog = kAccessLog;
    std::function<std::string(const std::string &text)> accessLogFormat;
    std::string errorLog = kErrorLog; // an origin server's error log (relative)
    int stopSignal = SIGTERM;         // sent first on stopping, SIGKILL after kTermTimeout
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

    std::string ErrorLog() const { return Read(launch_.errorLog); }

    std::string AccessLog() const {
        std::string text = Read(launch_.accessLog);
        return launch_.accessLogFormat ? launch_.accessLogFormat(text) : text;
    }

    bool WaitFor(const std::string &relative, const std::string &needle,
                 std::chrono::milliseconds timeout) const {
        return WaitFor([&] { return Read(relative); }, needle, timeout);
    }

    bool WaitForAccessLog(const std::string &needle, std::chrono::milliseconds timeout) const {
        return WaitFor([&] { return AccessLog(); }, needle, timeout);
    }

  private:
    static constexpr const char *kOutput = kOutputLog; // the child's stdout and stderr

    bool WaitFor(const std::function<std::string()> &read, const std::string &needle,
                 std::chrono::milliseconds timeout) const {
        auto deadline = Clock::now() + timeout;
        for (;;) {
            if (read().find(needle) != std::string::npos)
                return true;
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(kPollStep);
        }
    }

    void Start() {
        std::string lastFailure;
        for (int attempt = 1; attempt <= kPortAttempts; ++attempt) {
            std::error_code ec;
            for (const auto &f : launch_.logFiles)
                fs::remove(File(f), ec);
            if (!launch_.pidFile.empty())
                fs::remove(File(launch_.pidFile), ec);
            if (launch_.boundText && launch_.boundFile != kOutput)
                fs::remove(File(launch_.boundFile), ec);
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

    // Polls until the pid file holds the child's pid (or its output says it has bound the
    // port) and a connect succeeds (ready: ""), the child exits, the logs report a taken port,
    // or kStartTimeout passes (the failure's description).
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
            if (HasBound() && CanConnect(port_) && !HasExited(&status))
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

    bool HasBound() const {
        if (!launch_.pidFile.empty() && !PidFileNamesChild())
            return false;
        return !launch_.boundText ||
               Read(launch_.boundFile).find(launch_.boundText(port_)) != std::string::npos;
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
        kill(pid_, launch_.stopSignal);
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
    return process_->AccessLog();
}

bool OriginServer::WaitForAccessLog(const std::string &needle,
                                    std::chrono::milliseconds timeout) const {
    return process_->WaitForAccessLog(needle, timeout);
}

std::string OriginServer::ErrorLog() const {
    return process_->ErrorLog();
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
    // The extra lines may name the port as @PORT@ (to listen on more addresses with it).
    std::string lines = extra;
    for (size_t at = lines.find("@PORT@"); at != std::string::npos; at = lines.find("@PORT@", at))
        lines.replace(at, 6, std::to_string(port));
    c << "    root " << Quote(root) << ";\n"
      << "    " << lines << "\n"
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

// ---- servers started as root ----

// An account that a server started as root switches to.
struct Account {
    std::string user;
    std::string group; // the user's primary group
    uid_t uid = 0;
    gid_t gid = 0;
};

// The first of `names` that exists; throws std::runtime_error naming them if none does.
Account RequireAccount(const std::vector<std::string> &names, const std::string &peer) {
    std::vector<char> buf(16384);
    for (const auto &name : names) {
        struct passwd pw {};
        struct passwd *pwp = nullptr;
        if (getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &pwp) != 0 || !pwp)
            continue;
        Account a;
        a.user = pwp->pw_name;
        a.uid = pwp->pw_uid;
        a.gid = pwp->pw_gid;
        a.group = std::to_string(a.gid);
        std::vector<char> groupBuf(16384);
        struct group gr {};
        struct group *grp = nullptr;
        if (getgrgid_r(a.gid, &gr, groupBuf.data(), groupBuf.size(), &grp) == 0 && grp)
            a.group = grp->gr_name;
        return a;
    }
    std::string list;
    for (const auto &name : names)
        list += (list.empty() ? "" : " or ") + name;
    throw std::runtime_error(peer + " started as root needs an account to switch to, and there " +
                             "is no " + list);
}

// True if `account` may search (pass through) a directory with these attributes, judged by its
// user and primary group.
bool Searchable(const struct stat &st, const Account &account) {
    if (account.uid == 0)
        return true;
    if (st.st_uid == account.uid)
        return (st.st_mode & S_IXUSR) != 0;
    if (st.st_gid == account.gid)
        return (st.st_mode & S_IXGRP) != 0;
    return (st.st_mode & S_IXOTH) != 0;
}

// Lets `account` reach the files in the directory `absRoot`: adds search permission for others
// (o+x, not the right to list it) when the account cannot search it, as with a directory made
// by mkdtemp (mode 0700), and throws std::runtime_error if a directory above it is closed to
// the account (those are left as they are). The files themselves must be readable by others.
void LetAccountReach(const std::string &absRoot, const Account &account, const std::string &peer) {
    fs::path dir = fs::path(absRoot).lexically_normal();
    if (!dir.has_filename())
        dir = dir.parent_path();
    struct stat st {};
    for (fs::path up = dir.parent_path();; up = up.parent_path()) {
        if (stat(up.c_str(), &st) != 0)
            throw std::system_error(errno, std::generic_category(), "stat " + up.string());
        if (!Searchable(st, account))
            throw std::runtime_error(peer + " serves files as " + account.user +
                                     ", who cannot reach " + absRoot + ": " + up.string() +
                                     " is closed to it");
        if (up == up.root_path() || !up.has_relative_path())
            break;
    }
    if (stat(dir.c_str(), &st) != 0)
        throw std::system_error(errno, std::generic_category(), "stat " + dir.string());
    if (!Searchable(st, account) && chmod(dir.c_str(), (st.st_mode & 07777) | S_IXOTH) != 0)
        throw std::system_error(errno, std::generic_category(), "chmod o+x " + dir.string());
}

// ---- apache2 ----

constexpr const char *kApacheModules = "/usr/lib/apache2/modules";

// The whole configuration, none of Debian's /etc/apache2 (sites, conf and mods directories):
// the modules that static files and mod_alias's Redirect need, every path inside `dir`,
// listening on 127.0.0.1 only, the same access log line as nginx's. ServerName keeps apache2
// from looking up the machine's name. `account`: the User and Group that apache2 started as
// root switches its workers to (none: the current user, who cannot switch).
std::string ApacheConfig(const std::string &dir, uint16_t port, const std::string &root,
                         const std::string &extra, const std::optional<Account> &account) {
    std::string d = dir + "/";
    std::ostringstream c;
    c << "ServerRoot " << Quote(dir) << "\n"
      << "DefaultRuntimeDir " << Quote(dir) << "\n"
      << "PidFile " << Quote(d + "apache2.pid") << "\n";
    for (const char *module : {"mpm_event", "authz_core", "mime", "dir", "alias"})
        c << "LoadModule " << module << "_module "
          << Quote(std::string(kApacheModules) + "/mod_" + module + ".so") << "\n";
    if (account)
        c << "User " << Quote(account->user) << "\n"
          << "Group " << Quote(account->group) << "\n";
    c << "Listen 127.0.0.1:" << port << "\n"
      << "ServerName 127.0.0.1\n"
      << "ErrorLog " << Quote(d + kErrorLog) << "\n"
      << "LogLevel notice\n"
      << "LogFormat " << Quote("%a \"%r\" %>s %B \"%{Range}i\"") << " peers\n"
      << "CustomLog " << Quote(d + kAccessLog) << " peers\n"
      << "TypesConfig /etc/mime.types\n"
      << "DocumentRoot " << Quote(root) << "\n"
      << "<Directory />\n"
      << "  AllowOverride None\n"
      << "  Require all denied\n"
      << "</Directory>\n"
      << "<Directory " << Quote(root) << ">\n"
      << "  Require all granted\n"
      << "</Directory>\n"
      << "DirectoryIndex index.html\n"
      << extra << "\n";
    return c.str();
}

PeerLaunch ApacheLaunch(const std::string &root, const std::string &extra) {
    RequireBinary(kApache);
    std::optional<Account> account;
    if (geteuid() == 0) {
        account = RequireAccount({"www-data", "nobody"}, kApache.name);
        LetAccountReach(RequireDirectory(root, kApache.name), *account, kApache.name);
    }
    return OriginLaunch(kApache, root, extra,
                        [account](const std::string &dir, uint16_t port, const std::string &absRoot,
                                  const std::string &more) {
                            return ApacheConfig(dir, port, absRoot, more, account);
                        });
}

// ---- squid ----

constexpr const char *kSquidDefaults = "/etc/squid/squid.conf";

// Debian's default configuration without its comments and with its http_port lines commented
// out, followed by what a private instance needs: its port, its files in `dir`, no DNS
// look-up of the machine's name (visible_hostname), no ICMP helper (pinger_enable off: squid
// starts it in a session of its own, out of reach of the stop by process group, and it
// outlived squid by 10 to 15 s), and for squid started as root the account it switches to,
// which gets `dir` (squid writes its logs after switching).
// The password file of basic_ncsa_auth: "user:crypt" lines with MD5-based crypt hashes.
void WriteSquidPasswords(const std::string &path, const std::vector<SquidProxy::User> &users) {
    std::ofstream out(path);
    for (const SquidProxy::User &user : users) {
        const char *hash = crypt(user.password.c_str(), "$1$dltest$");
        if (!hash || hash[0] != '$')
            throw std::runtime_error("crypt cannot make an MD5 password hash here");
        out << user.name << ":" << hash << "\n";
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string SquidConfig(const std::string &dir, uint16_t port,
                        const std::optional<Account> &account,
                        const std::vector<SquidProxy::User> &users, bool ntlm) {
    std::error_code ec;
    if (!fs::is_regular_file(kSquidDefaults, ec))
        throw std::runtime_error(std::string("squid's default configuration ") + kSquidDefaults +
                                 " is missing (Debian package squid)");
    // squid takes the rest of the line as the value, with no quoting of spaces.
    if (dir.find_first_of(" \t\"'") != std::string::npos)
        throw std::runtime_error("squid cannot take a space or quote in its directory: " + dir);
    if (account && chown(dir.c_str(), account->uid, account->gid) != 0)
        throw std::system_error(errno, std::generic_category(),
                                "chown " + dir + " to " + account->user);
    std::ostringstream c;
    c << "# " << kSquidDefaults << ", its comments left out\n";
    std::istringstream defaults(ReadWholeFile(kSquidDefaults));
    std::string line;
    std::string d = dir + "/";
    bool authenticating = users.empty() && !ntlm;
    while (std::getline(defaults, line)) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        size_t end = line.find_first_of(" \t", first);
        const std::string directive =
            line.substr(first, end == std::string::npos ? end : end - first);
        if (directive == "http_access" && !authenticating) {
            // Before the first rule: credentials, then the defaults.
            c << "# a proxy that asks for credentials\n";
            if (ntlm) {
                c << "auth_param ntlm program /usr/lib/squid/ntlm_fake_auth\n"
                  << "auth_param ntlm children 2\n";
            } else {
                WriteSquidPasswords(d + "passwd", users);
                c << "auth_param basic program /usr/lib/squid/basic_ncsa_auth " << d << "passwd\n"
                  << "auth_param basic realm download-test\n";
            }
            c << "acl SSL_ports port 1025-65535\n"
              << "acl authenticated proxy_auth REQUIRED\n"
              << "http_access deny !authenticated\n";
            authenticating = true;
        }
        if (directive == "http_port")
            c << "# replaced below: ";
        c << line << "\n";
    }
    c << "\n# a private instance\n"
      << "http_port 127.0.0.1:" << port << "\n"
      << "pid_filename " << d << "squid.pid\n"
      << "cache_log " << d << kSquidCacheLog << "\n"
      << "access_log stdio:" << d << kAccessLog << "\n"
      << "coredump_dir " << dir << "\n"
      << "netdb_filename none\n"
      << "visible_hostname localhost\n"
      << "pinger_enable off\n";
    if (account)
        c << "cache_effective_user " << account->user << "\n";
    return c.str();
}

PeerLaunch SquidLaunch(const std::vector<SquidProxy::User> &users, bool ntlm) {
    RequireBinary(kSquid);
    std::optional<Account> account;
    if (geteuid() == 0)
        account = RequireAccount({"proxy", "nobody"}, kSquid.name);
    PeerLaunch launch =
        ConfiguredLaunch(kSquid, [account, users, ntlm](const std::string &dir, uint16_t port) {
            return SquidConfig(dir, port, account, users, ntlm);
        });
    // squid writes its pid file before it opens its port: wait for the port in its log,
    // "Accepting HTTP Socket connections at conn3 local=127.0.0.1:PORT remote=[::] FD 12 ...".
    launch.boundFile = kSquidCacheLog;
    launch.boundText = [](uint16_t port) {
        return " local=127.0.0.1:" + std::to_string(port) + " remote=";
    };
    // On SIGTERM squid waits shutdown_lifetime (30 s by default) for open connections, and
    // then 1 s more: about 31 s even with none. SIGINT is its shutdown without that wait,
    // measured at 1.8 s on Debian 12's squid 5.7.
    launch.stopSignal = SIGINT;
    return launch;
}

// ---- python3 -m http.server ----

// %XX escapes decoded; a malformed escape is kept as it is.
std::string PercentDecode(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The size in bytes of the file that http.server sends for `target` from `root` with a 200,
// as a decimal string, or "-" when it is not a plain file (a directory listing, for one).
std::string ServedFileSize(const std::string &root, const std::string &target) {
    std::string path = PercentDecode(target.substr(0, target.find_first_of("?#")));
    if (path.empty() || path[0] != '/' || path.find("/../") != std::string::npos ||
        path.find('\0') != std::string::npos)
        return "-";
    fs::path file = fs::path(root) / fs::path(path).relative_path();
    std::error_code ec;
    if (fs::is_directory(file, ec))
        file /= "index.html";
    auto size = fs::file_size(file, ec);
    return ec || !fs::is_regular_file(file, ec) ? "-" : std::to_string(size);
}

// The parts of a request's log line in the common log format of python's http.server and
// mini_httpd, 'CLIENT - USER [DATE] "REQUEST" STATUS SIZE' (mini_httpd adds the referrer and
// user agent in quotes); false for any other line.
struct LoggedRequest {
    std::string client;
    std::string request; // "GET /f HTTP/1.0"
    std::string status;
    std::string size; // as logged
};

bool ParseLoggedRequest(const std::string &line, LoggedRequest *out) {
    auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    size_t space = line.find(' ');
    size_t open = line.find("] \"");
    if (space == std::string::npos || line.compare(space, 3, " - ") != 0 ||
        open == std::string::npos)
        return false;
    // The request ends at the first '" ' followed by a three-digit status and a space.
    size_t close = line.find("\" ", open + 3);
    while (close != std::string::npos &&
           !(close + 6 < line.size() && isDigit(line[close + 2]) && isDigit(line[close + 3]) &&
             isDigit(line[close + 4]) && line[close + 5] == ' '))
        close = line.find("\" ", close + 1);
    if (close == std::string::npos)
        return false;
    out->client = line.substr(0, space);
    out->request = line.substr(open + 3, close - open - 3);
    out->status = line.substr(close + 2, 3);
    size_t sizeEnd = line.find(' ', close + 6);
    out->size =
        line.substr(close + 6, sizeEnd == std::string::npos ? sizeEnd : sizeEnd - close - 6);
    return !out->size.empty();
}

// The lines of OriginServer::AccessLog from a log of request lines as ParseLoggedRequest reads
// them, other lines left out; `body(request)` gives the body bytes to write.
std::string CommonAccessLog(const std::string &text,
                            const std::function<std::string(const LoggedRequest &)> &body) {
    std::istringstream in(text);
    std::string out;
    std::string line;
    LoggedRequest r;
    while (std::getline(in, line))
        if (ParseLoggedRequest(line, &r))
            out += r.client + " \"" + r.request + "\" " + r.status + " " + body(r) + " \"-\"\n";
    return out;
}

std::string RequestMethod(const std::string &request) {
    return request.substr(0, request.find(' '));
}

// python's http.server writes a line per request to stderr when it starts the reply,
//   127.0.0.1 - - [08/Dec/2026 18:23:02] "GET /f.bin HTTP/1.0" 200 -
// among other lines ("code 404, message File not found", the start-up line), always with "-"
// as the size. Body bytes here: the file's size (as it is now) for a 200 to GET, 0 for a 200
// to HEAD, "-" otherwise.
std::string PythonAccessLog(const std::string &text, const std::string &root) {
    return CommonAccessLog(text, [&root](const LoggedRequest &r) -> std::string {
        std::string method = RequestMethod(r.request);
        size_t targetEnd = r.request.rfind(' ');
        if (r.status != "200")
            return "-";
        if (method == "HEAD")
            return "0";
        if (method != "GET" || targetEnd == std::string::npos || targetEnd <= method.size())
            return "-";
        return ServedFileSize(root,
                              r.request.substr(method.size() + 1, targetEnd - method.size() - 1));
    });
}

// `python3 -I -u -m http.server --bind 127.0.0.1 --directory ROOT PORT`: isolated (no
// PYTHON* variables, no module from the current directory), unbuffered, so that its start-up
// line ("Serving HTTP on 127.0.0.1 port PORT (http://...) ...", printed once it listens)
// and its request lines reach the output file at once.
PeerLaunch PythonLaunch(const std::string &root) {
    std::string binary = RequireBinary(kPython);
    std::string absRoot = RequireDirectory(root, "python3 http.server");
    PeerLaunch launch;
    launch.name = kPython.name;
    launch.prepare = [binary, absRoot](const std::string &, uint16_t port) -> Args {
        return {binary,   "-I",        "-u",          "-m",    "http.server",
                "--bind", "127.0.0.1", "--directory", absRoot, std::to_string(port)};
    };
    launch.boundText = [](uint16_t port) {
        return "Serving HTTP on 127.0.0.1 port " + std::to_string(port) + " ";
    };
    launch.bindFailureMarkers = kPython.bindFailureMarkers;
    launch.accessLog = kOutputLog;
    launch.errorLog = kOutputLog;
    launch.accessLogFormat = [absRoot](const std::string &text) {
        return PythonAccessLog(text, absRoot);
    };
    return launch;
}

// ---- mini_httpd ----

// mini_httpd logs each request before its reply,
//   127.0.0.1 - - [08/Dec/2026:18:32:45 +0000] "GET /f.bin HTTP/1.0" 200 100000 "" ""
// with the length of the body it has to send ("-" for none); a HEAD request gets the same
// length logged but no body, so 0 here.
std::string MiniHttpdAccessLog(const std::string &text) {
    return CommonAccessLog(text, [](const LoggedRequest &r) -> std::string {
        return RequestMethod(r.request) == "HEAD" && r.size != "-" ? "0" : r.size;
    });
}

// `mini_httpd -D -h 127.0.0.1 -p PORT -d ROOT -l DIR/access.log -i DIR/mini_httpd.pid`, and
// started as root "-u nobody" (its default; the log and pid files are opened before it switches).
// Its pid file is written after it listens.
PeerLaunch MiniHttpdLaunch(const std::string &root) {
    std::string binary = RequireBinary(kMiniHttpd);
    std::string absRoot = RequireDirectory(root, kMiniHttpd.name);
    std::optional<Account> account;
    if (geteuid() == 0) {
        account = RequireAccount({"nobody"}, kMiniHttpd.name);
        LetAccountReach(absRoot, *account, kMiniHttpd.name);
    }
    PeerLaunch launch;
    launch.name = kMiniHttpd.name;
    launch.pidFile = kMiniHttpd.name + ".pid";
    launch.prepare = [binary, absRoot, account, pidFile = launch.pidFile](const std::string &dir,
                                                                          uint16_t port) {
        Args argv = {binary, "-D",
                     "-h",   "127.0.0.1",
                     "-p",   std::to_string(port),
                     "-d",   absRoot,
                     "-l",   dir + "/" + kAccessLog,
                     "-i",   dir + "/" + pidFile};
        if (account) {
            argv.push_back("-u");
            argv.push_back(account->user);
        }
        return argv;
    };
    launch.logFiles = kMiniHttpd.logFiles;
    launch.bindFailureMarkers = kMiniHttpd.bindFailureMarkers;
    launch.accessLogFormat = MiniHttpdAccessLog;
    launch.errorLog = kOutputLog;
    return launch;
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

bool ApacheServer::Available(std::string *why) {
    return BinaryAvailable(kApache, why);
}

ApacheServer::ApacheServer(const std::string &root, const std::string &extraConfig)
    : OriginServer(ApacheLaunch(root, extraConfig)) {}

bool SquidProxy::Available(std::string *why) {
    return BinaryAvailable(kSquid, why);
}

SquidProxy::SquidProxy(std::vector<User> users) : RealPeer(SquidLaunch(users, false)) {}

SquidProxy::SquidProxy(FakeNtlm) : RealPeer(SquidLaunch({}, true)) {}

std::string SquidProxy::Log() const {
    return process_->Read(kAccessLog);
}

bool SquidProxy::WaitForLog(const std::string &needle, std::chrono::milliseconds timeout) const {
    return process_->WaitFor(kAccessLog, needle, timeout);
}

std::string SquidProxy::CacheLog() const {
    return process_->Read(kSquidCacheLog);
}

bool PythonHttpServer::Available(std::string *why) {
    return BinaryAvailable(kPython, why);
}

PythonHttpServer::PythonHttpServer(const std::string &root) : OriginServer(PythonLaunch(root)) {}

bool MiniHttpd::Available(std::string *why) {
    return BinaryAvailable(kMiniHttpd, why);
}

MiniHttpd::MiniHttpd(const std::string &root) : OriginServer(MiniHttpdLaunch(root)) {}

} // namespace testsupport
