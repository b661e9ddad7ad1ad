#include "net/ContentRange.h"

namespace net {
namespace {

// A whole number of decimal digits; -1 for anything else (or too long).
int64_t Digits(const std::string &text) {
    if (text.empty() || text.size() > 18)
        return -1;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<ContentRange> ParseContentRange(const std::string &value) {
    if (value.compare(0, 6, "bytes ") != 0)
        return std::nullopt;
    const std::string rest = value.substr(6);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string range = rest.substr(0, slash), total = rest.substr(slash + 1);
    ContentRange r;
    if (total != "*" && (r.complete = Digits(total)) < 0)
        return std::nullopt;
    if (range == "*")
        return r.complete >= 0 ? std::optional(r) : std::nullopt;
    const size_t dash = range.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    r.first = Digits(range.substr(0, dash));
    r.last = Digits(range.substr(dash + 1));
    if (r.first < 0 || r.last < r.first || (r.complete >= 0 && r.last >= r.complete))
        return std::nullopt;
    return r;
}

} // namespace net
