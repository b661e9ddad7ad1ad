#include "tests/support/RangeServer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>

namespace testsupport {
namespace {

std::string StatusText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 404:
        return "Not Found";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
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
        if (line.size() > 6 &&
            (line.compare(0, 6, "Range:") == 0 || line.compare(0, 6, "range:") == 0))
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

RangeServer::RangeServer(std::string content, const std::string &address, uint16_t port,
                         std::string lastModified)
    : content_(std::move(content)), lastModified_(std::move(lastModified)), server_(address, port) {
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
    switch (fault.kind) {
    case RangeFault::Kind::Status: {
        std::string page = "<h1>" + std::to_string(fault.status) + "</h1>";
        if (fault.bytes > 0)
            page.resize(fault.bytes, '.');
        std::string head = Head(fault.status, page.size(), "");
        if (!fault.location.empty()) // another reason phrase: the status line's rest
            head = "HTTP/1.1 " + std::to_string(fault.status) + " " + fault.location +
                   head.substr(head.find("\r\n"));
        return {Action::Send(head + page)};
    }
    case RangeFault::Kind::Redirect:
        return {Action::Send(Head(fault.status, 0, "Location: " + fault.location + "\r\n"))};
    case RangeFault::Kind::Refuse:
        server_.RefuseConnections(fault.stall);
        return {Action::Reset()};
    default:
        break;
    }
    if (seen.method == "HEAD")
        return HeadAnswer(fault, Head(200, size, modified));

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
        return {
            Action::Send(Head(416, 0, "Content-Range: bytes */" + std::to_string(size) + "\r\n"))};
    if (fault.kind == RangeFault::Kind::WholeFile)
        return {Action::Send(Head(200, size, modified) + content_)};
    if (!ranged && fault.kind == RangeFault::Kind::None)
        return {Action::Send(Head(200, size, modified) + content_, paceSlice_, paceDelay_)};

    const size_t length = static_cast<size_t>(last - first + 1);
    int64_t shownFirst = fault.kind == RangeFault::Kind::WrongContentRange ? first + 1 : first;
    if (fault.kind == RangeFault::Kind::WrongRangeBytes) {
        // Another range of the same length, wrapped round within the file; for a range
        // that is the whole file there is no other.
        const size_t room = size - length + 1;
        shownFirst = room > 1
                         ? static_cast<int64_t>(
                               (static_cast<size_t>(first) + 1 + fault.bytes % (room - 1)) % room)
                         : first;
    }
    const int status = ranged ? 206 : 200;
    const bool otherVersion = fault.kind == RangeFault::Kind::OtherVersion;
    const bool coded = fault.kind == RangeFault::Kind::Coded;
    // Another version of the file is `bytes` + 1 bytes longer and differs in every byte.
    const size_t shownSize = otherVersion ? size + fault.bytes + 1 : size;
    std::string head =
        Head(status, length,
             (ranged && fault.kind != RangeFault::Kind::NoContentRange
                  ? "Content-Range: bytes " + std::to_string(shownFirst) + "-" +
                        std::to_string(shownFirst + static_cast<int64_t>(length) - 1) + "/" +
                        std::to_string(shownSize) + "\r\n"
                  : std::string()) +
                 (coded ? "Content-Encoding: gzip\r\n" : "") + modified);
    size_t from = static_cast<size_t>(first);
    if (fault.kind == RangeFault::Kind::WrongRangeBytes)
        from = static_cast<size_t>(shownFirst);
    else if (fault.kind == RangeFault::Kind::NoContentRange)
        from = 0;
    std::string body = content_.substr(from, length);
    if (otherVersion || coded)
        for (char &c : body)
            c = static_cast<char>(c ^ 0x5A);
    const size_t cut = std::min(fault.bytes, body.size());
    switch (fault.kind) {
    case RangeFault::Kind::ResetAfter:
        return {Action::Send(head + body.substr(0, cut)), Action::Reset()};
    case RangeFault::Kind::StallAfter:
        // The body bytes come apart from the header, so the client counts them as they arrive.
        return {Action::Send(head), Action::Delay(std::chrono::milliseconds(20)),
                Action::Send(body.substr(0, cut)), Action::Delay(fault.stall), Action::Close()};
    case RangeFault::Kind::ShortBody:
        return {Action::Send(head + body.substr(0, cut)), Action::Close()};
    case RangeFault::Kind::PauseAfter:
        return {Action::Send(head + body.substr(0, cut)), Action::Delay(fault.stall),
                Action::Send(body.substr(cut))};
    case RangeFault::Kind::StallForever:
        return {Action::Send(head + body.substr(0, cut)), Action::Stall()};
    case RangeFault::Kind::Trickle:
        return {Action::Send(head + body, std::max<size_t>(fault.bytes, 1), fault.stall)};
    case RangeFault::Kind::LongBody:
        return {Action::Send(head + body + std::string(fault.bytes, 'X'))};
    default:
        return {Action::Send(head + body, paceSlice_, paceDelay_)};
    }
}

Script RangeServer::HeadAnswer(const RangeFault &fault, const std::string &head) {
    switch (fault.kind) {
    case RangeFault::Kind::ResetAfter:
        return {Action::Reset()};
    case RangeFault::Kind::PauseAfter:
        return {Action::Delay(fault.stall), Action::Send(head)};
    case RangeFault::Kind::StallForever:
        return {Action::Stall()};
    case RangeFault::Kind::Trickle:
        return {Action::Send(head, std::max<size_t>(fault.bytes, 1), fault.stall)};
    default:
        return {Action::Delay(headDelay_.load()), Action::Send(head)};
    }
}

} // namespace testsupport
