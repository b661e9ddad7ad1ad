// A fault-injecting mirror for the soak: one file, served by up to four locations, each on an
// address and port of its own, with faults drawn from a seed (FaultPlan). It writes the file
// it serves (for the comparison afterwards), logs its plan and every request with the fault
// injected, prints the primary location's port and serves until SIGTERM or SIGINT (or until
// its lifetime is over).
//
//   fault_mirror --seed N --max-size BYTES --content FILE --log FILE
//                --primary ADDR:PORT [--builtin ADDR:PORT]... [--lifetime SECONDS]
//
// Log lines: "size N", "mirror NAME ADDR:PORT ROLE", "request NAME METHOD RANGE fault KIND"
// (RANGE is "-" without a Range line). Port 0 binds an ephemeral port. Besides:
//   "death NAME at range N or T ms into the transfer, then refuse|reset": a dying location's
//     plan; "died NAME after N ranges, T ms into the transfer: refuses|resets connections"
//     when it dies ("fault died" marks the request that it died at, "fault dead-reset" the
//     ones reset afterwards); "death NAME called off: ..." when no location that stays up
//     answered the size request (the workers would have nowhere to go);
//   "slow-lane range request J of the first C, S bytes every D ms": the run's slow lane, on
//     the first location that serves well (a Faulty one that does not die) to get range
//     requests ("fault slow-lane" marks its request); "takeover NAME RANGE of the slow lane RANGE"
//     for each later request for bytes of the slow lane's range.
// A range request is a GET but the one-byte "0-0" that asks for the size after a HEAD that
// failed (for files of five bytes and more, whose first range is longer).

#include "tests/support/FaultPlan.h"
#include "tests/support/RangeServer.h"
#include "tests/support/StopSignals.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <signal.h>

