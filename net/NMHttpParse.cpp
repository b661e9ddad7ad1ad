#include "net/NMHttpParse.h"

#include "net/NMConst.h"
#include "net/Psock.h"
#include "platform/Catalogue.h"

#include <cctype>
#include <limits>

namespace net {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Accumulates decimal digits; false on overflow of 64 bits.
bool AddDigit(int64_t &value, char c) {
    int d = c - '0';
    if (value > (std::numeric_limits<int64_t>::max() - d) / 10)
        return false;
    value = value * 10 + d;
    return true;
}

} // namespace

std::string WithoutBlanks(const std::string &text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int64_t StrictInteger(const std::string &text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    bool any = false;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]) || !AddDigit(value, text[i])) {
            any = false;
            break;
        }
        any = true;
    }
    if (!any)
        throw ESockError(platform::Fill(platform::Tr(NMConst::sNotAnInteger), {text}));
    return negative ? -value : value;
}

std::string LowerCase(std::string s) {
    for (auto &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace net
