#pragma once

#include <cstdint>

namespace net {

// The text of a socket error code in the user's language, or nullptr for a code outside the table.
const char *SocketErrorText(int32_t code);

} // namespace net
