#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace net {

// A Content-Range value: "bytes FIRST-LAST/COMPLETE", "bytes FIRST-LAST/*" (complete length
// unknown: -1) or "bytes */COMPLETE" (a 416's: first and last -1).
struct ContentRange {
    int64_t first = -1, last = -1, complete = -1;
};
std::optional<ContentRange> ParseContentRange(const std::string &value);

} // namespace net
