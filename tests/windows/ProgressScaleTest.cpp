#include "gui/win32/ProgressScale.h"

#include <gtest/gtest.h>

#include <cstdint>

using gui::win32::ScaleProgress;

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

// The filled part of the bar as the common control draws it.
double Filled(int64_t min, int64_t max, int64_t position) {
    const auto steps = ScaleProgress(min, max, position);
    return static_cast<double>(steps.position) / steps.maximum;
}

} // namespace

// A file's size is the bar's range: sizes beyond 2 GiB neither wrap to a negative range nor
// lose the position, and the bar is full exactly at the end.
TEST(ProgressScaleTest, FileSizesBeyondTwoGibibytesKeepTheirProportions) {
    for (int64_t size : {int64_t{5}, int64_t{INT32_MAX}, int64_t{INT32_MAX} + 1, 3 * kGiB,
                         int64_t{INT32_MAX} * 4 + 3, 1000 * kGiB}) {
        const auto empty = ScaleProgress(0, size, 0);
        EXPECT_GT(empty.maximum, 0) << size;
        EXPECT_EQ(empty.position, 0) << size;
        const auto full = ScaleProgress(0, size, size);
        EXPECT_EQ(full.position, full.maximum) << size;
        const double quarter = static_cast<double>(size / 4) / static_cast<double>(size);
        EXPECT_NEAR(Filled(0, size, size / 4), quarter, 1e-6) << size;
        EXPECT_LT(Filled(0, size, size - 1), 1.0 + 1e-12) << size;
    }
    // One byte short of a large file is not yet shown as complete.
    EXPECT_LT(ScaleProgress(0, 3 * kGiB, 3 * kGiB - 2).position,
              ScaleProgress(0, 3 * kGiB, 3 * kGiB).position);
}

// The window's starting range -100 .. 100 at -100 draws an empty bar; an empty file (range
// 0 .. 0) a full one; positions outside the range are held at its ends.
TEST(ProgressScaleTest, RangesAroundZeroAndEmptyRanges) {
    EXPECT_EQ(ScaleProgress(-100, 100, -100).position, 0);
    EXPECT_EQ(ScaleProgress(-100, 100, -100).maximum, 200);
    EXPECT_EQ(ScaleProgress(-100, 100, 0).position, 100);
    const auto none = ScaleProgress(0, 0, 0);
    EXPECT_EQ(none.position, none.maximum);
    EXPECT_EQ(ScaleProgress(0, 10, -5).position, 0);
    EXPECT_EQ(ScaleProgress(0, 10, 15).position, 10);
}
