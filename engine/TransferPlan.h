#pragma once

#include "engine/Failure.h"
#include "platform/ProxyRules.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace engine {

using Clock = std::chrono::steady_clock;

// A location that agreed on the file's size, in the order of their answers' times.
struct Location {
    std::string Host;      // "server" or "server:port"
    std::string Directory; // ends in "/" unless empty
    int64_t Elapsed = 0;   // the size request's time, in ms
    int Strikes = 0;       // failed attempts since the last good one
    bool Out = false;      // given up until every location is
    platform::ProxyServer Proxy{}; // the proxy it is reached through (no host: none)
};

// A range of the file, first to last byte inclusive, fetched by one worker at a time. The
// bytes from its start are written in order: Received of them are on disk, Claimed are on
// disk or being written. A takeover lowers Last (never below Start + Claimed - 1).
struct Segment {
    int64_t First = 0;
    int64_t Last = -1;
    int64_t Claimed = 0;
    int64_t Received = 0;
    // How its bytes have come since its last failed attempt, across the connections that
    // fetched them (a takeover of a slow remainder carries it on): since when they come far
    // below the others' rate (none: they do not), and the window a trickle is judged in
    // (since when, and the bytes written since then).
    std::optional<Clock::time_point> SlowSince;
    std::optional<Clock::time_point> WindowStart;
    int64_t WindowBytes = 0;
    // The first byte still to ask for, and what is left of the range.
    int64_t Next() const { return First + Received; }
    int64_t Remaining() const { return Last - (First + Claimed) + 1; }
    bool Complete() const { return First + Received > Last; }
};

// What a worker does next: fetch `segment` from location `location`, after the wait that
// begins every attempt unless it is a takeover (new work, not a retry). No segment: nothing
// is left for this worker.
struct Work {
    std::shared_ptr<Segment> segment;
    size_t location = 0;
    bool wait = true;
    int64_t first = 0, last = -1; // the range to ask for: the segment's next byte to its end
};

// What a failed attempt changed: the worker moved to another location (named in the status
// line), and whether the failure counts against the attempts of the options (only once no
// location can serve).
struct FailureOutcome {
    bool moved = false;
    bool counted = false;
};

// The view of one running segment that a takeover is chosen from.
struct Lane {
    int64_t remaining = 0; // bytes of its range that nobody writes yet
    double rate = -1;      // bytes per second of its connection; -1: not measured yet
    double age = -1;       // seconds since its attempt began; -1: no attempt runs
};
// Whether a lane's connection is slow: below a quarter of `referenceRate`, or nothing measured
// yet, once it is past its grace (half a second, and at least twice `connectionCost`, what a
// connection takes to its first byte on that path: a far path is not judged before its first
// byte can have come). A lane with no attempt running is not slow here (ChooseTakeover says
// what becomes of it).
bool IsSlowLane(const Lane &lane, double referenceRate, double connectionCost);

enum class TakeoverKind { None, Half, All };
struct Takeover {
    TakeoverKind kind = TakeoverKind::None;
    size_t lane = 0;
};
// The takeover for an idle worker: the lane with the most time left. Its later half when that
// is worth a connection of its own (`connectionCost` seconds, what a new connection takes to
// its first byte on the path); all of it when its connection is slow (IsSlowLane) or no attempt
// runs on it, since halving alone would leave a slow path its last piece. None when nothing
// is worth it.
Takeover ChooseTakeover(const std::vector<Lane> &lanes, double referenceRate,
                        double connectionCost);

// What a running attempt is to do, as the plan judges it now.
enum class AttemptVerdict {
    Go,      // go on
    Cut,     // another worker took all of its remainder: end, neither a success nor a failure
    Stalled, // its bytes come too slowly to wait for: end as a failed attempt (`failure`)
};
struct AttemptCheck {
    AttemptVerdict verdict = AttemptVerdict::Go;
    Failure failure;
};

// The transfer's plan: the segments of the file, the workers that fetch them, the locations
// they fetch from, and the rules that move work between them. Shared by the workers' threads
// and the session's; every member is safe from any thread.
class TransferPlan {
  public:
    // `size` > 0 bytes in `workers` ranges of size / workers + 1 bytes (the last ones may be
    // empty for small files), worker i (0-based) fetching range i from the first location.
    TransferPlan(int64_t size, std::vector<Location> locations, int workers);
    // The same with the ranges given (first, last), worker i fetching range i.
    TransferPlan(int64_t size, std::vector<Location> locations,
                 const std::vector<std::pair<int64_t, int64_t>> &ranges);
    // The ranges a file of `size` bytes is split into for `workers`: size / workers + 1
    // bytes each, the last ones shorter or empty.
    static std::vector<std::pair<int64_t, int64_t>> Ranges(int64_t size, int workers);
    // A download continued with the bytes of `done` (ranges first..last, sorted, apart) on
    // disk: worker i fetches range i of ResumeRanges, and the bytes of `done` outside them
    // count as received from the start.
    TransferPlan(int64_t size, std::vector<Location> locations,
                 const std::vector<std::pair<int64_t, int64_t>> &ranges,
                 const std::vector<std::pair<int64_t, int64_t>> &done);
    // The ranges `workers` workers fetch to complete a file of `size` bytes of which `done`
    // (sorted, apart) is on disk: the missing ranges, the closest ones joined (their bytes
    // between fetched again) while there are more of them than workers, the longest ones
    // halved while there are fewer and halves are worth a connection; empty ranges
    // (first = size) for the workers left over.
    static std::vector<std::pair<int64_t, int64_t>>
    ResumeRanges(int64_t size, const std::vector<std::pair<int64_t, int64_t>> &done, int workers);

