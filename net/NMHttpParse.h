#pragma once

// Readers of small texts (a URL's port, a value's blanks): bytes in, values out, so they can
// be tested (and fuzzed) without a connection. A response head has its own reader
// (ResponseHead.h).

#include <cstdint>
#include <string>

namespace net {

// The text without the blanks (spaces, tabs) around it.
std::string WithoutBlanks(const std::string &text);

// A whole decimal number with an optional sign; throws ESockError "'text' is not a valid
// integer value" for anything else (an empty text included).
int64_t StrictInteger(const std::string &text);

// Lower-case form of ASCII text.
std::string LowerCase(std::string s);

} // namespace net
