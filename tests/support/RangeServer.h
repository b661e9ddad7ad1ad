#pragma once

// An HTTP file server for tests that answers HEAD and "Range: bytes=" requests from a string
// and injects faults on chosen connections: resets, stalls, trickles, short and long bodies,
// the whole file instead of the range, wrong ranges, coded bodies, error statuses, redirects
// and refused connections.

#include "tests/support/ScriptedServer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct RangeFault {
    enum class Kind {
        None,
        ResetAfter,        // send `bytes` body bytes, then reset (HEAD: reset at once)
        StallAfter,        // header, a moment later `bytes` body bytes, then nothing for
                           // `stall`, then close
        ShortBody,         // send `bytes` body bytes, then close normally
        WholeFile,         // ignore the range: 200 with the whole file
        WrongContentRange, // 206 with the right bytes but a Content-Range one byte off
        Status,            // answer `status` with a small error page (`bytes` long when > 0)
                           // and `location`, when given, as its reason phrase
        PauseAfter,        // `bytes` body bytes, nothing for `stall`, then the rest (HEAD:
                           // the answer comes `stall` late)
        StallForever,      // `bytes` body bytes, then nothing until the peer gives up (HEAD:
                           // no answer at all)
        Trickle,           // the answer in slices of `bytes` bytes, `stall` before each
                           // (HEAD: the answer's header so)
        LongBody,          // the range's answer followed by `bytes` bytes more
        WrongRangeBytes,   // 206 with the bytes of a range `bytes` further on, and the
                           // Content-Range that belongs to them
        OtherVersion,      // 206 for the range asked for, but of another version of the
                           // file: other bytes, and a complete length `bytes` + 1 longer
        Redirect,          // answer `status` (a 3xx) with "Location: `location`"
        Refuse,            // refuse every connection for `stall`, and reset this one
        Coded,             // 206 with the right Content-Range and "Content-Encoding: gzip":
                           // other bytes of the range's length (a coding of the range)
        NoContentRange,    // 206 without a Content-Range, as long as the range asked, with
                           // the file's bytes from its first one
    };
    RangeFault() = default;
    RangeFault(Kind k, size_t n, int code, std::chrono::milliseconds d, std::string where = {})
        : kind(k), bytes(n), status(code), stall(d), location(std::move(where)) {}

    Kind kind = Kind::None;
    size_t bytes = 0;
    int status = 0;
    std::chrono::milliseconds stall{0};
    std::string location;
};

// What a connection asked for.
struct SeenRequest {
    std::string method;    // "GET", "HEAD"
    std::string rangeLine; // the "Range: ..." line without its line end, empty when absent
    std::string request;   // the whole header block
};

class RangeServer {
  public:
    using FaultPlan = std::function<RangeFault(size_t connection, const SeenRequest &)>;

    // Serves `content` under every path on 127.0.0.1, port 0.
    explicit RangeServer(std::string content, std::string lastModified = "");
    // The same on a given IPv4 address and port (0: ephemeral).
    RangeServer(std::string content, const std::string &address, uint16_t port,
                std::string lastModified = "");
    uint16_t Port() const { return server_.Port(); }
    // Chooses the fault of each connection (by its 0-based number); none by default.
    void SetFaults(FaultPlan plan);
    // HEAD answers come this much later (a slower location).
    void SetHeadDelay(std::chrono::milliseconds delay) { headDelay_ = delay; }
    // Answers without a fault go out in slices of `sliceBytes` with `delay` before each slice
    // after the first (a slower line); 0 bytes (the default) sends them at once.
    void SetBodyPace(size_t sliceBytes, std::chrono::milliseconds delay) {
        paceSlice_ = sliceBytes;
        paceDelay_ = delay;
    }
    std::vector<SeenRequest> Requests() const;
    size_t FaultsInjected() const { return faults_; }
    void Stop() { server_.Stop(); }

  private:
    Script Answer(const std::string &request);
    Script HeadAnswer(const RangeFault &fault, const std::string &head);

    const std::string content_;
    const std::string lastModified_;
    mutable std::mutex mutex_;
    FaultPlan plan_;
    std::vector<SeenRequest> requests_;
    std::atomic<size_t> faults_{0};
    std::atomic<std::chrono::milliseconds> headDelay_{std::chrono::milliseconds(0)};
    std::atomic<size_t> paceSlice_{0};
    std::atomic<std::chrono::milliseconds> paceDelay_{std::chrono::milliseconds(0)};
    ScriptedServer server_; // last: its threads stop before the members above go
};

} // namespace testsupport
