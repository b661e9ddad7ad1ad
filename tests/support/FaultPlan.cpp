#include "tests/support/FaultPlan.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace testsupport {
namespace {

using Kind = RangeFault::Kind;
using std::chrono::milliseconds;

// One entry of a weighted table of faults; the weights of a table add up to 1000.
struct Weighted {
    const char *name;
    unsigned weight;
};

// Per size request: most answer; a stall past the time-out costs the selection 30 s (5 s once
// a location has told the size).
constexpr Weighted kHeadFaults[] = {
    {"none", 750},      {"reset", 50},      {"pause", 60},    {"stall-past-timeout", 5},
    {"status-5xx", 40}, {"status-404", 30}, {"redirect", 45}, {"refuse", 20},
};

// Per range request: a little under half fail one way or another.
constexpr Weighted kGetFaults[] = {
    {"none", 535},
    {"reset", 60},
    {"pause", 50},
    {"stall-past-timeout", 15},
    {"trickle", 50},
    {"short-body", 50},
    {"long-body", 40},
    {"status-5xx", 35},
    {"status-404", 20},
    {"whole-file", 40},
    {"wrong-content-range", 30},
    {"wrong-range-bytes", 25},
    {"other-version", 15},
    {"redirect", 25},
    {"refuse", 10},
};

template <size_t N> const char *Pick(const Weighted (&table)[N], uint64_t draw) {
    for (const Weighted &w : table) {
        if (draw < w.weight)
            return w.name;
        draw -= w.weight;
    }
    return "none";
}

// The bytes asked for: first and length; the whole file without a Range line.
void AskedRange(const SeenRequest &request, size_t fileSize, size_t &first, size_t &length) {
    first = 0;
    length = fileSize;
    int64_t a = -1, b = -1;
    int n = std::sscanf(request.rangeLine.c_str(), "Range: bytes=%" SCNd64 "-%" SCNd64, &a, &b);
    if (n < 1 || a < 0 || static_cast<size_t>(a) >= fileSize)
        return;
    first = static_cast<size_t>(a);
    size_t last = n == 2 && b >= a ? std::min(static_cast<size_t>(b), fileSize - 1) : fileSize - 1;
    length = last - first + 1;
}

// The path of the request line ("GET /dir/file HTTP/1.0" gives "/dir/file").
std::string RequestPath(const std::string &request) {
    size_t start = request.find(' ');
    if (start == std::string::npos)
        return "/";
    size_t end = request.find(' ', start + 1);
    std::string path = request.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    return path.empty() || path[0] != '/' ? "/" + path : path;
}

} // namespace

std::string RoleName(const MirrorPlan &plan) {
    switch (plan.role) {
    case MirrorPlan::Role::Faulty:
        return plan.death == MirrorPlan::Death::None ? "faulty" : "dying";
    case MirrorPlan::Role::FastHeadThenTrickle:
        return "fast-head-trickle";
    case MirrorPlan::Role::Error:
        return "error-" + std::to_string(plan.status);
    case MirrorPlan::Role::Absent:
        return "absent";
    }
    return "?";
}

std::string DeathName(MirrorPlan::Death death) {
    switch (death) {
    case MirrorPlan::Death::None:
        return "none";
    case MirrorPlan::Death::Refuse:
        return "refuse";
    case MirrorPlan::Death::Reset:
        return "reset";
    }
    return "?";
}

uint64_t FaultPlan::Below(uint64_t n) {
    return std::uniform_int_distribution<uint64_t>(0, n - 1)(random_);
}

milliseconds FaultPlan::Millis(int64_t from, int64_t to) {
    return milliseconds(from + static_cast<int64_t>(Below(static_cast<uint64_t>(to - from + 1))));
}

size_t FaultPlan::FileSize(size_t maxSize) {
    std::lock_guard lock(mutex_);
    maxSize = std::max<size_t>(maxSize, 1);
    if (Below(10) == 0)
        return 1 + Below(std::min<size_t>(maxSize, 20));
    const double logMax = std::log(static_cast<double>(maxSize));
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
    return std::clamp<size_t>(static_cast<size_t>(std::exp(u * logMax)), 1, maxSize);
}

std::string FaultPlan::Content(size_t size) {
    std::lock_guard lock(mutex_);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        uint64_t word = random_();
        std::memcpy(bytes.data() + i, &word, std::min<size_t>(8, size - i));
    }
    return bytes;
}

std::vector<MirrorPlan> FaultPlan::Locations(size_t fileSize, size_t count) {
    std::lock_guard lock(mutex_);
    std::vector<MirrorPlan> plans(std::clamp<size_t>(count, 1, 4));
    MirrorPlan &primary = plans[0];
    primary.headDelay = Millis(20, 300);
    if (plans.size() > 1 && Below(5) == 0) {
        // Quick at the size request, so that it is often the one the workers start on.
        primary.headDelay = Millis(0, 60);
        Dying(primary);
    }
    for (size_t i = 1; i < plans.size(); ++i) {
        plans[i] = BuiltIn(fileSize);
        if (i == 1 && primary.death != MirrorPlan::Death::None) {
            // A location that agrees and stays, for the workers to move to.
            plans[i] = MirrorPlan{};
            plans[i].headDelay = Millis(0, 400);
        }
    }
    return plans;
}

