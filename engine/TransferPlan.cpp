#include "engine/TransferPlan.h"

#include "engine/DownloadRecord.h"
#include "platform/Catalogue.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

namespace engine {
namespace {

// A connection younger than this is not judged slow: it may still be connecting or starting.
constexpr double kGraceSeconds = 0.5;
// A connection is slow below this share of the others' rate.
constexpr double kSlowShare = 0.25;
// The least remainder worth halving, and the least worth taking from a slow connection.
constexpr int64_t kMinHalving = 512 * 1024;
constexpr int64_t kMinTakeAll = 64 * 1024;
// Halving pays when the time it saves is this many times what a new connection costs.
constexpr double kCostFactor = 4.0;
// A connection is not judged before this many times its path's time to a first byte.
constexpr double kFirstByteFactor = 2.0;
// Bytes that come slower than this over the time-out are a trickle: the attempt has stalled.
constexpr double kTrickleRate = 128;
// Bytes that come far below the others' rate for this long have stalled as well.
constexpr std::chrono::milliseconds kSlowStall{10000};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// How long a connection runs before it is judged: half a second, and at least twice what a
// connection takes to its first byte on that path.
double GraceSeconds(double connectionCost) {
    return std::max(kGraceSeconds, kFirstByteFactor * connectionCost);
}

} // namespace

bool IsSlowLane(const Lane &lane, double referenceRate, double connectionCost) {
    if (lane.age < GraceSeconds(connectionCost))
        return false; // still connecting or starting
    return lane.rate < 0 || (referenceRate > 0 && lane.rate < referenceRate * kSlowShare);
}

Takeover ChooseTakeover(const std::vector<Lane> &lanes, double referenceRate,
                        double connectionCost) {
    constexpr double kForever = std::numeric_limits<double>::infinity();
    Takeover best;
    double bestTime = -1;
    int64_t bestRemaining = 0;
    bool bestSlow = false;
    for (size_t i = 0; i < lanes.size(); ++i) {
        const Lane &lane = lanes[i];
        if (lane.remaining <= 0)
            continue;
        // A lane waiting to try again after a failure: nothing comes now.
        const bool slow = lane.age < 0 || IsSlowLane(lane, referenceRate, connectionCost);
        // One not measured yet is expected to do as well as the others.
        const double rate = lane.rate < 0 ? referenceRate : lane.rate;
        const double time =
            slow || rate <= 0 ? kForever : static_cast<double>(lane.remaining) / rate;
        if (time > bestTime || (time == bestTime && lane.remaining > bestRemaining)) {
            best.lane = i;
            bestTime = time;
            bestRemaining = lane.remaining;
            bestSlow = slow;
        }
    }
    if (bestTime < 0)
        return best;
    if (bestSlow)
        best.kind = bestRemaining >= kMinTakeAll ? TakeoverKind::All : TakeoverKind::None;
    else if (bestRemaining >= kMinHalving && bestTime / 2 > kCostFactor * connectionCost)
        best.kind = TakeoverKind::Half;
    return best;
}

std::vector<std::pair<int64_t, int64_t>> TransferPlan::Ranges(int64_t size, int workers) {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    const int64_t length = size / workers + 1;
    for (int i = 0; i < workers; ++i) {
        const int64_t first = i * length;
        ranges.emplace_back(first, std::min(first + length - 1, size - 1));
    }
    return ranges;
}

TransferPlan::TransferPlan(int64_t size, std::vector<Location> locations, int workers)
    : TransferPlan(size, std::move(locations), Ranges(size, workers)) {}

TransferPlan::TransferPlan(int64_t size, std::vector<Location> locations,
                           const std::vector<std::pair<int64_t, int64_t>> &ranges)
    : size_(size), workers_(ranges.size()), locations_(std::move(locations)) {
    for (size_t i = 0; i < ranges.size(); ++i) {
        auto segment = std::make_shared<Segment>();
        segment->First = ranges[i].first;
        segment->Last = ranges[i].second;
        segments_.push_back(segment);
        workers_[i].segment = segment;
    }
}

TransferPlan::TransferPlan(int64_t size, std::vector<Location> locations,
                           const std::vector<std::pair<int64_t, int64_t>> &ranges,
                           const std::vector<std::pair<int64_t, int64_t>> &done)
    : TransferPlan(size, std::move(locations), ranges) {
    // The bytes already there that no worker fetches again: segments of nobody's, complete.
    for (const auto &there : done) {
        const bool fetched = std::any_of(ranges.begin(), ranges.end(), [&](const auto &r) {
            return r.first <= there.second && there.first <= r.second;
        });
        if (fetched)
            continue;
        auto segment = std::make_shared<Segment>();
        segment->First = there.first;
        segment->Last = there.second;
        segment->Claimed = segment->Received = there.second - there.first + 1;
        segments_.push_back(segment);
    }
}

std::vector<std::pair<int64_t, int64_t>>
TransferPlan::ResumeRanges(int64_t size, const std::vector<std::pair<int64_t, int64_t>> &done,
                           int workers) {
    std::vector<std::pair<int64_t, int64_t>> missing;
    int64_t next = 0;
    for (const auto &[first, last] : done) {
        if (first > next)
            missing.emplace_back(next, first - 1);
        next = std::max(next, last + 1);
    }
    if (next < size)
        missing.emplace_back(next, size - 1);
    const auto length = [](const std::pair<int64_t, int64_t> &r) { return r.second - r.first + 1; };
    // More ranges than workers: the two with the fewest bytes between them become one.
    while (missing.size() > static_cast<size_t>(workers)) {
        size_t closest = 0;
        for (size_t i = 1; i + 1 < missing.size(); ++i)
            if (missing[i + 1].first - missing[i].second <
                missing[closest + 1].first - missing[closest].second)
                closest = i;
        missing[closest].second = missing[closest + 1].second;
        missing.erase(missing.begin() + static_cast<std::ptrdiff_t>(closest) + 1);
    }
    // Fewer: the longest is halved while each half is worth a connection of its own.
    while (missing.size() < static_cast<size_t>(workers)) {
        const auto longest =
            std::max_element(missing.begin(), missing.end(),
                             [&](const auto &a, const auto &b) { return length(a) < length(b); });
        if (longest == missing.end() || length(*longest) < 2 * kMinHalving)
            break;
        const int64_t half = longest->first + length(*longest) / 2;
        const std::pair<int64_t, int64_t> later{half, longest->second};
        longest->second = half - 1;
        missing.insert(longest + 1, later);
    }
    while (missing.size() < static_cast<size_t>(workers))
        missing.emplace_back(size, size - 1);
    return missing;
}

Work TransferPlan::WorkOf(const Worker &w, bool wait) const {
    Work work;
    work.segment = w.segment;
    work.location = w.location;
    work.wait = wait;
    work.first = w.segment->Next();
    work.last = w.segment->Last;
    return work;
}

Work TransferPlan::NextWork(int worker) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    // A location that others' failures gave up is left before it is asked again.
    if (locations_[w.location].Out)
        MoveOn(w);
    if (w.segment && !w.segment->Complete())
        return WorkOf(w, true);
    if (oneStream_)
        return {};
    return TakeoverFor(worker, now_());
}

