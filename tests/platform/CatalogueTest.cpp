#include "platform/Catalogue.h"

#include <gtest/gtest.h>

namespace {

using platform::ChooseTextLanguage;
using platform::Fill;
using platform::Tr;

// Leaves the program's texts in English for the tests that follow.
struct CatalogueTest : ::testing::Test {
    ~CatalogueTest() override { ChooseTextLanguage("en"); }
};

TEST(Fill, PutsEachValueInItsPlaceInTheTranslationsOrder) {
    EXPECT_EQ(Fill("Downloading %1 from %2.", {"f.exe", "host"}), "Downloading f.exe from host.");
    EXPECT_EQ(Fill("%2 からの %1", {"f.exe", "host"}), "host からの f.exe");
    // A value is never read as a place itself, and a place without a value stays.
    EXPECT_EQ(Fill("%1 and %3", {"%2", "x"}), "%2 and %3");
    EXPECT_EQ(Fill("100% of %1", {"40 MB"}), "100% of 40 MB");
}

TEST_F(CatalogueTest, TheSystemsLocaleChoosesTheCatalogueOfItsLanguage) {
    const struct {
        const char *name, *code;
    } cases[] = {
        {"de_DE.UTF-8", "de"},  {"de_AT@euro", "de"}, {"fr-CA", "fr"},     {"pt_PT.UTF-8", "pt_BR"},
        {"pt-BR", "pt_BR"},     {"zh_CN.GB18030", "zh_CN"}, {"zh-Hans-SG", "zh_CN"},
        {"zh_TW.UTF-8", "en"},  {"zh-Hant", "en"},   {"ja_JP.eucJP", "ja"}, {"ko-KR", "ko"},
        {"C", "en"},            {"POSIX", "en"},     {"", "en"},          {"tlh_QO", "en"},
        {"en_GB.UTF-8", "en"},  {"DE", "de"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ChooseTextLanguage(c.name), c.code) << c.name;
}

TEST_F(CatalogueTest, TextsComeInTheChosenLanguageAndUnknownOnesStayEnglish) {
    ASSERT_EQ(ChooseTextLanguage("de"), "de");
    EXPECT_STRNE(Tr("Host is missing"), "Host is missing");
    EXPECT_STREQ(Tr("not a text of the program"), "not a text of the program");
    ChooseTextLanguage("en");
    EXPECT_STREQ(Tr("Host is missing"), "Host is missing");
}

} // namespace
