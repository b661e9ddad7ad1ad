#include "platform/Inflate.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::optional<std::string> Inflate(const Bytes &packed, size_t maxSize) {
    return platform::InflateZlib(packed, maxSize);
}

// Streams made by Python's zlib (compress at levels 9 and 0) and, by hand, the smallest blocks
// of each kind; each decodes to its text.
const std::string kText = "The download utility unpacks its texts in the user's language. "
                          "The download utility unpacks them once.";
const struct Stream {
    const char *name;
    Bytes packed;
    std::string text;
} kStreams[] = {
    {"Python's level 9 (dynamic codes)",
     {0x78, 0xda, 0x7d, 0xcb, 0xc1, 0x0d, 0x80, 0x20, 0x0c, 0x46, 0xe1, 0x55, 0xfe, 0x9b,
      0x37, 0xa6, 0x61, 0x81, 0x06, 0x1a, 0x6c, 0xc4, 0x42, 0x6c, 0x1b, 0x75, 0x7b, 0x99,
      0xc0, 0xcb, 0x3b, 0xbd, 0x2f, 0xef, 0x8c, 0x3a, 0x6e, 0xed, 0x83, 0x2a, 0xc2, 0xa5,
      0x8b, 0xbf, 0x08, 0x9d, 0x54, 0x0e, 0x83, 0xb8, 0xc1, 0xf9, 0x59, 0x15, 0x85, 0xaf,
      0x33, 0x8c, 0xaf, 0xcd, 0xd0, 0x49, 0x5b, 0x50, 0xe3, 0x84, 0xfc, 0xc7, 0x97, 0x38,
      0x31, 0xb4, 0x70, 0xfa, 0x00, 0xa8, 0x28, 0x25, 0xd1},
     kText},
    {"Python's level 0 (a stored block)",
     {0x78, 0x01, 0x01, 0x14, 0x00, 0xeb, 0xff, 0x54, 0x68, 0x65, 0x20,
      0x64, 0x6f, 0x77, 0x6e, 0x6c, 0x6f, 0x61, 0x64, 0x20, 0x75, 0x74,
      0x69, 0x6c, 0x69, 0x74, 0x79, 0x4e, 0xd6, 0x07, 0xce},
     kText.substr(0, 20)},
    // Fixed codes: 'a', then 3 bytes from 1 back (a copy that overlaps what it makes).
    {"fixed codes with a copy",
     {0x78, 0x01, 0x4b, 0x04, 0x02, 0x00, 0x03, 0xce, 0x01, 0x85},
     "aaaa"},
    // Dynamic codes of one bit for 'a' and the end, a distance code of a single symbol.
    {"dynamic codes of one bit",
     {0x78, 0x01, 0x05, 0xe0, 0xb7, 0x6d, 0x00, 0x00, 0x00, 0xc3, 0x30,
      0xdc, 0xca, 0xff, 0x9f, 0x20, 0x09, 0x01, 0x25, 0x00, 0xc3},
     "aa"},
};

TEST(InflateZlib, DecodesEachKindOfBlockExactlyWithinABoundOfItsSize) {
    for (const auto &s : kStreams) {
        EXPECT_EQ(Inflate(s.packed, s.text.size()), s.text) << s.name;
        EXPECT_EQ(Inflate(s.packed, s.text.size() - 1), std::nullopt) << s.name << ": too big";
    }
}

TEST(InflateZlib, RefusesEveryTruncationAndAnythingAfterTheStream) {
    for (const auto &s : kStreams) {
        for (size_t length = 0; length < s.packed.size(); ++length)
            EXPECT_EQ(Inflate(Bytes(s.packed.begin(), s.packed.begin() + length), 1000),
                      std::nullopt)
                << s.name << " cut at " << length;
        Bytes longer = s.packed;
        longer.push_back(0);
        EXPECT_EQ(Inflate(longer, 1000), std::nullopt) << s.name << " and a byte more";
    }
}

