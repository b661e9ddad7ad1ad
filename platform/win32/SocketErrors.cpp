#include "platform/SocketErrors.h"

namespace platform {

namespace {
thread_local int lastError = 0;
}

// Windows Sockets reports the codes of the table itself.
int SocketErrorFromSystem(int systemError) { return systemError; }

int LastSocketError() { return lastError; }
void SetLastSocketError(int code) { lastError = code; }

} // namespace platform
