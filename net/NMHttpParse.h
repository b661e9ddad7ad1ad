#pragma once

// Readers of the parts of an HTTP response and of a URL's port: bytes in, values out, so
// they can be tested (and fuzzed) without a connection.

#include <cstdint>
#include <string>

namespace net {

// The line without its terminator (a final LF, and a CR before it).
std::string WithoutTerminator(const std::string &line);
// The text without the blanks (spaces, tabs) around it.
std::string WithoutBlanks(const std::string &text);

// The status number of a status line such as "HTTP/1.1 200 OK\r\n": the second field split at
// spaces as a whole number; 0 when it is not one or does not fit 16 bits.
int16_t StatusNumberOf(const std::string &statusLine);

// The value of an upper-cased "CONTENT-LENGTH: n" line: the digits after "ENGTH:" and the one
// character that follows it, non-digits skipped first; 0 when there is none or the number does
// not fit 64 bits.
int64_t ContentLengthOf(const std::string &upperLine);

// A header line's name (lower case) and value (without the blanks around it); an empty name
// for a line that has no ":" (the status line, the empty line).
struct HeaderField {
    std::string name, value;
};
HeaderField HeaderFieldOf(const std::string &line);

// A Content-Length value as a body length: digits only; -1 for anything else (or too long).
int64_t BodyLengthOf(const std::string &value);

// A whole decimal number with an optional sign; throws ESockError "'text' is not a valid
// integer value" for anything else (an empty text included).
int64_t StrictInteger(const std::string &text);

// Upper-case form of ASCII text.
std::string UpperCase(std::string s);
std::string LowerCase(std::string s);

} // namespace net
