#pragma once

#include <string>

namespace engine {

// An HTTP date (RFC 1123 "Sun, 06 Nov 1994 08:49:37 GMT", RFC 850 "Sunday, 06-Nov-94 08:49:37
// GMT" or asctime "Sun Nov  6 08:49:37 1994"), read as UTC, as a date-time value: days since
// 30 December 1899 with the time of day as the fraction. 0 when the text is not such a date.
double ParseHttpDate(const std::string &text);

} // namespace engine
