#include "app/IntegerText.h"

#include <limits>

namespace {

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

IntegerRead ReadInteger(std::string_view text, IntegerSyntax syntax) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    } else if (syntax == IntegerSyntax::Parameter && i < text.size() &&
               (text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    }

    // The magnitude may reach 2^31 only for a negative number.
    const int64_t limit = negative ? int64_t{1} << 31 : std::numeric_limits<int32_t>::max();
    const int base = hex ? 16 : 10;
    int64_t magnitude = 0;
    bool anyDigit = false;
    IntegerRead result;
    for (; i < text.size(); ++i) {
        int digit = DigitValue(text[i], hex);
        if (digit < 0)
            break;
        int64_t next = magnitude * base + digit;
        if (next > limit)
            break; // out of range: keep what fitted
        magnitude = next;
        anyDigit = true;
    }
    result.value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    result.valid = anyDigit && i == text.size();
    return result;
}