uint64_t TransferPlan::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

void TransferPlan::Changed() {
    ++generation_;
    changed_.notify_all();
}

void TransferPlan::Wake() {
    std::lock_guard lock(mutex_);
    Changed();
}

void TransferPlan::WaitForChange(uint64_t seen, std::chrono::milliseconds limit,
                                 const std::function<bool()> &stop) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return generation_ != seen || stop(); });
}

double TransferPlan::RateOf(const Worker &w, Clock::time_point now) const {
    if (!w.running)
        return w.lastRate;
    const double elapsed = Seconds(now - w.started);
    return w.bytes > 0 && elapsed > 0 ? static_cast<double>(w.bytes) / elapsed : -1;
}

Work TransferPlan::TakeoverFor(int worker, Clock::time_point now) {
    Worker &idle = workers_[static_cast<size_t>(worker)];
    std::vector<Lane> lanes;
    std::vector<size_t> owners;
    std::vector<double> rates;
    if (idle.lastRate > 0)
        rates.push_back(idle.lastRate);
    for (size_t i = 0; i < workers_.size(); ++i) {
        const Worker &w = workers_[i];
        if (static_cast<int>(i) == worker || !w.segment || w.segment->Complete())
            continue;
        Lane lane;
        lane.remaining = w.segment->Remaining();
        lane.rate = w.running ? RateOf(w, now) : -1;
        lane.age = w.running ? Seconds(now - w.started) : -1;
        if (lane.rate > 0)
            rates.push_back(lane.rate);
        lanes.push_back(lane);
        owners.push_back(i);
    }
    double reference = -1;
    if (!rates.empty()) {
        std::sort(rates.begin(), rates.end());
        reference = rates[rates.size() / 2];
    }
    const Takeover takeover = ChooseTakeover(lanes, reference, TypicalConnectionCost());
    if (takeover.kind == TakeoverKind::None)
        return {};
    Segment &from = *workers_[owners[takeover.lane]].segment;
    const int64_t unclaimed = from.First + from.Claimed;
    const int64_t cut =
        takeover.kind == TakeoverKind::Half ? unclaimed + from.Remaining() / 2 : unclaimed;
    auto taken = std::make_shared<Segment>();
    taken->First = cut;
    taken->Last = from.Last;
    from.Last = cut - 1;
    Worker &owner = workers_[owners[takeover.lane]];
    if (takeover.kind == TakeoverKind::All && owner.running) {
        // Its connection has nothing more to fetch: it ends at its next look. The bytes go on
        // being watched as they were, so that a range that is slow on every connection that
        // takes it over still stalls.
        owner.cut = true;
        taken->SlowSince = from.SlowSince ? from.SlowSince : now;
        taken->WindowStart = from.WindowStart;
        taken->WindowBytes = from.WindowBytes;
    }
    segments_.push_back(taken);
    idle.segment = taken;
    // Its attempt begins now: no other idle worker takes it for a lane that does nothing.
    idle.running = true;
    idle.started = now;
    idle.bytes = 0;
    ++takeovers_;
    return WorkOf(idle, false);
}