namespace {

using testsupport::DeathName;
using testsupport::FaultPlan;
using testsupport::MirrorPlan;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;
using testsupport::SlowLane;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int Usage(const std::string &message) {
    std::cerr << "fault_mirror: " << message << "\n"
              << "usage: fault_mirror --seed N --max-size BYTES --content FILE --log FILE "
                 "--primary ADDR:PORT [--builtin ADDR:PORT]... [--lifetime SECONDS]\n";
    return 2;
}

bool ToNumber(const std::string &text, unsigned long long &value) {
    if (text.empty() || text[0] == '-')
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

struct Endpoint {
    std::string address;
    uint16_t port = 0;
};

bool ToEndpoint(const std::string &text, Endpoint &endpoint) {
    size_t colon = text.rfind(':');
    unsigned long long port = 0;
    if (colon == std::string::npos || !ToNumber(text.substr(colon + 1), port) || port > 65535)
        return false;
    endpoint = {text.substr(0, colon), static_cast<uint16_t>(port)};
    return true;
}

// Log lines from several connection threads, each written whole.
class Log {
  public:
    explicit Log(const std::string &path) : file_(std::fopen(path.c_str(), "w")) {}
    ~Log() {
        if (file_)
            std::fclose(file_);
    }
    bool Open() const { return file_ != nullptr; }
    void Line(const std::string &text) {
        std::lock_guard lock(mutex_);
        std::fputs((text + "\n").c_str(), file_);
        std::fflush(file_);
    }

  private:
    std::FILE *file_;
    std::mutex mutex_;
};

struct Location {
    std::string name;
    Endpoint endpoint;
    MirrorPlan plan;
    std::unique_ptr<RangeServer> server;
    // What happened so far (Run's mutex): range requests seen, a size request answered
    // directly (not through a redirect), dead, death called off.
    size_t ranges = 0;
    bool answeredSize = false;
    bool dead = false;
    bool calledOff = false;
    // As a client names it in a URL: the port only when it is not 80.
    std::string Host() const {
        uint16_t port = server ? server->Port() : endpoint.port;
        return endpoint.address + (port == 80 ? "" : ":" + std::to_string(port));
    }
};

// The first byte of "Range: bytes=A-B" and its last (the file's last without B); false
// without a range.
bool RangeOf(const std::string &rangeLine, size_t fileSize, size_t &first, size_t &last) {
    int64_t a = -1, b = -1;
    const int n = std::sscanf(rangeLine.c_str(), "Range: bytes=%" SCNd64 "-%" SCNd64, &a, &b);
    if (n < 1 || a < 0)
        return false;
    first = static_cast<size_t>(a);
    last = n == 2 && b >= a ? static_cast<size_t>(b) : fileSize - 1;
    return true;
}

std::string Ms(Clock::duration d) {
    return std::to_string(std::chrono::duration_cast<milliseconds>(d).count());
}

// The run's answers: each request's fault (drawn, or what a death or the slow lane makes of
// it) and the deaths, whose time comes from a thread of their own. Shared by the connection
// threads of every location.
class Run {
  public:
    Run(FaultPlan &faults, Log &log, std::vector<Location> &locations, size_t size, SlowLane slow)
        : faults_(faults), log_(log), locations_(locations), size_(size), slow_(slow) {
        for (const Location &l : locations_)
            if (l.server)
                listening_.push_back(l.Host());
    }

    RangeFault Answer(Location &l, const SeenRequest &seen);
    // The deaths that come with time, and the servers that stop listening: runs until Quit.
    void WatchDeaths();
    void Quit() {
        std::lock_guard lock(mutex_);
        quit_ = true;
        wake_.notify_all();
    }

  private:
    bool IsRange(const SeenRequest &seen) const {
        return seen.method == "GET" && !(seen.rangeLine == "Range: bytes=0-0" && size_ > 4);
    }
    // Location `l` dies now, after `ranges` range requests, unless no other location that
    // stays up answered the size request; then its death is called off. With mutex_ held.
    bool Die(Location &l, size_t ranges);
    std::vector<std::string> Others(const Location &l) const {
        std::vector<std::string> others;
        for (const std::string &h : listening_)
            if (h != l.Host())
                others.push_back(h);
        return others;
    }

    FaultPlan &faults_;
    Log &log_;
    std::vector<Location> &locations_;
    std::vector<std::string> listening_; // redirect targets
    const size_t size_;
    const SlowLane slow_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool transferring_ = false; // a range request came
    Clock::time_point transferStart_{};
    std::vector<Location *> toStop_; // died refusing: the watcher stops their servers
    Location *slowAt_ = nullptr;     // where the slow lane is
    bool slowPaced_ = false;         // its request came
    size_t slowFirst_ = 0, slowLast_ = 0;
};

bool Run::Die(Location &l, size_t ranges) {
    const bool stays = std::any_of(locations_.begin(), locations_.end(), [&l](const Location &o) {
        return &o != &l && o.server && o.plan.death == MirrorPlan::Death::None && o.answeredSize;
    });
    if (!stays) {
        l.calledOff = true;
        log_.Line("death " + l.name +
                  " called off: no location that stays up answered the size request");
        return false;
    }
    l.dead = true;
    const bool refuse = l.plan.death == MirrorPlan::Death::Refuse;
    log_.Line("died " + l.name + " after " + std::to_string(ranges) + " ranges, " +
              Ms(Clock::now() - transferStart_) +
              " ms into the transfer: " + (refuse ? "refuses" : "resets") + " connections");
    if (refuse) {
        toStop_.push_back(&l);
        wake_.notify_all();
    }
    return true;
}

RangeFault Run::Answer(Location &l, const SeenRequest &seen) {
    const std::string range = seen.rangeLine.empty() ? "-" : seen.rangeLine.substr(13);
    const bool ranged = IsRange(seen);
    RangeFault fault;
    std::string name = "none";
    std::lock_guard lock(mutex_);
    if (ranged && !transferring_) {
        transferring_ = true;
        transferStart_ = Clock::now();
        wake_.notify_all(); // the deaths' clocks start
    }
    const size_t own = ranged ? l.ranges++ : 0;
    const bool faulty = l.plan.role == MirrorPlan::Role::Faulty;
    const RangeFault reset{RangeFault::Kind::ResetAfter, 0, 0, {}, {}};
    size_t first = 0, last = 0;
    const bool bounded = ranged && RangeOf(seen.rangeLine, size_, first, last);
    if (l.dead) {
        // Refusing ones get here only until their server has stopped.
        fault = reset;
        name = "dead-reset";
    } else if (ranged && l.plan.death != MirrorPlan::Death::None && !l.calledOff &&
               own >= l.plan.dieAtRange && Die(l, own)) {
        fault = reset;
        name = "died";
    } else if (faulty && l.plan.death == MirrorPlan::Death::None && ranged && slow_.on &&
               (!slowAt_ || slowAt_ == &l) && own < slow_.calm) {
        // The first location that serves well and gets range requests: the workers' first
        // one, or the one they moved to.
        slowAt_ = &l;
        if (own == slow_.request) {
            fault = {RangeFault::Kind::Trickle, slow_.slice, 0, slow_.delay, {}};
            name = "slow-lane";
            slowPaced_ = true;
            slowFirst_ = first;
            slowLast_ = last;
        } // the others of the first ones: no fault
    } else if (faulty) {
        fault = faults_.ForRequest(seen, size_, l.Host(), Others(l), name);
    } else if (l.plan.role == MirrorPlan::Role::Error) {
        fault = {RangeFault::Kind::Status, 0, l.plan.status, {}, {}};
        name = "error-mirror";
    } else if (seen.method == "GET") {
        name = "trickle-mirror";
    }
    if (slowPaced_ && name != "slow-lane" && bounded && first >= slowFirst_ && first <= slowLast_)
        log_.Line("takeover " + l.name + " " + range + " of the slow lane " +
                  std::to_string(slowFirst_) + "-" + std::to_string(slowLast_));
    // An answer with the size, straight from this location (a redirect's target answers for
    // the location that redirected): the workers may move here.
    const bool redirected = seen.request.compare(seen.method.size(), 8, " /moved/") == 0;
    const bool sizeRequest = seen.method == "HEAD" || (seen.method == "GET" && !ranged);
    if (sizeRequest && !redirected && !l.dead &&
        ((faulty && (name == "none" || (seen.method == "HEAD" && name == "pause"))) ||
         l.plan.role == MirrorPlan::Role::FastHeadThenTrickle))
        l.answeredSize = true;
    log_.Line("request " + l.name + " " + seen.method + " " + range + " fault " + name);
    return fault;
}

void Run::WatchDeaths() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!toStop_.empty()) {
            // Without the lock: the server's threads are joined, and they may be waiting
            // for it in Answer.
            Location *l = toStop_.back();
            toStop_.pop_back();
            lock.unlock();
            l->server->Stop();
            lock.lock();
            continue;
        }
        Clock::time_point next = Clock::time_point::max();
        if (transferring_) {
            const Clock::time_point now = Clock::now();
            for (Location &l : locations_) {
                if (l.plan.death == MirrorPlan::Death::None || l.dead || l.calledOff)
                    continue;
                const Clock::time_point due = transferStart_ + l.plan.dieAfter;
                if (now >= due)
                    Die(l, l.ranges);
                else
                    next = std::min(next, due);
            }
        }
        if (!toStop_.empty())
            continue;
        if (next == Clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, next);
    }
}

} // namespace

