#pragma once

// Windows Sockets start-up, shared by the files that call the socket layer.

#include <winsock2.h>

namespace platform::win32 {

// Starts Windows Sockets (version 1.1) once for the life of the process; every entry point
// that calls the socket layer calls it first, since a lookup may come before any socket.
void StartSockets();
// The start-up's result (0 on success) and what the layer told about itself.
int SocketsStartupResult();
const WSADATA &SocketsStartupData();

} // namespace platform::win32