void TransferPlan::AttemptStarted(int worker) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    w.running = true;
    w.started = now_();
    w.bytes = 0;
    w.cut = false;
    if (w.segment && !w.segment->WindowStart) {
        w.segment->WindowStart = w.started;
        w.segment->WindowBytes = 0;
    }
}

double TransferPlan::OthersRate(int worker, Clock::time_point now) const {
    std::vector<double> rates;
    for (size_t i = 0; i < workers_.size(); ++i) {
        const double rate = workers_[i].running ? RateOf(workers_[i], now) : workers_[i].lastRate;
        if (static_cast<int>(i) != worker && rate > 0)
            rates.push_back(rate);
    }
    if (rates.empty())
        return -1;
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

double TransferPlan::TypicalConnectionCost() const {
    std::vector<double> costs;
    for (const Worker &w : workers_)
        costs.push_back(w.connectionCost);
    std::sort(costs.begin(), costs.end());
    return costs[costs.size() / 2];
}

AttemptCheck TransferPlan::CheckAttempt(int worker, std::chrono::milliseconds timeOut) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    AttemptCheck check;
    if (!w.running || !w.segment)
        return check;
    if (w.cut) {
        check.verdict = AttemptVerdict::Cut;
        return check;
    }
    const Clock::time_point now = now_();
    Segment &segment = *w.segment;
    auto stalled = [&](const std::string &why) {
        // Judged afresh from here, also for a takeover before the attempt has ended.
        segment.SlowSince.reset();
        segment.WindowStart = now;
        segment.WindowBytes = 0;
        check.verdict = AttemptVerdict::Stalled;
        check.failure = Failure{FailureKind::Stalled, 0, why};
        return check;
    };
    // A trickle: a byte now and then keeps the time-out of silence from ever ending it.
    if (segment.WindowStart && now - *segment.WindowStart >= timeOut) {
        if (segment.WindowBytes < static_cast<int64_t>(kTrickleRate * Seconds(timeOut)))
            // TRANSLATORS: %1 is a number of bytes, %2 of seconds.
            return stalled(platform::Fill(platform::Tr("Only %1 bytes came in %2 s"),
                                          {std::to_string(segment.WindowBytes),
                                           std::to_string((timeOut.count() + 999) / 1000)}));
        segment.WindowStart = now;
        segment.WindowBytes = 0;
    }
    const double reference = oneStream_ ? -1 : OthersRate(worker, now);
    if (reference <= 0)
        return check;
    const double cost = TypicalConnectionCost();
    const Lane lane{segment.Remaining(), RateOf(w, now), Seconds(now - w.started)};
    if (IsSlowLane(lane, reference, cost)) {
        const auto limit = std::min<std::chrono::milliseconds>(kSlowStall, timeOut);
        if (!segment.SlowSince)
            segment.SlowSince = now;
        else if (now - *segment.SlowSince >= limit)
            return stalled(
                // TRANSLATORS: %1 is a number of seconds.
                platform::Fill(platform::Tr("Far slower than the other connections for %1 s"),
                               {std::to_string((limit.count() + 999) / 1000)}));
    } else if (lane.rate >= 0 && lane.age >= GraceSeconds(cost)) {
        segment.SlowSince.reset(); // judged, and keeping up
    }
    return check;
}

