#include "engine/BodyCoding.h"

namespace engine {
namespace {

std::string Joined(const std::vector<std::string> &elements) {
    std::string joined;
    for (const std::string &element : elements)
        joined += (joined.empty() ? "" : ", ") + element;
    return joined;
}

} // namespace

std::string ContentCodings(const net::ResponseHead &head) {
    return Joined(head.contentCodings);
}

std::string BodyCoding(const net::ResponseHead &head) {
    if (!head.contentCodings.empty())
        return "Content-Encoding: " + ContentCodings(head);
    if (!head.transferEncoded)
        return {};
    return head.transferCodings.empty() ? "Transfer-Encoding"
                                        : "Transfer-Encoding: " + Joined(head.transferCodings);
}

} // namespace engine
