// An HTTP server of one file whose connections are paced one by one: the one slow lane among
// fast ones of bench/peers' scenario D. Connections are numbered in the order of their first
// GET that gets a 206 (a ranged GET connection); connection number SLOW (2 by default) sends
// every body at SLOW_RATE and every other connection, ranged or not, at RATE. HEAD requests,
// and connections that never carry a ranged GET, take no number. A body goes out in 64 KiB
// slices on a schedule, so a connection's rate holds over any second of its transfer; a
// connection whose client has gone stops at once.
//
//   lane_server FILE LOG [--address IPV4] [--port N] [--rate BYTES_PER_S]
//               [--slow-rate BYTES_PER_S] [--slow N] [--lifetime SECONDS]
//
// The file is served at "/" + its base name. HTTP/1.0 and 1.1, GET and HEAD; "Range: bytes=a-b",
// "bytes=a-" and "bytes=-n" get 206 with Content-Range, no Range (or several ranges, which the
// server may ignore) 200 with the whole file, an unsatisfiable range (from beyond the end, or
// ending before its start) 416, a Range that is no byte range 400. A connection stays
// open after a response when the client asks for it (1.1 without "Connection: close", 1.0 with
// "Connection: keep-alive") and is closed otherwise. Defaults: 127.0.0.1, a free port,
// 20000000 B/s, 1000000 B/s, connection 2, at most 3600 s.
//
// Prints "port N" on standard output once it listens. LOG gets one line per request, written
// when the request is done:
//
//   START END METHOD STATUS BYTES "RANGE" "REQUEST LINE" conn=C lane=L rate=R[ aborted]
//
// START: when the request's first byte arrived; END: when the last body byte was handed to the
// socket (just before the send call that took it; for a response without a body, its header),
// both in seconds since the epoch with milliseconds. BYTES: body bytes sent; RANGE: the Range
// header or "-"; C: the connection's number in accept order; L: its number among ranged GET
// connections, 0 for none; R: its rate in B/s; "aborted": the client went before the body's end.
// Ends on SIGTERM or SIGINT (exit 0), on bad arguments with exit 2, when it cannot serve with
// exit 1.

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kSlice = 64 * 1024;          // body bytes per scheduled send
constexpr size_t kHeadLimit = 16 * 1024;      // longest request head accepted
constexpr int kFirstRequestTimeoutMs = 10000; // a new connection's request head
constexpr int kIdleTimeoutMs = 15000;         // between requests of a kept-alive connection
constexpr int kSendTimeoutS = 30;             // a send that makes no progress for this long fails
constexpr int kRequestsPerConnection = 10000;
constexpr int kMaxConnections = 64; // open at once; beyond, 503
constexpr int kWakeMs = 200;        // waits look at the stop flag this often
constexpr int kStopGraceMs = 3000;  // for the connections to end on a stop

// Set by SIGTERM and SIGINT, read by every thread (a lock-free atomic is safe in a handler).
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStop(int) {
    stopRequested = true;
}

struct Settings {
    const char *file = nullptr;
    const char *log = nullptr;
    in_addr address{htonl(INADDR_LOOPBACK)};
    int port = 0;
    double rate = 20e6;
    double slowRate = 1e6;
    long slowLane = 2;
    long lifetimeS = 3600;
};

Settings settings;
int fileFd = -1;
long long fileSize = 0;
std::string filePath; // "/" + the base name
std::string lastModified;
FILE *logFile = nullptr;
std::mutex logMutex;

std::atomic<int> connectionCount{0}; // accepted so far
std::atomic<int> rangedCount{0};     // ranged GET connections numbered so far

std::mutex activeMutex;
std::condition_variable activeDone;
std::set<int> activeSockets;

double WallNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int64_t MonoNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string HttpDate(time_t t) {
    tm parts{};
    gmtime_r(&t, &parts);
    char text[64];
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

std::string Lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The text for a log field between quotes: no quotes, no control characters.
std::string Printable(const std::string &s) {
    std::string out;
    for (char c : s)
        out += (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ||
                static_cast<unsigned char>(c) >= 0x7f)
                   ? '?'
                   : c;
    return out;
}

// A decimal number without sign or spaces that fits in 63 bits.
std::optional<long long> Number(const std::string &s) {
    if (s.empty() || s.size() > 18)
        return std::nullopt;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool PercentDecode(const std::string &in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size() || !isxdigit(static_cast<unsigned char>(in[i + 1])) ||
            !isxdigit(static_cast<unsigned char>(in[i + 2])))
            return false;
        out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

struct Request {
    std::string line, method, target, version, range;
    bool keepAlive = false;
    bool hasBody = false;
    bool badHeader = false;
    int rangeHeaders = 0;
    double start = 0;
};

// Parses the head (without its final empty line) into `r`; false when it is no request.
bool Parse(const std::string &head, Request &r) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= head.size() && lines.size() < 200) {
        size_t nl = head.find('\n', at);
        std::string l = head.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        lines.push_back(l);
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    if (lines.empty())
        return false;
    r.line = lines[0];
    size_t s1 = r.line.find(' ');
    size_t s2 = s1 == std::string::npos ? s1 : r.line.find(' ', s1 + 1);
    if (s2 == std::string::npos || r.line.find(' ', s2 + 1) != std::string::npos)
        return false;
    r.method = r.line.substr(0, s1);
    r.target = r.line.substr(s1 + 1, s2 - s1 - 1);
    r.version = r.line.substr(s2 + 1);
    if (r.method.empty() || r.target.empty() || r.version.rfind("HTTP/", 0) != 0)
        return false;
    bool close = false, keep = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        size_t colon = lines[i].find(':');
        if (colon == std::string::npos || colon == 0) {
            r.badHeader = true;
            continue;
        }
        std::string name = Lower(lines[i].substr(0, colon));
        std::string value = Trim(lines[i].substr(colon + 1));
        if (name == "range") {
            r.range = value;
            ++r.rangeHeaders;
        } else if (name == "connection") {
            std::string v = Lower(value);
            close = close || v.find("close") != std::string::npos;
            keep = keep || v.find("keep-alive") != std::string::npos;
        } else if (name == "content-length") {
            r.hasBody = r.hasBody || value != "0";
        } else if (name == "transfer-encoding") {
            r.hasBody = true;
        }
    }
    r.keepAlive = r.version == "HTTP/1.1" ? !close : keep && !close;
    return true;
}

enum class Head { Ok, Closed, TooLarge };

// Reads up to the end of a request head into `head`, keeping what follows in `pending`.
Head ReadHead(int fd, std::string &pending, int timeoutMs, std::string &head, double &start) {
    const int64_t deadline = MonoNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    start = pending.empty() ? 0 : WallNow();
    char buffer[8192];
    while (true) {
        while (!pending.empty() && (pending[0] == '\r' || pending[0] == '\n'))
            pending.erase(0, 1); // empty lines before a request are ignored
        size_t end = pending.find("\r\n\r\n");
        size_t skip = 4;
        size_t bare = pending.find("\n\n");
        if (bare != std::string::npos && (end == std::string::npos || bare < end)) {
            end = bare;
            skip = 2;
        }
        if (end != std::string::npos) {
            head = pending.substr(0, end);
            pending.erase(0, end + skip);
            return Head::Ok;
        }
        if (pending.size() > kHeadLimit)
            return Head::TooLarge;
        int64_t left = deadline - MonoNs();
        if (left <= 0 || stopRequested)
            return Head::Closed;
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(std::min<int64_t>(left / 1000000 + 1, kWakeMs)));
        if (ready < 0 && errno != EINTR)
            return Head::Closed;
        if (ready <= 0)
            continue;
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Head::Closed;
        if (pending.empty())
            start = WallNow();
        pending.append(buffer, static_cast<size_t>(got));
    }
}