void TransferPlan::AttemptCut(int worker) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    w.running = false;
    w.cut = false;
    Changed();
}

size_t TransferPlan::Claim(int worker, int64_t offset, size_t n) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    Segment *segment = w.segment.get();
    if (!segment || offset != segment->First + segment->Claimed)
        return 0;
    const int64_t room = segment->Last - offset + 1;
    if (room <= 0)
        return 0;
    const size_t take = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(n)));
    segment->Claimed += static_cast<int64_t>(take);
    if (w.bytes == 0 && w.running && w.firstByte < w.started) {
        // The time to the first byte is what a new connection costs on this path.
        w.firstByte = now_();
        w.connectionCost = std::max(Seconds(w.firstByte - w.started), 0.001);
    }
    return take;
}

void TransferPlan::Committed(int worker, size_t n) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    w.segment->Received += static_cast<int64_t>(n);
    w.segment->WindowBytes += static_cast<int64_t>(n);
    w.bytes += static_cast<int64_t>(n);
    if (w.segment->Complete())
        Changed();
}

void TransferPlan::Withdraw(int worker, int64_t n) {
    std::lock_guard lock(mutex_);
    Segment &segment = *workers_[static_cast<size_t>(worker)].segment;
    n = std::min({n, segment.Received, segment.Claimed});
    segment.Received -= n;
    segment.Claimed -= n;
    Changed();
}

void TransferPlan::AttemptSucceeded(int worker) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    w.running = false;
    // A cut attempt may still end as a success, once its next bytes came: that shows nothing
    // of its location, which served its range too slowly, nor what its path can do.
    if (!std::exchange(w.cut, false)) {
        w.lastRate = RateOf(w, now_());
        Location &location = locations_[w.location];
        location.Strikes = 0;
        location.Out = false;
        counting_ = false;
    }
    Changed();
}

