#include "platform/SocketErrors.h"

#include <gtest/gtest.h>

#include <winsock2.h>

namespace {

// Windows Sockets already reports the table's codes: they pass unchanged, so the texts the
// user sees are the ones the table has for them.
TEST(SocketErrors, WinsockCodesAreTheTableCodes) {
    using namespace platform;
    EXPECT_EQ(SocketErrorFromSystem(WSAECONNREFUSED), kErrConnRefused);
    EXPECT_EQ(SocketErrorFromSystem(WSAETIMEDOUT), kErrTimedOut);
    EXPECT_EQ(SocketErrorFromSystem(WSAEWOULDBLOCK), kErrWouldBlock);
    EXPECT_EQ(SocketErrorFromSystem(WSAEINPROGRESS), kErrInProgress);
    EXPECT_EQ(SocketErrorFromSystem(WSAECONNRESET), kErrConnReset);
    EXPECT_EQ(SocketErrorFromSystem(WSAENETUNREACH), kErrNetUnreach);
    EXPECT_EQ(SocketErrorFromSystem(WSAEHOSTUNREACH), kErrHostUnreach);
    EXPECT_EQ(SocketErrorFromSystem(WSAEADDRINUSE), kErrAddrInUse);
    EXPECT_EQ(SocketErrorFromSystem(WSAHOST_NOT_FOUND), kErrHostNotFound);
}

} // namespace
