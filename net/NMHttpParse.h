#pragma once

// Readers of the parts of an HTTP response and of a URL's port: bytes in, values out, so
// they can be tested (and fuzzed) without a connection.

#include <cstdint>
#include <string>

namespace net {

// The line without its terminator (a final LF, and a CR before it).
std::string WithoutTerminator(const std::string &line);

// The status number of a status line such as "HTTP/1.1 200 OK\r\n": the second field split at
// spaces as a whole number; 0 when it is not one or does not fit 16 bits.
int16_t StatusNumberOf(const std::string &statusLine);

// The value of an upper-cased "CONTENT-LENGTH: n" line: the digits after "ENGTH:" and the one
// character that follows it, non-digits skipped first; 0 when there is none or the number does
// not fit 64 bits.
int64_t ContentLengthOf(const std::string &upperLine);

// A whole decimal number with an optional sign; throws ESockError "'text' is not a valid
// integer value" for anything else (an empty text included).
int64_t StrictInteger(const std::string &text);

// Upper-case form of ASCII text.
std::string UpperCase(std::string s);
std::string LowerCase(std::string s);

} // namespace net
