#pragma once

#include <string>
#include <vector>

namespace engine {

// An HTTP date (RFC 1123 "Sun, 06 Nov 1994 08:49:37 GMT", RFC 850 "Sunday, 06-Nov-94 08:49:37
// GMT" or asctime "Sun Nov  6 08:49:37 1994"), read as UTC, as a date-time value: days since
// 30 December 1899 with the time of day as the fraction. 0 when the text is not such a date.
double ParseHttpDate(const std::string &text);

// The value of the first header line named `name` (any case) in a header block, without the
// leading and trailing blanks; empty when there is none.
std::string HeaderValue(const std::string &headerBlock, const std::string &name);
// The values of every header line named `name`, in their order, each as HeaderValue gives it.
std::vector<std::string> HeaderValues(const std::string &headerBlock, const std::string &name);

} // namespace engine