// The header's fields set, its check made valid again so that only the field is wrong.
Bytes WithHeader(Bytes packed, uint8_t method, uint8_t flags) {
    packed[0] = method;
    packed[1] = static_cast<uint8_t>(flags & 0xe0);
    packed[1] = static_cast<uint8_t>(packed[1] + (31 - (method * 256 + packed[1]) % 31) % 31);
    return packed;
}

TEST(InflateZlib, RefusesABadHeaderOrChecksum) {
    const Bytes &good = kStreams[0].packed;
    ASSERT_TRUE(Inflate(WithHeader(good, 0x78, 0x80), 1000)) << "the header made again";
    ASSERT_TRUE(Inflate(WithHeader(good, 0x08, 0x00), 1000)) << "the smallest window";
    const struct {
        const char *name;
        std::function<void(Bytes &)> spoil;
    } cases[] = {
        {"method 7", [](Bytes &b) { b = WithHeader(b, 0x77, 0x80); }},
        {"a window of 64 KB", [](Bytes &b) { b = WithHeader(b, 0x88, 0x80); }},
        {"a preset dictionary", [](Bytes &b) { b = WithHeader(b, 0x78, 0xa0); }},
        {"a wrong header check", [](Bytes &b) { ++b[1]; }},
        {"block type 3", [](Bytes &b) { b[2] |= 6; }},
        {"a wrong checksum", [](Bytes &b) { b.back() ^= 1; }},
        {"a wrong checksum's first byte", [](Bytes &b) { b[b.size() - 4] ^= 0x80; }},
    };
    for (const auto &c : cases) {
        Bytes packed = good;
        c.spoil(packed);
        EXPECT_EQ(Inflate(packed, 1000), std::nullopt) << c.name;
    }
    // Changed data in a stored block: only the checksum tells.
    Bytes stored = kStreams[1].packed;
    stored[10] ^= 1;
    EXPECT_EQ(Inflate(stored, 1000), std::nullopt) << "stored data changed";
    stored = kStreams[1].packed;
    stored[5] ^= 1;
    EXPECT_EQ(Inflate(stored, 1000), std::nullopt) << "a stored length without its complement";
}

TEST(InflateZlib, RefusesACopyFromBeforeTheStartAndCodesThatCannotBe) {
    // Each like the valid hand-made streams above, with the one fault named.
    const struct {
        const char *name;
        Bytes packed;
    } cases[] = {
        {"a copy from 2 back after 1 byte",
         {0x78, 0x01, 0x4b, 0x04, 0x42, 0x00, 0x03, 0xce, 0x01, 0x85}},
        {"an over-subscribed code-length code",
         {0x78, 0x01, 0x05, 0xe0, 0xb7, 0x6d, 0x18, 0x00, 0x00, 0xc3, 0x30,
          0xc0, 0x4a, 0xfc, 0x91, 0x20, 0x05, 0x00, 0x62, 0x00, 0x62}},
        {"an incomplete code-length code",
         {0x78, 0x01, 0x05, 0xe0, 0x49, 0x92, 0x00, 0x00, 0x00, 0x04, 0x41,
          0xb8, 0x15, 0xfd, 0xef, 0x09, 0x44, 0x01, 0x00, 0x62, 0x00, 0x62}},
        {"an over-subscribed literal code (three of one bit)",
         {0x78, 0x01, 0x05, 0xe0, 0xb7, 0x6d, 0x00, 0x00, 0x00, 0xc3, 0x30,
          0xdc, 0x4a, 0xfe, 0x7f, 0x04, 0x29, 0x00, 0x62, 0x00, 0x62}},
        {"an incomplete literal code (two of two bits)",
         {0x78, 0x01, 0x05, 0xe0, 0xb7, 0x6d, 0x00, 0x00, 0x00, 0xc3, 0x30,
          0xdc, 0xaa, 0xff, 0x9f, 0x10, 0x11, 0x00, 0x62, 0x00, 0x62}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Inflate(c.packed, 1000), std::nullopt) << c.name;
}

} // namespace
