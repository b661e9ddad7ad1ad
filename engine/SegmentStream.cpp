#include "engine/SegmentStream.h"

namespace engine {

void SegmentStream::Write(const char *data, size_t n) {
    const size_t take = full_ ? 0 : plan_.Claim(worker_, offset_, n);
    if (take > 0) {
        sink_.WriteAt(data, take, offset_);
        plan_.Committed(worker_, take);
        written_ += static_cast<int64_t>(take);
    }
    offset_ += static_cast<int64_t>(n);
    if (take < n)
        full_ = true;
}

} // namespace engine
