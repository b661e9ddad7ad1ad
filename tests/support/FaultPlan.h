#pragma once

// The random choices of one fault-injecting mirror run, all drawn from one seed: the file's
// size and bytes, what each of the four locations does, and the fault of every connection.

#include "tests/support/RangeServer.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

// What a location does for the whole run.
struct MirrorPlan {
    enum class Role {
        Faulty,              // serves the file, with a fault on some connections
        FastHeadThenTrickle, // answers HEAD at once, then trickles every body
        Error,               // answers every request with `status`
        Absent,              // nothing listens: connections are refused
    };
    Role role = Role::Faulty;
    int status = 0;
    std::chrono::milliseconds headDelay{0};
    size_t paceSlice = 0; // FastHeadThenTrickle: bytes per slice
    std::chrono::milliseconds paceDelay{0};
};

// A name for the log: "faulty", "fast-head-trickle", "error-503", "absent".
std::string RoleName(const MirrorPlan &plan);

class FaultPlan {
  public:
    // Worker data waits give up after this long; a "stall past the time-out" outlasts it.
    static constexpr std::chrono::seconds kWorkerTimeOut{60};

    explicit FaultPlan(uint64_t seed) : random_(seed) {}

    // A size from 1 to maxSize, spread evenly over the orders of magnitude, with the smallest
    // sizes (whose ranges come out empty or one byte long) drawn more often.
    size_t FileSize(size_t maxSize);
    // `size` bytes that do not repeat, so that any misplaced byte shows.
    std::string Content(size_t size);
    // The primary location always serves; the built-in ones may do anything.
    MirrorPlan Primary();
    MirrorPlan BuiltIn(size_t fileSize);

    // The fault of one connection of a Faulty location of a file of `fileSize` bytes, given
    // what it asked for. `self` is the location's own "host[:port]", `others` those of the
    // other locations that listen (redirect targets). `name` receives the fault's log name
    // ("none", "reset", "trickle", ...). Safe from several threads.
    RangeFault ForRequest(const SeenRequest &request, size_t fileSize, const std::string &self,
                          const std::vector<std::string> &others, std::string &name);

  private:
    uint64_t Below(uint64_t n); // 0 .. n-1; n > 0
    std::chrono::milliseconds Millis(int64_t from, int64_t to);
    RangeFault ForHead(std::string &name);
    RangeFault ForGet(const SeenRequest &request, size_t fileSize, std::string &name);
    RangeFault Redirect(const SeenRequest &request, const std::string &self,
                        const std::vector<std::string> &others);

    std::mutex mutex_;
    std::mt19937_64 random_;
};

} // namespace testsupport
