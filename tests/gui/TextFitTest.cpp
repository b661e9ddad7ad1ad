#include "gui/TextFit.h"

#include <gtest/gtest.h>

namespace {

using gui::ShortenInMiddle;

auto AtMost(std::size_t characters) {
    return
        [characters](const std::string &text) { return gui::CharacterCount(text) <= characters; };
}

TEST(TextFit, ALongNameKeepsItsStartAndItsEndAroundAnEllipsis) {
    EXPECT_EQ(ShortenInMiddle("setup.exe", AtMost(9)), "setup.exe");
    const std::string name = "Downloading Talvex_Studio_2027_full_setup_x64.exe from 127.0.0.1.";
    const std::string shown = ShortenInMiddle(name, AtMost(40));
    EXPECT_EQ(gui::CharacterCount(shown), 40u);
    EXPECT_EQ(shown, "Downloading Talvex_...xe from 127.0.0.1.");
    EXPECT_EQ(ShortenInMiddle(name, AtMost(2)), "...") << "at least the ellipsis";
}

TEST(TextFit, TheCutNeverSplitsACharacter) {
    // "Über_größe_Ü.exe": a width in characters, and every cut on a character's start.
    const std::string name = "\xC3\x9C"
                             "ber_gr\xC3\xB6\xC3\x9F"
                             "e_\xC3\x9C.exe";
    for (std::size_t width = 3; width < 16; ++width) {
        const std::string shown = ShortenInMiddle(name, AtMost(width));
        EXPECT_EQ(gui::CharacterCount(shown), width) << shown;
        EXPECT_NE(shown.find("..."), std::string::npos);
        for (std::size_t i = 0; i + 1 < shown.size(); ++i)
            EXPECT_FALSE(shown[i] == '.' &&
                         (static_cast<unsigned char>(shown[i + 1]) & 0xC0) == 0x80)
                << "a continuation byte after the ellipsis: " << shown;
    }
}

} // namespace