// Sends all of `data`; counts what went out in `sent` and sets `moved` to the instant just
// before the last send call that took bytes. The calls do not wait (MSG_DONTWAIT; a full
// socket is waited for with poll), so that instant is when those bytes were handed over, even
// when this thread is descheduled right after the call while the client reads them and exits.
// False when the connection failed or took nothing for kSendTimeoutS.
bool SendAll(int fd, const char *data, size_t size, long long &sent, double &moved) {
    size_t done = 0;
    int64_t stall = MonoNs() + static_cast<int64_t>(kSendTimeoutS) * 1000000000;
    while (done < size) {
        if (stopRequested)
            return false;
        double before = WallNow();
        ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            sent += n;
            moved = before;
            stall = MonoNs() + static_cast<int64_t>(kSendTimeoutS) * 1000000000;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        if (MonoNs() >= stall)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, kWakeMs) < 0 && errno != EINTR)
            return false;
    }
    return true;
}

// Waits until the monotonic instant `dueNs`; false as soon as the client has closed its side
// or the connection failed. Data the client sends meanwhile (a next request) stays unread.
bool WaitUntil(int fd, int64_t dueNs) {
    while (true) {
        int64_t left = dueNs - MonoNs();
        if (left < 0)
            left = 0;
        if (left > static_cast<int64_t>(kWakeMs) * 1000000)
            left = static_cast<int64_t>(kWakeMs) * 1000000;
        timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        pollfd p{fd, POLLRDHUP, 0};
        int ready = ppoll(&p, 1, &wait, nullptr);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
            return false;
        if (stopRequested)
            return false;
        if (MonoNs() >= dueNs)
            return true;
    }
}

struct Body {
    long long sent = 0;
    double last = 0; // when the last byte was handed to the socket
    bool aborted = false;
};

// Sends `length` bytes of the file from `offset` in slices of kSlice at `rate` bytes a second.
// A send that falls behind the schedule (the client reads slower) does not make up for it in a
// burst afterwards.
void SendBody(int fd, long long offset, long long length, double rate, Body &body) {
    std::vector<char> buffer(kSlice);
    int64_t due = MonoNs();
    while (body.sent < length) {
        if (!WaitUntil(fd, due)) {
            body.aborted = true;
            return;
        }
        size_t n = static_cast<size_t>(std::min<long long>(kSlice, length - body.sent));
        size_t have = 0;
        while (have < n) {
            ssize_t got =
                pread(fileFd, buffer.data() + have, n - have,
                      static_cast<off_t>(offset + body.sent + static_cast<long long>(have)));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                std::fprintf(stderr, "lane_server: read %s: %s\n", settings.file,
                             got < 0 ? std::strerror(errno) : "the file got shorter");
                body.aborted = true;
                return;
            }
            have += static_cast<size_t>(got);
        }
        if (!SendAll(fd, buffer.data(), n, body.sent, body.last)) {
            body.aborted = true;
            return;
        }
        due += static_cast<int64_t>(static_cast<double>(n) / rate * 1e9);
        int64_t now = MonoNs();
        if (due < now)
            due = now;
    }
}

void Log(const Request &r, int status, const Body &body, double end, int connection, int lane,
         double rate) {
    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(logFile, "%.3f %.3f %s %d %lld \"%s\" \"%s\" conn=%d lane=%d rate=%.0f%s\n",
                 r.start, end, r.method.empty() ? "-" : Printable(r.method).c_str(), status,
                 body.sent, r.rangeHeaders ? Printable(r.range).c_str() : "-",
                 Printable(r.line).c_str(), connection, lane, rate, body.aborted ? " aborted" : "");
    std::fflush(logFile);
}

std::string Header(int status, const char *reason, bool keepAlive) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nServer: lane_server\r\nDate: " + HttpDate(time(nullptr)) +
           "\r\nConnection: " + (keepAlive ? "keep-alive" : "close") + "\r\n";
}

