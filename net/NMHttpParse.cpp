#include "net/NMHttpParse.h"

#include "net/NMConst.h"
#include "net/Psock.h"

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

std::string WithoutTerminator(const std::string &line) {
    size_t n = line.size();
    if (n > 0 && line[n - 1] == '\n')
        --n;
    if (n > 0 && line[n - 1] == '\r')
        --n;
    return line.substr(0, n);
}

std::string WithoutBlanks(const std::string &text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int16_t StatusNumberOf(const std::string &statusLine) {
    std::string field = NthField(WithoutTerminator(statusLine), ' ', 2);
    if (field.empty() || field.size() > 6)
        return 0;
    int64_t value = 0;
    for (char c : field)
        if (!IsDigit(c) || !AddDigit(value, c))
            return 0;
    return value <= std::numeric_limits<int16_t>::max() ? static_cast<int16_t>(value) : 0;
}

int64_t ContentLengthOf(const std::string &upperLine) {
    size_t at = upperLine.find("ENGTH:");
    if (at == std::string::npos)
        return 0;
    size_t i = at + 6 + 1; // the marker and the one character after it
    while (i < upperLine.size() && !IsDigit(upperLine[i]))
        ++i;
    int64_t value = 0;
    for (; i < upperLine.size() && IsDigit(upperLine[i]); ++i)
        if (!AddDigit(value, upperLine[i]))
            return 0;
    return value;
}

HeaderField HeaderFieldOf(const std::string &line) {
    const std::string text = WithoutTerminator(line);
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return {};
    HeaderField field;
    field.name = LowerCase(text.substr(0, colon));
    field.value = WithoutBlanks(text.substr(colon + 1));
    return field;
}

int64_t BodyLengthOf(const std::string &value) {
    if (value.empty())
        return -1;
    int64_t length = 0;
    for (char c : value)
        if (!IsDigit(c) || !AddDigit(length, c))
            return -1;
    return length;
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
        throw ESockError("'" + text + "'" + NMConst::sNotAnInteger);
    return negative ? -value : value;
}

std::string UpperCase(std::string s) {
    for (auto &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string LowerCase(std::string s) {
    for (auto &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace net
