#include "engine/TransferPlan.h"

#include <algorithm>
#include <limits>

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

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

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
        double rate = lane.rate;
        bool slow;
        if (lane.age < 0) {
            slow = true; // waiting to try again after a failure: nothing comes now
        } else if (rate < 0) {
            slow = lane.age >= kGraceSeconds;
            rate = referenceRate;
        } else {
            slow =
                lane.age >= kGraceSeconds && referenceRate > 0 && rate < referenceRate * kSlowShare;
        }
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
    const Takeover takeover = ChooseTakeover(lanes, reference, idle.connectionCost);
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
    w.lastRate = RateOf(w, now_());
    w.running = false;
    Location &location = locations_[w.location];
    location.Strikes = 0;
    location.Out = false;
    counting_ = false;
    Changed();
}

FailureOutcome TransferPlan::AttemptFailed(int worker, const Failure &failure, int64_t delivered) {
    std::lock_guard lock(mutex_);
    Worker &w = workers_[static_cast<size_t>(worker)];
    if (w.bytes > 0)
        w.lastRate = RateOf(w, now_());
    w.running = false;
    Changed();
    FailureOutcome outcome;
    if (!IsLocationFailure(failure.kind))
        return outcome;
    Location &location = locations_[w.location];
    if (delivered > 0) {
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
    if (location.Out || (counting_ && count > 1)) {
        for (size_t step = 1; step < count; ++step) {
            const size_t next = (w.location + step) % count;
            if (usable(next)) {
                w.location = next;
                outcome.moved = true;
                break;
            }
        }
    }
    return outcome;
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
