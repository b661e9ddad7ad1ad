#include "platform/SocketErrors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(SocketErrors, SystemErrorsMapOntoTheSocketCodes) {
    using platform::SocketErrorFromSystem;
    EXPECT_EQ(SocketErrorFromSystem(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromSystem(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromSystem(EWOULDBLOCK), 10035);
    EXPECT_EQ(SocketErrorFromSystem(EINPROGRESS), 10036);
    EXPECT_EQ(SocketErrorFromSystem(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromSystem(ENETUNREACH), 10051);
    EXPECT_EQ(SocketErrorFromSystem(EHOSTUNREACH), 10065);
    EXPECT_EQ(SocketErrorFromSystem(EADDRINUSE), 10048);
}

} // namespace
