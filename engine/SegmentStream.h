#pragma once

#include "engine/FileSink.h"
#include "engine/TransferPlan.h"
#include "net/Streams.h"

namespace engine {

// Where one attempt's body goes: the worker's segment of the file being written, from the
// offset the attempt asked for. Bytes past the segment's end (a takeover may have moved it
// closer) are dropped, and the stream is then full: the attempt has nothing more to fetch.
// Written on the worker's thread only.
class SegmentStream final : public net::TStream {
  public:
    SegmentStream(TransferPlan &plan, int worker, FileSink &sink, int64_t offset)
        : plan_(plan), worker_(worker), sink_(sink), offset_(offset) {}

    // Writes what the segment takes at the file offset the body has reached. Throws
    // net::EFileStreamError when the file cannot be written.
    void Write(const char *data, size_t n) override;
    size_t Read(char *, size_t) override { return 0; }
    int64_t Size() const override { return written_; }
    int64_t Position() const override { return written_; }
    void Seek(int64_t) override {}

    // The segment takes nothing more of this body.
    bool Full() const { return full_; }
    // The body begins at another offset (a whole file sent for a range starts at 0).
    void Restart(int64_t offset) {
        offset_ = offset;
        full_ = false;
    }
    // Bytes of this body that were written.
    int64_t Written() const { return written_; }

  private:
    TransferPlan &plan_;
    const int worker_;
    FileSink &sink_;
    int64_t offset_;
    int64_t written_ = 0;
    bool full_ = false;
};

} // namespace engine
