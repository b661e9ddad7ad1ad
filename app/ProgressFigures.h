#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// "16.2 of 40.0 MB": the bytes received of the total, in the unit that suits the total (KB
// below 1 MB, MB below 1 GB, GB; 1 KB is 1024 bytes, as in the window's caption).
std::string BytesOfTotalText(int64_t received, int64_t total);
// "1.0 MB/s", "850 KB/s", "3.4 KB/s".
std::string SpeedText(double bytesPerSecond);
// "8 s left", "25 s left" (in 5 s steps from 10 s on), "3 min left", "1 h 5 min left".
std::string TimeLeftText(std::chrono::seconds left);

// The figures shown beside a download's progress bar: the bytes of the total, the speed and
// the time left, e.g. "16.2 of 40.0 MB, 1.0 MB/s, 25 s left". The speed is smoothed, so that
// it does not jump with every reading; the time left is shown only once it means something
// (a few seconds of readings, a speed, less than a day); a transfer that receives nothing for
// a while says so instead ("no data for 7 s").
class ProgressFigures {
  public:
    using Clock = std::chrono::steady_clock;

    // A reading: `received` of `total` bytes at `now`. Fewer bytes than before (a failed
    // attempt's withdrawn) count as no progress, not as a negative speed.
    void Note(Clock::time_point now, int64_t received, int64_t total);
    // The speed is measured anew from the next reading (after a pause, or a new transfer).
    void Restart();

    // The bytes per second, smoothed; none until a second of readings has passed.
    std::optional<double> Speed() const;
    // The time the rest will take at the current speed, when that means something at `now`.
    std::optional<std::chrono::seconds> TimeLeft(Clock::time_point now) const;
    // The line of figures as of `now`; empty before the first reading.
    std::string Text(Clock::time_point now) const;
    // The bytes of the total only: while paused, or once everything has arrived.
    std::string BytesText() const;

  private:
    struct Reading {
        Clock::time_point at;
        int64_t received;
    };
    std::optional<Reading> first_;    // since the start or the last Restart
    std::optional<Reading> sampled_;  // the last reading the speed was computed from
    Clock::time_point lastArrival_{}; // when the bytes last grew
    int64_t received_ = 0, total_ = 0;
    std::optional<double> speed_;
};
