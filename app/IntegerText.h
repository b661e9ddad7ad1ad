#pragma once

#include <cstdint>
#include <string_view>

// How a text is read as a signed 32-bit integer. Both accept leading blanks, one sign and
// hexadecimal after "$" or "0x" (x in either case).
enum class IntegerSyntax {
    // Command-line parameters: also a bare "x" prefix for hexadecimal.
    Parameter,
    // The options dialog: exactly the runtime's standard conversion.
    Strict,
};

struct IntegerRead {
    // The value read before the first invalid character (0 when there is none).
    int32_t value = 0;
    // The whole text is one integer within the 32-bit range.
    bool valid = false;
};

// Reads `text`; an empty text, a trailing character that is no digit, or a value outside
// the 32-bit signed range is invalid (the value then holds what was read before it).
IntegerRead ReadInteger(std::string_view text, IntegerSyntax syntax);
