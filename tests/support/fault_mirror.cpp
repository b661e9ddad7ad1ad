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
// (RANGE is "-" without a Range line). Port 0 binds an ephemeral port.

#include "tests/support/FaultPlan.h"
#include "tests/support/RangeServer.h"
#include "tests/support/StopSignals.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>
#include <signal.h>

namespace {

using testsupport::FaultPlan;
using testsupport::MirrorPlan;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::SeenRequest;

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
    // As a client names it in a URL: the port only when it is not 80.
    std::string Host() const {
        uint16_t port = server ? server->Port() : endpoint.port;
        return endpoint.address + (port == 80 ? "" : ":" + std::to_string(port));
    }
};

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

    for (size_t i = 0; i < locations.size(); ++i) {
        Location &l = locations[i];
        l.plan = i == 0 ? faults.Primary() : faults.BuiltIn(size);
        if (l.plan.role == MirrorPlan::Role::Absent)
            continue;
        try {
            l.server = std::make_unique<RangeServer>(content, l.endpoint.address, l.endpoint.port);
        } catch (const std::exception &e) {
            std::cerr << "fault_mirror: " << l.name << " cannot listen on " << l.endpoint.address
                      << ":" << l.endpoint.port << ": " << e.what() << "\n";
            return 1;
        }
        l.server->SetHeadDelay(l.plan.headDelay);
        if (l.plan.role == MirrorPlan::Role::FastHeadThenTrickle)
            l.server->SetBodyPace(l.plan.paceSlice, l.plan.paceDelay);
    }
    std::vector<std::string> listening;
    for (const Location &l : locations) {
        log.Line("mirror " + l.name + " " + l.Host() + " " + RoleName(l.plan));
        if (l.server)
            listening.push_back(l.Host());
    }
    for (Location &l : locations) {
        if (!l.server)
            continue;
        std::vector<std::string> others;
        for (const std::string &h : listening)
            if (h != l.Host())
                others.push_back(h);
        l.server->SetFaults([&faults, &log, &l, others, size](size_t, const SeenRequest &seen) {
            RangeFault fault;
            std::string name = "none";
            if (l.plan.role == MirrorPlan::Role::Faulty) {
                fault = faults.ForRequest(seen, size, l.Host(), others, name);
            } else if (l.plan.role == MirrorPlan::Role::Error) {
                fault = {RangeFault::Kind::Status, 0, l.plan.status, {}, {}};
                name = "error-mirror";
            } else if (seen.method == "GET") {
                name = "trickle-mirror";
            }
            std::string range = seen.rangeLine.empty() ? "-" : seen.rangeLine.substr(13);
            log.Line("request " + l.name + " " + seen.method + " " + range + " fault " + name);
            return fault;
        });
    }
    std::cout << locations[0].server->Port() << std::endl;

    testsupport::WaitForStopSignal(stop, std::chrono::seconds(lifetime));
    for (Location &l : locations)
        if (l.server)
            l.server->Stop();
    return 0;
}
