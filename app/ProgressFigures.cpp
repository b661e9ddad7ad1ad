#include "app/ProgressFigures.h"

#include <cmath>
#include <cstdio>

namespace {

using Seconds = std::chrono::duration<double>;

// The speed is recomputed from readings at least this far apart.
constexpr Seconds kSampleSpan{0.25};
// How long the first readings are averaged before a speed is shown at all.
constexpr Seconds kFirstSpeedAfter{1.0};
// The smoothing's time constant: a change of speed shows by about two thirds after it.
constexpr double kSmoothingSeconds = 3.0;
// The time left is shown from this much measuring on, and while it is shorter than a day.
constexpr Seconds kTimeLeftAfter{3.0};
constexpr std::chrono::hours kLongestTimeLeft{24};
// Nothing received for this long is said instead of a speed.
constexpr Seconds kStalledAfter{3.0};

constexpr double kKilo = 1024.0, kMega = kKilo * 1024, kGiga = kMega * 1024;

std::string Format(const char *format, double a, double b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

std::string BytesOfTotalText(int64_t received, int64_t total) {
    const double r = static_cast<double>(received), t = static_cast<double>(total);
    if (t >= kGiga)
        return Format("%.2f of %.2f GB", r / kGiga, t / kGiga);
    if (t >= kMega)
        return Format("%.1f of %.1f MB", r / kMega, t / kMega);
    return Format("%.0f of %.0f KB", std::ceil(r / kKilo), std::ceil(t / kKilo));
}

std::string SpeedText(double bytesPerSecond) {
    // The unit by the rounded figure: just below 1 MB/s reads "1.0 MB/s", not "1024 KB/s".
    if (bytesPerSecond >= kMega - kKilo / 2)
        return Format("%.1f MB/s", bytesPerSecond / kMega, 0);
    if (bytesPerSecond >= 10 * kKilo - 50)
        return Format("%.0f KB/s", bytesPerSecond / kKilo, 0);
    return Format("%.1f KB/s", bytesPerSecond / kKilo, 0);
}

std::string TimeLeftText(std::chrono::seconds left) {
    const long long s = left.count();
    if (s < 10)
        return std::to_string(s) + " s left";
    if (s < 90)
        return std::to_string((s + 2) / 5 * 5) + " s left";
    const long long minutes = (s + 30) / 60;
    if (minutes < 60)
        return std::to_string(minutes) + " min left";
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min left";
}

void ProgressFigures::Note(Clock::time_point now, int64_t received, int64_t total) {
    // Bytes again after a stall (the wait before an attempt, a server that paused): the
    // speed of the quiet time says nothing about the speed from now on.
    if (first_ && received > received_ && now - lastArrival_ >= kStalledAfter)
        Restart();
    if (received > received_ || !first_)
        lastArrival_ = now;
    received_ = received;
    total_ = total;
    if (!first_) {
        first_ = sampled_ = Reading{now, received};
        return;
    }
    const Seconds span = now - sampled_->at;
    if (span < kSampleSpan)
        return;
    const double gained = static_cast<double>(std::max<int64_t>(0, received - sampled_->received));
    if (speed_) {
        // Each reading moves the speed towards the rate since the last one, the more the
        // longer ago that was.
        const double weight = 1 - std::exp(-span.count() / kSmoothingSeconds);
        *speed_ += weight * (gained / span.count() - *speed_);
    } else if (now - first_->at >= kFirstSpeedAfter) {
        const double all = static_cast<double>(std::max<int64_t>(0, received - first_->received));
        speed_ = all / Seconds(now - first_->at).count();
    }
    sampled_ = Reading{now, received};
}

void ProgressFigures::Restart() {
    first_.reset();
    sampled_.reset();
    speed_.reset();
}

std::optional<double> ProgressFigures::Speed() const {
    return speed_;
}

std::optional<std::chrono::seconds> ProgressFigures::TimeLeft(Clock::time_point now) const {
    if (!speed_ || *speed_ <= 0 || !first_ || now - first_->at < kTimeLeftAfter ||
        now - lastArrival_ >= kStalledAfter)
        return std::nullopt;
    const double seconds = static_cast<double>(total_ - received_) / *speed_;
    if (seconds >= std::chrono::duration_cast<Seconds>(kLongestTimeLeft).count())
        return std::nullopt;
    return std::chrono::seconds(static_cast<long long>(std::ceil(seconds))); // never "0 s left"
}

std::string ProgressFigures::BytesText() const {
    return first_ || received_ || total_ ? BytesOfTotalText(received_, total_) : "";
}

std::string ProgressFigures::Text(Clock::time_point now) const {
    if (!first_)
        return BytesText();
    std::string text = BytesOfTotalText(received_, total_);
    if (received_ >= total_)
        return text;
    // A transfer that has not begun yet (the wait before the first attempts) has not stalled.
    const Seconds quiet = now - lastArrival_;
    if (quiet >= kStalledAfter && received_ > first_->received)
        return text + ", no data for " + std::to_string(static_cast<long long>(quiet.count())) +
               " s";
    if (speed_ && *speed_ > 0)
        text += ", " + SpeedText(*speed_);
    if (const auto left = TimeLeft(now))
        text += ", " + TimeLeftText(*left);
    return text;
}
