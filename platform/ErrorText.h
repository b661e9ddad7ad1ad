#pragma once

#include <string>

namespace platform {

// The text of an errno value, the same on every system: the C runtime of Windows has no text
// for some of the values the platform layer reports (ECANCELED, ELOOP).
std::string ErrorNumberText(int code);

} // namespace platform