// A response without a file body: an error with a short text.
bool SendError(int fd, int status, const char *reason, const std::string &extra, bool keepAlive,
               bool head, const Request &r, int connection, int lane, double rate) {
    std::string text = std::to_string(status) + " " + reason + "\n";
    std::string response =
        Header(status, reason, keepAlive) + extra +
        "Content-Type: text/plain\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n" +
        (head ? "" : text);
    long long ignored = 0;
    double moved = WallNow();
    bool ok = SendAll(fd, response.data(), response.size(), ignored, moved);
    Log(r, status, Body{}, moved, connection, lane, rate);
    return ok && keepAlive;
}

// The range of the file that the Range header `value` asks for: false for an unsatisfiable
// one. `several` is set for a list of ranges, `bad` for one that is not a byte range at all.
bool ParseRange(const std::string &value, long long &first, long long &last, bool &several,
                bool &bad) {
    several = bad = false;
    std::string s = Trim(value);
    if (Lower(s.substr(0, 6)) != "bytes=") {
        bad = true;
        return false;
    }
    s = Trim(s.substr(6));
    if (s.find(',') != std::string::npos) {
        several = true;
        return false;
    }
    size_t dash = s.find('-');
    if (dash == std::string::npos) {
        bad = true;
        return false;
    }
    std::string a = Trim(s.substr(0, dash)), b = Trim(s.substr(dash + 1));
    if (a.empty()) { // the last n bytes
        auto n = Number(b);
        if (!n) {
            bad = true;
            return false;
        }
        if (*n == 0 || fileSize == 0)
            return false;
        first = *n >= fileSize ? 0 : fileSize - *n;
        last = fileSize - 1;
        return true;
    }
    auto from = Number(a);
    auto to = b.empty() ? std::optional<long long>(fileSize - 1) : Number(b);
    if (!from || !to) {
        bad = true;
        return false;
    }
    if (*to < *from || *from >= fileSize)
        return false;
    first = *from;
    last = std::min(*to, fileSize - 1);
    return true;
}