int main(int argc, char **argv) {
    unsigned long long seed = 0, maxSize = 0, lifetime = 1800;
    bool seedGiven = false;
    std::string contentPath, logPath;
    std::vector<Location> locations;
    static const char *const names[] = {"primary", "ireland", "singapore", "california"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage(arg + " needs a value");
        const std::string value = argv[++i];
        Endpoint endpoint;
        if (arg == "--seed") {
            if (!ToNumber(value, seed))
                return Usage("--seed takes a number");
            seedGiven = true;
        } else if (arg == "--max-size") {
            if (!ToNumber(value, maxSize) || maxSize < 1)
                return Usage("--max-size takes a number of bytes, at least 1");
        } else if (arg == "--lifetime") {
            if (!ToNumber(value, lifetime) || lifetime < 1)
                return Usage("--lifetime takes a number of seconds");
        } else if (arg == "--content") {
            contentPath = value;
        } else if (arg == "--log") {
            logPath = value;
        } else if (arg == "--primary" || arg == "--builtin") {
            if (!ToEndpoint(value, endpoint))
                return Usage(arg + " takes ADDR:PORT");
            if ((arg == "--primary") != locations.empty() || locations.size() == 4)
                return Usage("one --primary first, then at most three --builtin");
            locations.push_back({names[locations.size()], endpoint, {}, nullptr});
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (!seedGiven || maxSize == 0 || contentPath.empty() || logPath.empty() || locations.empty())
        return Usage("--seed, --max-size, --content, --log and --primary are needed");

    Log log(logPath);
    if (!log.Open()) {
        std::cerr << "fault_mirror: cannot write " << logPath << ": " << std::strerror(errno)
                  << "\n";
        return 1;
    }
    FaultPlan faults(seed);
    const size_t size = faults.FileSize(static_cast<size_t>(maxSize));
    const std::string content = faults.Content(size);
    {
        std::ofstream out(contentPath, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out.flush()) {
            std::cerr << "fault_mirror: cannot write " << contentPath << "\n";
            return 1;
        }
    }
    log.Line("size " + std::to_string(size));

    // The server's threads inherit this mask, so the signals reach only sigtimedwait below.
    const sigset_t stop = testsupport::BlockStopSignals();

    const std::vector<MirrorPlan> plans = faults.Locations(size, locations.size());
    const SlowLane slow = faults.Slow(size);
    for (size_t i = 0; i < locations.size(); ++i) {
        Location &l = locations[i];
        l.plan = plans[i];
        if (l.plan.role == MirrorPlan::Role::Absent)
            continue;
        try {
            // Every location gives the same date: a run killed midway is continued by the next.
            l.server = std::make_unique<RangeServer>(content, l.endpoint.address, l.endpoint.port,
                                                     "Tue, 01 Jul 2025 10:00:00 GMT");
        } catch (const std::exception &e) {
            std::cerr << "fault_mirror: " << l.name << " cannot listen on " << l.endpoint.address
                      << ":" << l.endpoint.port << ": " << e.what() << "\n";
            return 1;
        }
        l.server->SetHeadDelay(l.plan.headDelay);
        if (l.plan.role == MirrorPlan::Role::FastHeadThenTrickle)
            l.server->SetBodyPace(l.plan.paceSlice, l.plan.paceDelay);
    }
    for (const Location &l : locations) {
        log.Line("mirror " + l.name + " " + l.Host() + " " + RoleName(l.plan));
        if (l.plan.death != MirrorPlan::Death::None)
            log.Line("death " + l.name + " at range " + std::to_string(l.plan.dieAtRange) + " or " +
                     std::to_string(l.plan.dieAfter.count()) + " ms into the transfer, then " +
                     DeathName(l.plan.death));
    }
    if (slow.on)
        log.Line("slow-lane range request " + std::to_string(slow.request) + " of the first " +
                 std::to_string(slow.calm) + ", " + std::to_string(slow.slice) + " bytes every " +
                 std::to_string(slow.delay.count()) + " ms");
    Run run(faults, log, locations, size, slow);
    for (Location &l : locations)
        if (l.server)
            l.server->SetFaults(
                [&run, &l](size_t, const SeenRequest &seen) { return run.Answer(l, seen); });
    std::thread deaths([&run] { run.WatchDeaths(); });
    std::cout << locations[0].server->Port() << std::endl;

    testsupport::WaitForStopSignal(stop, std::chrono::seconds(lifetime));
    run.Quit();
    deaths.join();
    for (Location &l : locations)
        if (l.server)
            l.server->Stop();
    return 0;
}
