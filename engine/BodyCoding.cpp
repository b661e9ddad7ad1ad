#include "engine/BodyCoding.h"

#include "engine/HttpDate.h"
#include "net/NMHttpParse.h"

namespace engine {
namespace {

std::string Joined(const std::string &headerBlock, const std::string &name) {
    std::string joined;
    for (const std::string &value : HeaderValues(headerBlock, name))
        if (!value.empty())
            joined += (joined.empty() ? "" : ", ") + value;
    return joined;
}

} // namespace

std::string ContentCodings(const std::string &headerBlock) {
    const std::string list = Joined(headerBlock, "Content-Encoding");
    std::string codings;
    for (size_t start = 0; start <= list.size();) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        const std::string element = net::WithoutBlanks(list.substr(start, comma - start));
        start = comma + 1;
        if (!element.empty() && net::LowerCase(element) != "identity")
            codings += (codings.empty() ? "" : ", ") + element;
    }
    return codings;
}

std::string BodyCoding(const std::string &headerBlock) {
    const std::string content = ContentCodings(headerBlock);
    if (!content.empty())
        return "Content-Encoding: " + content;
    if (HeaderValues(headerBlock, "Transfer-Encoding").empty())
        return {};
    const std::string transfer = Joined(headerBlock, "Transfer-Encoding");
    return transfer.empty() ? "Transfer-Encoding" : "Transfer-Encoding: " + transfer;
}

} // namespace engine