FailureOutcome TransferPlan::AttemptFailed(int worker, const Failure &failure, int64_t delivered) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    // A stall's rate is no measure of what the path can do: the others are not judged by it.
    if (w.bytes > 0 && failure.kind != FailureKind::Stalled)
        w.lastRate = RateOf(w, now_());
    w.running = false;
    w.cut = false;
    if (w.segment) {
        w.segment->SlowSince.reset();
        w.segment->WindowStart.reset();
    }
    Changed();
    FailureOutcome outcome;
    if (!IsLocationFailure(failure.kind))
        return outcome;
    Location &location = locations_[w.location];
    if (delivered > 0 && failure.kind != FailureKind::Stalled) {
        // It served this attempt for a while: the location works, the connection broke.
        location.Strikes = 0;
        counting_ = false;
    }
    if (++location.Strikes >= 2 || StrikesOutAtOnce(failure))
        location.Out = true;
    auto usable = [this](size_t i) { return !locations_[i].Out; };
    const size_t count = locations_.size();
    bool others = false;
    for (size_t i = 0; i < count; ++i)
        others = others || (i != w.location && usable(i));
    if (location.Out && !others) {
        // No location can serve: all are tried again in turn, and failures count from here.
        for (Location &l : locations_) {
            l.Out = false;
            l.Strikes = 0;
        }
        counting_ = true;
    }
    outcome.counted = counting_ || !others;
    if (location.Out || (counting_ && count > 1))
        outcome.moved = MoveOn(w);
    return outcome;
}

bool TransferPlan::MoveOn(Worker &w) {
    const size_t count = locations_.size();
    for (size_t step = 1; step < count; ++step) {
        const size_t next = (w.location + step) % count;
        if (!locations_[next].Out) {
            w.location = next;
            return true;
        }
    }
    return false;
}

bool TransferPlan::MakeOneStream(int worker) {
    std::lock_guard lock(mutex_);
    Worker &stream = workers_[static_cast<size_t>(worker)];
    if (oneStream_)
        return oneStreamWorker_ == worker; // asked again after a failed attempt
    oneStream_ = true;
    oneStreamWorker_ = worker;
    for (Worker &w : workers_)
        if (w.segment)
            w.segment->Last = w.segment->First + w.segment->Claimed - 1; // ends where it is
    auto whole = std::make_shared<Segment>();
    whole->First = 0;
    whole->Last = size_ - 1;
    segments_.assign(1, whole);
    stream.segment = whole;
    Changed();
    return true;
}

void TransferPlan::RestartOneStream(int worker) {
    std::lock_guard lock(mutex_);
    Segment &segment = *workers_[static_cast<size_t>(worker)].segment;
    segment.Claimed = 0;
    segment.Received = 0;
}

bool TransferPlan::OneStream() const {
    std::lock_guard lock(mutex_);
    return oneStream_;
}

bool TransferPlan::IsOneStream(int worker) const {
    std::lock_guard lock(mutex_);
    return oneStream_ && oneStreamWorker_ == worker;
}

int64_t TransferPlan::Received() const {
    std::lock_guard lock(mutex_);
    int64_t sum = 0;
    for (const auto &segment : segments_)
        sum += std::min(segment->Received, segment->Last - segment->First + 1);
    return sum;
}

std::vector<std::pair<int64_t, int64_t>> TransferPlan::DoneRanges() const {
    std::vector<std::pair<int64_t, int64_t>> done;
    std::lock_guard lock(mutex_);
    for (const auto &segment : segments_) {
        const int64_t bytes = std::min(segment->Received, segment->Last - segment->First + 1);
        if (bytes > 0)
            done.emplace_back(segment->First, segment->First + bytes - 1);
    }
    return MergedRanges(std::move(done));
}

bool TransferPlan::Complete() const {
    std::lock_guard lock(mutex_);
    return std::all_of(segments_.begin(), segments_.end(),
                       [](const auto &segment) { return segment->Complete(); });
}

Location TransferPlan::LocationAt(size_t index) const {
    std::lock_guard lock(mutex_);
    return locations_[index];
}

size_t TransferPlan::LocationOf(int worker) const {
    std::lock_guard lock(mutex_);
    return workers_[static_cast<size_t>(worker)].location;
}

int TransferPlan::Takeovers() const {
    std::lock_guard lock(mutex_);
    return takeovers_;
}

} // namespace engine