MirrorPlan FaultPlan::BuiltIn(size_t fileSize) {
    MirrorPlan plan;
    const uint64_t draw = Below(100);
    if (draw < 20) {
        plan.role = MirrorPlan::Role::Absent;
    } else if (draw < 45) {
        plan.headDelay = Millis(0, 400);
    } else if (draw < 70) {
        plan.headDelay = Millis(0, 60);
        Dying(plan);
    } else if (draw < 85) {
        // Faster than any other location at the size request, so it is chosen; then each
        // range comes in about 120 slices 50 ms apart.
        plan.role = MirrorPlan::Role::FastHeadThenTrickle;
        plan.paceSlice = std::max<size_t>(1, fileSize / 5 / 120);
        plan.paceDelay = milliseconds(50);
    } else {
        plan.role = MirrorPlan::Role::Error;
        static constexpr int statuses[] = {404, 500, 503};
        plan.status = statuses[Below(3)];
    }
    return plan;
}

void FaultPlan::Dying(MirrorPlan &plan) {
    // From its first range request on (every worker's first attempt fails there) to a few
    // seconds into the transfer, when the workers are on their ranges.
    plan.death = Below(2) == 0 ? MirrorPlan::Death::Refuse : MirrorPlan::Death::Reset;
    plan.dieAtRange = Below(6);
    plan.dieAfter = Millis(500, 6000);
}

SlowLane FaultPlan::Slow(size_t fileSize) {
    std::lock_guard lock(mutex_);
    // A remainder below 64 KiB is not worth a takeover: small files have a slow lane less
    // often, and it ends within a few seconds anyway.
    const size_t range = fileSize / 5 + 1;
    SlowLane lane;
    lane.on = Below(100) < (range >= 128 * 1024 ? 80 : 15);
    lane.request = Below(5);
    // The five first ranges and the first takeovers.
    lane.calm = 8;
    // 20 to 80 KiB/s, where the others come at loopback speed.
    lane.slice = 1024 * (1 + Below(4));
    lane.delay = milliseconds(50);
    return lane;
}

RangeFault FaultPlan::ForRequest(const SeenRequest &request, size_t fileSize,
                                 const std::string &self, const std::vector<std::string> &others,
                                 std::string &name) {
    std::lock_guard lock(mutex_);
    RangeFault fault = request.method == "HEAD" ? ForHead(name) : ForGet(request, fileSize, name);
    if (fault.kind == Kind::Redirect)
        fault = Redirect(request, self, others);
    return fault;
}

RangeFault FaultPlan::ForHead(std::string &name) {
    name = Pick(kHeadFaults, Below(1000));
    RangeFault f;
    if (name == "reset")
        f.kind = Kind::ResetAfter;
    else if (name == "pause")
        f = {Kind::PauseAfter, 0, 0, Millis(1000, 3000), {}};
    else if (name == "stall-past-timeout")
        f.kind = Kind::StallForever;
    else if (name == "status-5xx")
        f = {Kind::Status, 0, Below(2) == 0 ? 500 : 503, {}, {}};
    else if (name == "status-404")
        f = {Kind::Status, 0, 404, {}, {}};
    else if (name == "redirect")
        f.kind = Kind::Redirect;
    else if (name == "refuse")
        f = {Kind::Refuse, 0, 0, Millis(2000, 6000), {}};
    return f;
}

RangeFault FaultPlan::ForGet(const SeenRequest &request, size_t fileSize, std::string &name) {
    size_t first = 0, length = 0;
    AskedRange(request, fileSize, first, length);
    name = Pick(kGetFaults, Below(1000));
    const size_t len = std::max<size_t>(length, 1);
    RangeFault f;
    if (name == "reset")
        f = {Kind::ResetAfter, Below(len), 0, {}, {}};
    else if (name == "pause")
        f = {Kind::PauseAfter, Below(len + 1), 0, Millis(3000, 8000), {}};
    else if (name == "stall-past-timeout")
        f = {Kind::StallForever, Below(len), 0, {}, {}};
    else if (name == "trickle")
        f = {Kind::Trickle, std::max<size_t>(1, len / (60 + Below(91))), 0, Millis(30, 70), {}};
    else if (name == "short-body")
        f = {Kind::ShortBody, Below(len), 0, {}, {}};
    else if (name == "long-body")
        f = {Kind::LongBody, 1 + Below(4096), 0, {}, {}};
    else if (name == "status-5xx" || name == "status-404") {
        static constexpr int fiveHundreds[] = {500, 502, 503};
        // Half the error pages are exactly as long as the range, so only the status tells.
        f = {Kind::Status,
             Below(2) == 0 ? len : 0,
             name == "status-404" ? 404 : fiveHundreds[Below(3)],
             {},
             {}};
    } else if (name == "whole-file")
        f.kind = Kind::WholeFile;
    else if (name == "wrong-content-range")
        f.kind = Kind::WrongContentRange;
    else if (name == "wrong-range-bytes")
        f = {Kind::WrongRangeBytes, Below(fileSize + 1), 0, {}, {}};
    else if (name == "other-version")
        f = {Kind::OtherVersion, Below(1000), 0, {}, {}};
    else if (name == "redirect")
        f.kind = Kind::Redirect;
    else if (name == "refuse")
        f = {Kind::Refuse, 0, 0, Millis(2000, 8000), {}};
    return f;
}

RangeFault FaultPlan::Redirect(const SeenRequest &request, const std::string &self,
                               const std::vector<std::string> &others) {
    static constexpr int statuses[] = {301, 302, 303, 307};
    RangeFault f{Kind::Redirect, 0, statuses[Below(4)], {}, {}};
    const std::string path = "/moved" + RequestPath(request.request);
    switch (Below(3)) {
    case 0:
        f.location = path;
        break; // same host and port
    case 1:
        f.location = "http://" + self + path;
        break; // absolute, same location
    default:   // another location that listens
        f.location = "http://" + (others.empty() ? self : others[Below(others.size())]) + path;
        break;
    }
    return f;
}

} // namespace testsupport
