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
    // How a Faulty location that dies is dead: nothing listens any more (its open
    // connections are cut, new ones refused), or every connection is reset.
    enum class Death { None, Refuse, Reset };
    Role role = Role::Faulty;
    int status = 0;
    std::chrono::milliseconds headDelay{0};
    size_t paceSlice = 0; // FastHeadThenTrickle: bytes per slice
    std::chrono::milliseconds paceDelay{0};
    // Faulty: it dies when its range request number `dieAtRange` (0-based) comes in, or
    // `dieAfter` after the run's first range request, whichever comes first.
    Death death = Death::None;
    size_t dieAtRange = 0;
    std::chrono::milliseconds dieAfter{0};
};

// A name for the log: "faulty", "dying", "fast-head-trickle", "error-503", "absent".
std::string RoleName(const MirrorPlan &plan);
// "refuse" or "reset".
std::string DeathName(MirrorPlan::Death death);

// One connection of the first range requests of a location that otherwise serves well (the
// first Faulty one that does not die to get range requests) comes far slower than the others:
// its range request `request` (0-based) comes in slices of `slice` bytes, `delay` apart, and
// the others of its first `calm` come without a fault, so that their workers are soon idle
// and must take the slow one's remainder over.
struct SlowLane {
    bool on = false;
    size_t request = 0;
    size_t calm = 0;
    size_t slice = 0;
    std::chrono::milliseconds delay{0};
};

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
    // The plans of `count` locations (1 to 4), entry 0 the primary one, which serves the file
    // (and may die when it is not alone); the built-in ones may do anything, dying too. When
    // the primary dies, the first built-in one serves throughout, for the workers to move to.
    std::vector<MirrorPlan> Locations(size_t fileSize, size_t count);
    // The slow lane of the run, if it has one (more often for files whose ranges are large
    // enough to be taken over).
    SlowLane Slow(size_t fileSize);

    // The fault of one connection of a Faulty location of a file of `fileSize` bytes, given
    // what it asked for. `self` is the location's own "host[:port]", `others` those of the
    // other locations that listen (redirect targets). `name` receives the fault's log name
    // ("none", "reset", "trickle", ...). Safe from several threads.
    RangeFault ForRequest(const SeenRequest &request, size_t fileSize, const std::string &self,
                          const std::vector<std::string> &others, std::string &name);

  private:
    uint64_t Below(uint64_t n); // 0 .. n-1; n > 0
    MirrorPlan BuiltIn(size_t fileSize);
    void Dying(MirrorPlan &plan);
    std::chrono::milliseconds Millis(int64_t from, int64_t to);
    RangeFault ForHead(std::string &name);
    RangeFault ForGet(const SeenRequest &request, size_t fileSize, std::string &name);
    RangeFault Redirect(const SeenRequest &request, const std::string &self,
                        const std::vector<std::string> &others);

    std::mutex mutex_;
    std::mt19937_64 random_;
};

} // namespace testsupport
