#include "platform/win32/Text.h"

#include <gtest/gtest.h>

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

// Texts beyond ASCII and beyond the Basic Multilingual Plane come through whole, both ways.
TEST(Text, ValidTextsRoundTrip) {
    const struct {
        std::string utf8;
        std::wstring utf16;
    } cases[] = {
        {"", L""},
        {"C:\\out\\f.bin", L"C:\\out\\f.bin"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         L"Gr\u00FC\u00DFe"},
        {"\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x89",
         L"\u30C0\u30A6\u30F3\u30ED\u30FC\u30C9"},
        {"\xF0\x9F\x98\x80.exe", L"\xD83D\xDE00.exe"}, // a surrogate pair
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Widen(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(Narrow(c.utf16.c_str(), c.utf16.size()), c.utf8);
    }
}

// Bytes that are no UTF-8 (a name from a server may hold any) and unpaired surrogates (a file
// name may) become U+FFFD; what is around them stays.
TEST(Text, InvalidInputBecomesReplacementCharacters) {
    const struct {
        std::string utf8;
        std::wstring utf16;
    } bytes[] = {
        {"a\xFF"
         "b",
         L"a\uFFFDb"},
        {"\x80", L"\uFFFD"},
        {"x\xE3\x83", L"x\uFFFD"}, // a character cut short
        {"\xC3\xA9\xC3", L"\u00E9\uFFFD"},
    };
    for (const auto &c : bytes)
        EXPECT_EQ(Widen(c.utf8), c.utf16) << c.utf8;
    const struct {
        std::wstring utf16;
        std::string utf8;
    } units[] = {
        {L"a\xD800"
         L"b",
         "a\xEF\xBF\xBD"
         "b"},
        {L"\xDC00", "\xEF\xBF\xBD"},
    };
    for (const auto &c : units)
        EXPECT_EQ(Narrow(c.utf16.c_str()), c.utf8);
    EXPECT_EQ(Narrow(nullptr), "");
}

} // namespace
