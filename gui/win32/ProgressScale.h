#pragma once

#include <cstdint>

namespace gui::win32 {

// The common progress bar counts in 32-bit integers; a download's range is the file size,
// which may exceed 2 GiB. The range min..max becomes 0..maximum in steps of a power of two
// bytes, the smallest that fits, and the position is counted in the same steps.
struct ProgressSteps {
    int32_t maximum;
    int32_t position;
};

inline ProgressSteps ScaleProgress(int64_t min, int64_t max, int64_t position) {
    if (max <= min) // an empty range (an empty file) shows a full bar
        return {1, 1};
    const uint64_t span = static_cast<uint64_t>(max) - static_cast<uint64_t>(min);
    const uint64_t done =
        position <= min ? 0 : static_cast<uint64_t>(position) - static_cast<uint64_t>(min);
    int shift = 0;
    while ((span >> shift) > static_cast<uint64_t>(INT32_MAX))
        ++shift;
    const uint64_t steps = span >> shift;
    const uint64_t at = done >= span ? steps : done >> shift;
    return {static_cast<int32_t>(steps), static_cast<int32_t>(at)};
}

} // namespace gui::win32
