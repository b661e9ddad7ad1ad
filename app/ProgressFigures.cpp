#include "app/ProgressFigures.h"

#include "platform/Catalogue.h"

#include <cmath>
#include <cstdio>

namespace {

using platform::Fill;
using platform::Tr;

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

// A figure in the program's own number format ("%.1f"), for a place of a pattern.
std::string Number(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string BytesOfTotalText(int64_t received, int64_t total) {
    const double r = static_cast<double>(received), t = static_cast<double>(total);
    if (t >= kGiga)
        // TRANSLATORS: the gigabytes received (%1) of the file's (%2), e.g. "1.25 of 2.00 GB".
        return Fill(Tr("%1 of %2 GB"), {Number("%.2f", r / kGiga), Number("%.2f", t / kGiga)});
    if (t >= kMega)
        // TRANSLATORS: the megabytes received (%1) of the file's (%2), e.g. "16.2 of 40.0 MB".
        return Fill(Tr("%1 of %2 MB"), {Number("%.1f", r / kMega), Number("%.1f", t / kMega)});
    // TRANSLATORS: the kilobytes received (%1) of the file's (%2), e.g. "12 of 800 KB".
    return Fill(Tr("%1 of %2 KB"),
                {Number("%.0f", std::ceil(r / kKilo)), Number("%.0f", std::ceil(t / kKilo))});
}

std::string SpeedText(double bytesPerSecond) {
    // The unit by the rounded figure: just below 1 MB/s reads "1.0 MB/s", not "1024 KB/s".
    if (bytesPerSecond >= kMega - kKilo / 2)
        // TRANSLATORS: a download's speed, %1 the megabytes per second ("1.0 MB/s").
        return Fill(Tr("%1 MB/s"), {Number("%.1f", bytesPerSecond / kMega)});
    const char *const format = bytesPerSecond >= 10 * kKilo - 50 ? "%.0f" : "%.1f";
    // TRANSLATORS: a download's speed, %1 the kilobytes per second ("850 KB/s").
    return Fill(Tr("%1 KB/s"), {Number(format, bytesPerSecond / kKilo)});
}

std::string TimeLeftText(std::chrono::seconds left) {
    const long long s = left.count();
    if (s < 90)
        // TRANSLATORS: the time a download still needs, %1 the seconds ("25 s left").
        return Fill(Tr("%1 s left"), {std::to_string(s < 10 ? s : (s + 2) / 5 * 5)});
    const long long minutes = (s + 30) / 60;
    if (minutes < 60)
        // TRANSLATORS: the time a download still needs, %1 the minutes ("3 min left").
        return Fill(Tr("%1 min left"), {std::to_string(minutes)});
    // TRANSLATORS: the time a download still needs, %1 the hours, %2 the minutes ("1 h 5 min
    // left").
    return Fill(Tr("%1 h %2 min left"),
                {std::to_string(minutes / 60), std::to_string(minutes % 60)});
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
    // The figures are a list: the bytes, then the speed and the time left, or how long nothing
    // has arrived; each is a whole text of its own.
    if (quiet >= kStalledAfter && received_ > first_->received) {
        const std::string seconds = std::to_string(static_cast<long long>(quiet.count()));
        // TRANSLATORS: a download has received nothing for %1 seconds ("no data for 7 s"); it
        // follows the bytes received: "16.2 of 40.0 MB, no data for 7 s".
        return text + ", " + Fill(Tr("no data for %1 s"), {seconds});
    }
    if (speed_ && *speed_ > 0)
        text += ", " + SpeedText(*speed_);
    if (const auto left = TimeLeft(now))
        text += ", " + TimeLeftText(*left);
    return text;
}
