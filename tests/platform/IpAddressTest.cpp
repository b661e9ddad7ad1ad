#include "platform/IpAddress.h"

#include <gtest/gtest.h>

#include <string>

using platform::IpAddress;
using platform::IpAddressText;
using platform::ParseIpAddress;

TEST(IpAddress, LiteralsReadAndPrintInTheirCanonicalForm) {
    struct Case {
        const char *text;
        IpAddress::Family family;
        const char *canonical;
    };
    const Case cases[] = {
        {"127.0.0.1", IpAddress::Family::V4, "127.0.0.1"},
        {"0.0.0.0", IpAddress::Family::V4, "0.0.0.0"},
        {"255.255.255.255", IpAddress::Family::V4, "255.255.255.255"},
        {"::1", IpAddress::Family::V6, "::1"},
        {"::", IpAddress::Family::V6, "::"},
        {"0:0:0:0:0:0:0:1", IpAddress::Family::V6, "::1"},
        {"2001:DB8:0:0:0:0:0:1", IpAddress::Family::V6, "2001:db8::1"},
        {"2001:0db8:0000:0000:0001:0000:0000:0001", IpAddress::Family::V6, "2001:db8::1:0:0:1"},
        {"2001:db8:0:0:1:0:0:0", IpAddress::Family::V6, "2001:db8:0:0:1::"},
        {"2001:db8:0:1:1:1:1:1", IpAddress::Family::V6, "2001:db8:0:1:1:1:1:1"},
        {"fe80::", IpAddress::Family::V6, "fe80::"},
        {"1:2:3:4:5:6:7::", IpAddress::Family::V6, "1:2:3:4:5:6:7:0"},
        {"::ffff:1.2.3.4", IpAddress::Family::V6, "::ffff:1.2.3.4"},
        {"::FFFF:0102:0304", IpAddress::Family::V6, "::ffff:1.2.3.4"},
        {"64:ff9b::192.0.2.33", IpAddress::Family::V6, "64:ff9b::c000:221"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        IpAddress a;
        ASSERT_TRUE(ParseIpAddress(c.text, a));
        EXPECT_EQ(a.family, c.family);
        EXPECT_EQ(IpAddressText(a), c.canonical);
        IpAddress again;
        ASSERT_TRUE(ParseIpAddress(IpAddressText(a), again));
        EXPECT_EQ(again, a);
    }
    IpAddress a;
    ASSERT_TRUE(ParseIpAddress("192.0.2.1", a));
    EXPECT_EQ(a.bytes[0], 192);
    EXPECT_EQ(a.bytes[3], 1);
    EXPECT_EQ(platform::Ipv4Address(platform::Ipv4NetworkOrder(a)), a);
    ASSERT_TRUE(ParseIpAddress("2001:db8::ff00:1", a));
    EXPECT_EQ(a.bytes[0], 0x20);
    EXPECT_EQ(a.bytes[13], 0x00);
    EXPECT_EQ(a.bytes[12], 0xff);
    EXPECT_EQ(a.bytes[15], 0x01);
    EXPECT_EQ(platform::Ipv4NetworkOrder(a), 0u) << "an IPv6 address has no IPv4 bits";
}

TEST(IpAddress, RefusesNamesBracketsZonesAndMalformedLiterals) {
    const char *refused[] = {
        "",
        "localhost",
        "[::1]",
        "fe80::1%eth0",
        "::1%1",
        "1.2.3",
        "1.2.3.4.5",
        "256.1.1.1",
        "01.2.3.4",
        "1.2.3.4 ",
        " ::1",
        "1..2.3",
        "127.1",
        "0x7f.0.0.1",
        ":::",
        "1::2::3",
        ":1::2",
        "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7",
        "1:2:3:4:5:6:7:8::",
        "12345::",
        "g::1",
        "::1:",
        "::ffff:1.2.3",
        "1:2:3:4:5:6:7:1.2.3.4",
        "::1.2.3.4:5",
    };
    for (const char *text : refused) {
        SCOPED_TRACE(text);
        IpAddress a;
        a.family = IpAddress::Family::V4;
        a.bytes[0] = 9;
        EXPECT_FALSE(ParseIpAddress(text, a));
        EXPECT_EQ(a.family, IpAddress::Family::V4) << "a refused text leaves the address alone";
        EXPECT_EQ(a.bytes[0], 9);
    }
    EXPECT_EQ(IpAddressText(IpAddress{}), "");
}