    // The worker's next work: its own segment while incomplete (after the wait), else the
    // takeover of another's remainder (at once), else nothing for now; from the next location
    // when the worker's own was given up meanwhile.
    Work NextWork(int worker);
    // A worker with nothing to do waits here until the plan changes (a segment completed, an
    // attempt ended, Wake), `stop` says so, or `limit` passes (a connection may have become
    // slow meanwhile). `seen` is the Generation read before its NextWork.
    uint64_t Generation() const;
    void WaitForChange(uint64_t seen, std::chrono::milliseconds limit,
                       const std::function<bool()> &stop);
    void Wake();
    // An attempt of the worker begins now, for its segment.
    void AttemptStarted(int worker);
    // The worker's running attempt, judged now (its worker asks now and then while it runs;
    // `timeOut` is the attempt's time-out). Cut once another worker took all of its remainder
    // for being slow. Stalled when its segment's bytes came at less than 128 bytes a second
    // over the time-out (a trickle, which the time-out of silence never ends), or far below
    // the other connections' rate (IsSlowLane against the median of the others' rates, the
    // running ones' and the last ones of those that wait) for 10 s (or the time-out when
    // shorter), across the takeovers that moved them: then the attempt is a failure like any
    // other. Not while the file comes in one stream, which has no others to be compared with.
    AttemptCheck CheckAttempt(int worker, std::chrono::milliseconds timeOut);
    // How many of `n` bytes the worker may write at `offset` of the file: those up to its
    // segment's last byte, when `offset` is where the segment goes on. The bytes are then the
    // worker's to write; Committed says they are on disk.
    size_t Claim(int worker, int64_t offset, size_t n);
    void Committed(int worker, size_t n);
    // The last `n` bytes the worker wrote into its segment are not the file's after all (an
    // answer that turned out wrong): they are fetched again.
    void Withdraw(int worker, int64_t n);
    // The worker's attempt ended: successfully (its location served it well) or with
    // `failure` after delivering `delivered` bytes (strikes and failover).
    // A success after a cut says nothing about the location either; a failure starts the
    // watch of its segment's bytes afresh, and a stall (which delivers bytes, but too few)
    // never shows that the location works.
    void AttemptSucceeded(int worker);
    FailureOutcome AttemptFailed(int worker, const Failure &failure, int64_t delivered);
    // The worker's attempt ended after a cut (CheckAttempt).
    void AttemptCut(int worker);
    // The server sends whole files for ranges: the first worker to ask becomes the one stream
    // (true). Its segment becomes the whole file from its first byte, every other segment ends
    // where it is, and no remainder is split any more.
    bool MakeOneStream(int worker);
    // A worker of the one stream got the whole file again: its bytes start over from 0.
    void RestartOneStream(int worker);
    bool OneStream() const;
    // Whether `worker` is the one stream.
    bool IsOneStream(int worker) const;

    int64_t Size() const { return size_; }
    // Bytes on disk, each counted once.
    int64_t Received() const;
    // Where they are: ranges first..last, sorted and apart.
    std::vector<std::pair<int64_t, int64_t>> DoneRanges() const;
    bool Complete() const;
    Location LocationAt(size_t index) const;
    size_t LocationOf(int worker) const;
    // Ranges given out by takeovers so far.
    int Takeovers() const;

    // For tests: the clock that rates and ages are measured with.
    void SetClockForTesting(Clock::time_point (*now)()) { now_ = now; }

  private:
    struct Worker {
        std::shared_ptr<Segment> segment;
        size_t location = 0;
        bool running = false;
        Clock::time_point started{};
        Clock::time_point firstByte{};
        int64_t bytes = 0;    // written by the attempt that runs (or ran last)
        double lastRate = -1; // of its last connection that measured one, not cut or stalled
        double connectionCost = 0.05;
        bool cut = false; // its running attempt lost all of its remainder to another worker
    };
    double RateOf(const Worker &w, Clock::time_point now) const;
    // The median rate of the workers but `worker`: the running ones' now, the others' last.
    double OthersRate(int worker, Clock::time_point now) const;
    // What a new connection takes to its first byte, as most of the workers' last ones found
    // it: one slow to answer (a trickle) would put every judgement off.
    double TypicalConnectionCost() const;
    Work TakeoverFor(int worker, Clock::time_point now);
    Work WorkOf(const Worker &w, bool wait) const;
    // Moves the worker to the next location that is not given up; false when there is none.
    bool MoveOn(Worker &w);

    const int64_t size_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t generation_ = 0; // counts the changes idle workers wait for
    void Changed();           // with the lock held
    std::vector<std::shared_ptr<Segment>> segments_;
    std::vector<Worker> workers_;
    std::vector<Location> locations_;
    bool oneStream_ = false;
    int oneStreamWorker_ = -1;
    bool counting_ = false; // every location failed: failures count from here
    int takeovers_ = 0;
    Clock::time_point (*now_)() = &Clock::now;
};

} // namespace engine