// Answers one request; true when the connection goes on to the next one.
bool Respond(int fd, Request &r, int connection, int &lane) {
    double rate = lane == settings.slowLane ? settings.slowRate : settings.rate;
    if (r.version != "HTTP/1.0" && r.version != "HTTP/1.1")
        return SendError(fd, 505, "HTTP Version Not Supported", "", false, false, r, connection,
                         lane, rate);
    if (r.badHeader || r.rangeHeaders > 1)
        return SendError(fd, 400, "Bad Request", "", false, false, r, connection, lane, rate);
    bool head = r.method == "HEAD";
    if (!head && r.method != "GET")
        return SendError(fd, 501, "Not Implemented", "Allow: GET, HEAD\r\n", false, false, r,
                         connection, lane, rate);
    if (r.hasBody) // no request body is read, so the connection cannot go on after one
        return SendError(fd, 400, "Bad Request", "", false, head, r, connection, lane, rate);

    std::string path = r.target;
    if (path.rfind("http://", 0) == 0) {
        size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    path = path.substr(0, path.find_first_of("?#"));
    std::string decoded;
    if (path.empty() || path[0] != '/' || !PercentDecode(path, decoded))
        return SendError(fd, 400, "Bad Request", "", false, head, r, connection, lane, rate);
    if (decoded != filePath)
        return SendError(fd, 404, "Not Found", "", r.keepAlive, head, r, connection, lane, rate);

    long long first = 0, last = fileSize - 1;
    bool partial = false;
    if (r.rangeHeaders) {
        bool several = false, bad = false;
        partial = ParseRange(r.range, first, last, several, bad);
        if (bad)
            return SendError(fd, 400, "Bad Request", "", false, head, r, connection, lane, rate);
        if (!partial && !several)
            return SendError(fd, 416, "Range Not Satisfiable",
                             "Content-Range: bytes */" + std::to_string(fileSize) + "\r\n",
                             r.keepAlive, head, r, connection, lane, rate);
        if (several) { // the server may ignore Range: the whole file
            first = 0;
            last = fileSize - 1;
        }
    }
    if (partial && !head && lane == 0) {
        lane = ++rangedCount;
        rate = lane == settings.slowLane ? settings.slowRate : settings.rate;
    }
    long long length = last - first + 1;
    std::string response =
        Header(partial ? 206 : 200, partial ? "Partial Content" : "OK", r.keepAlive) +
        "Last-Modified: " + lastModified +
        "\r\nAccept-Ranges: bytes\r\nContent-Type: application/octet-stream"
        "\r\nContent-Length: " +
        std::to_string(length) + "\r\n";
    if (partial)
        response += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                    "/" + std::to_string(fileSize) + "\r\n";
    response += "\r\n";
    long long headerSent = 0;
    Body body;
    body.last = WallNow();
    bool ok = SendAll(fd, response.data(), response.size(), headerSent, body.last);
    if (!ok)
        body.aborted = true;
    else if (!head)
        SendBody(fd, first, length, rate, body);
    Log(r, partial ? 206 : 200, body, body.last, connection, lane, rate);
    return ok && !body.aborted && r.keepAlive;
}

void Serve(int fd, int connection) {
    std::string pending;
    int lane = 0;
    for (int n = 0; n < kRequestsPerConnection && !stopRequested; ++n) {
        std::string head;
        Request r;
        Head got =
            ReadHead(fd, pending, n == 0 ? kFirstRequestTimeoutMs : kIdleTimeoutMs, head, r.start);
        if (got == Head::Closed)
            break;
        if (got == Head::TooLarge || !Parse(head, r)) {
            if (r.start == 0)
                r.start = WallNow();
            if (r.line.empty())
                r.line = head.substr(0, std::min<size_t>(head.find('\n'), 200));
            SendError(fd, got == Head::TooLarge ? 431 : 400,
                      got == Head::TooLarge ? "Request Header Fields Too Large" : "Bad Request", "",
                      false, false, r, connection, lane, settings.rate);
            break;
        }
        if (!Respond(fd, r, connection, lane))
            break;
    }
}

void Connection(int fd, int connection) {
    try {
        Serve(fd, connection);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lane_server: connection %d: %s\n", connection, e.what());
    }
    std::lock_guard<std::mutex> lock(activeMutex);
    activeSockets.erase(fd);
    close(fd);
    activeDone.notify_all();
}

[[noreturn]] void Usage(const char *why) {
    if (why)
        std::fprintf(stderr, "lane_server: %s\n", why);
    std::fprintf(stderr, "usage: lane_server FILE LOG [--address IPV4] [--port N] "
                         "[--rate BYTES_PER_S] [--slow-rate BYTES_PER_S] [--slow N] "
                         "[--lifetime SECONDS]\n");
    std::exit(2);
}

long PositiveOption(const char *name, const char *text, long most) {
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || *end != '\0' || v < 1 || v > most) {
        std::fprintf(stderr, "lane_server: bad %s: %s (1 to %ld)\n", name, text, most);
        std::exit(2);
    }
    return v;
}

void ParseArguments(int argc, char **argv) {
    std::vector<const char *> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            positional.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc)
            Usage(("missing value of " + a).c_str());
        const char *v = argv[++i];
        if (a == "--address") {
            if (inet_pton(AF_INET, v, &settings.address) != 1)
                Usage((std::string("bad IPv4 address: ") + v).c_str());
        } else if (a == "--port") {
            settings.port =
                static_cast<int>(std::string(v) == "0" ? 0 : PositiveOption(a.c_str(), v, 65535));
        } else if (a == "--rate") {
            settings.rate = static_cast<double>(PositiveOption(a.c_str(), v, 100000000000L));
        } else if (a == "--slow-rate") {
            settings.slowRate = static_cast<double>(PositiveOption(a.c_str(), v, 100000000000L));
        } else if (a == "--slow") {
            settings.slowLane = PositiveOption(a.c_str(), v, 1000000);
        } else if (a == "--lifetime") {
            settings.lifetimeS = PositiveOption(a.c_str(), v, 86400);
        } else {
            Usage(("unknown option: " + a).c_str());
        }
    }
    if (positional.size() != 2)
        Usage(nullptr);
    settings.file = positional[0];
    settings.log = positional[1];
}

