#include "tests/support/RangeServer.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

namespace testsupport {
namespace {

std::string StatusText(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string Head(int status, size_t length, const std::string &extra) {
    return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
           "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
           "Connection: close\r\n\r\n";
}

std::string RangeLineOf(const std::string &request) {
    std::istringstream lines(request);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > 6 && (line.compare(0, 6, "Range:") == 0 || line.compare(0, 6, "range:") == 0))
            return line;
    }
    return {};
}

} // namespace

RangeServer::RangeServer(std::string content, std::string lastModified)
    : content_(std::move(content)), lastModified_(std::move(lastModified)) {
    server_.SetDefault({Action::ReadRequest(),
                        Action::Respond([this](const std::string &r) { return Answer(r); })});
}

void RangeServer::SetFaults(FaultPlan plan) {
    std::lock_guard lock(mutex_);
    plan_ = std::move(plan);
}

std::vector<SeenRequest> RangeServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

Script RangeServer::Answer(const std::string &request) {
    SeenRequest seen;
    seen.method = request.substr(0, request.find(' '));
    seen.rangeLine = RangeLineOf(request);
    seen.request = request;
    RangeFault fault;
    {
        std::lock_guard lock(mutex_);
        size_t index = requests_.size();
        requests_.push_back(seen);
        if (plan_)
            fault = plan_(index, seen);
    }
    if (fault.kind != RangeFault::Kind::None)
        ++faults_;

    const std::string modified =
        lastModified_.empty() ? "" : "Last-Modified: " + lastModified_ + "\r\n";
    const size_t size = content_.size();
    if (fault.kind == RangeFault::Kind::Status) {
        std::string page = "<h1>" + std::to_string(fault.status) + "</h1>";
        return {Action::Send(Head(fault.status, page.size(), "") + page)};
    }
    if (seen.method == "HEAD")
        return {Action::Delay(headDelay_.load()), Action::Send(Head(200, size, modified))};

    // The range asked for; a request without one gets the whole file.
    int64_t first = 0, last = static_cast<int64_t>(size) - 1;
    bool ranged = false;
    if (!seen.rangeLine.empty()) {
        int64_t a = -1, b = -1;
        int n = std::sscanf(seen.rangeLine.c_str(), "Range: bytes=%" SCNd64 "-%" SCNd64, &a, &b);
        if (n >= 1 && a >= 0) {
            ranged = true;
            first = a;
            if (n == 2 && b < last)
                last = b;
        }
    }
    if (ranged && (first >= static_cast<int64_t>(size) || first > last))
        return {Action::Send(Head(416, 0, "Content-Range: bytes */" + std::to_string(size) +
                                              "\r\n"))};
    if (fault.kind == RangeFault::Kind::WholeFile)
        return {Action::Send(Head(200, size, modified) + content_)};
    if (!ranged)
        return {Action::Send(Head(200, size, modified) + content_, paceSlice_, paceDelay_)};

    const size_t length = static_cast<size_t>(last - first + 1);
    int64_t shownFirst = fault.kind == RangeFault::Kind::WrongContentRange ? first + 1 : first;
    std::string head =
        Head(206, length,
             "Content-Range: bytes " + std::to_string(shownFirst) + "-" +
                 std::to_string(shownFirst + static_cast<int64_t>(length) - 1) + "/" +
                 std::to_string(size) + "\r\n" + modified);
    std::string body = content_.substr(static_cast<size_t>(first), length);
    switch (fault.kind) {
    case RangeFault::Kind::ResetAfter:
        return {Action::Send(head + body.substr(0, fault.bytes)), Action::Reset()};
    case RangeFault::Kind::StallAfter:
        // The body bytes come apart from the header, so the client counts them as they arrive.
        return {Action::Send(head), Action::Delay(std::chrono::milliseconds(20)),
                Action::Send(body.substr(0, fault.bytes)), Action::Delay(fault.stall),
                Action::Close()};
    case RangeFault::Kind::ShortBody:
        return {Action::Send(head + body.substr(0, fault.bytes)), Action::Close()};
    default:
        return {Action::Send(head + body, paceSlice_, paceDelay_)};
    }
}

} // namespace testsupport