[[noreturn]] void Fail(const std::string &what) {
    std::fprintf(stderr, "lane_server: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

} // namespace

int main(int argc, char **argv) {
    ParseArguments(argc, argv);

    fileFd = open(settings.file, O_RDONLY | O_CLOEXEC);
    if (fileFd < 0)
        Fail(std::string("open ") + settings.file);
    struct stat st {};
    if (fstat(fileFd, &st) != 0)
        Fail(std::string("stat ") + settings.file);
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "lane_server: %s is not a regular file\n", settings.file);
        return 1;
    }
    fileSize = static_cast<long long>(st.st_size);
    std::string name = settings.file;
    filePath =
        "/" +
        name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    lastModified = HttpDate(st.st_mtime);
    logFile = std::fopen(settings.log, "w");
    if (!logFile)
        Fail(std::string("open ") + settings.log);

    struct sigaction sa {};
    sa.sa_handler = OnStop; // no SA_RESTART: blocked calls return and look at the flag
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        Fail("socket");
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = settings.address;
    address.sin_port = htons(static_cast<uint16_t>(settings.port));
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        Fail("bind");
    if (listen(listener, 128) != 0)
        Fail("listen");
    socklen_t length = sizeof address;
    if (getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        Fail("getsockname");
    std::printf("port %d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const int64_t endNs = MonoNs() + static_cast<int64_t>(settings.lifetimeS) * 1000000000;
    while (!stopRequested) {
        if (MonoNs() >= endNs) {
            std::fprintf(stderr, "lane_server: stopping after %ld s\n", settings.lifetimeS);
            break;
        }
        pollfd p{listener, POLLIN, 0};
        int ready = poll(&p, 1, kWakeMs);
        if (ready < 0 && errno != EINTR)
            Fail("poll");
        if (ready <= 0)
            continue;
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN)
                continue;
            Fail("accept");
        }
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int connection = ++connectionCount;
        std::lock_guard<std::mutex> lock(activeMutex);
        if (activeSockets.size() >= static_cast<size_t>(kMaxConnections)) {
            static const char busy[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                       "Connection: close\r\n\r\n";
            (void)!send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            close(fd);
            std::fprintf(stderr, "lane_server: connection %d refused: %d open\n", connection,
                         kMaxConnections);
            continue;
        }
        activeSockets.insert(fd);
        try {
            std::thread(Connection, fd, connection).detach();
        } catch (const std::system_error &e) {
            activeSockets.erase(fd);
            close(fd);
            std::fprintf(stderr, "lane_server: connection %d: no thread: %s\n", connection,
                         e.what());
        }
    }
    stopRequested = true;
    close(listener);

    // The connections see the stop flag within kWakeMs; a shutdown wakes the ones blocked in
    // a send to a client that does not read.
    std::unique_lock<std::mutex> lock(activeMutex);
    for (int fd : activeSockets)
        shutdown(fd, SHUT_RDWR);
    bool ended = activeDone.wait_for(lock, std::chrono::milliseconds(kStopGraceMs),
                                     [] { return activeSockets.empty(); });
    {
        std::lock_guard<std::mutex> logLock(logMutex);
        std::fflush(logFile);
    }
    if (!ended) {
        std::fprintf(stderr, "lane_server: %zu connection(s) still open at the stop\n",
                     activeSockets.size());
        _exit(0); // their threads still use the globals
    }
    std::fclose(logFile);
    return 0;
}
