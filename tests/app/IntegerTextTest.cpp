#include "app/IntegerText.h"

#include <gtest/gtest.h>

namespace {

void ExpectRead(std::string_view text, IntegerSyntax syntax, int32_t value, bool valid) {
    IntegerRead read = ReadInteger(text, syntax);
    EXPECT_EQ(read.value, value) << '"' << text << '"';
    EXPECT_EQ(read.valid, valid) << '"' << text << '"';
}

TEST(ReadInteger, AcceptsBlanksSignsAndHexadecimalPrefixes) {
    for (IntegerSyntax s : {IntegerSyntax::Parameter, IntegerSyntax::Strict}) {
        ExpectRead("42", s, 42, true);
        ExpectRead("  -42", s, -42, true);
        ExpectRead("+7", s, 7, true);
        ExpectRead("$ff", s, 255, true);
        ExpectRead("0x1F", s, 31, true);
        ExpectRead("-$10", s, -16, true);
        ExpectRead("2147483647", s, 2147483647, true);
        ExpectRead("-2147483648", s, -2147483647 - 1, true);
    }
}

TEST(ReadInteger, InvalidTextKeepsTheValueReadBeforeTheFirstBadCharacter) {
    for (IntegerSyntax s : {IntegerSyntax::Parameter, IntegerSyntax::Strict}) {
        ExpectRead("", s, 0, false);
        ExpectRead("   ", s, 0, false);
        ExpectRead("-", s, 0, false);
        ExpectRead("$", s, 0, false);
        ExpectRead("12x", s, 12, false);
        ExpectRead("12 ", s, 12, false);
        ExpectRead("ten", s, 0, false);
        ExpectRead("1.5", s, 1, false);
        // Out of range: the digits that still fitted.
        ExpectRead("2147483648", s, 214748364, false);
        ExpectRead("99999999999", s, 999999999, false);
    }
}

TEST(ReadInteger, OnlyParametersTakeABareXPrefix) {
    ExpectRead("x1A", IntegerSyntax::Parameter, 26, true);
    ExpectRead("X1A", IntegerSyntax::Parameter, 26, true);
    ExpectRead("x1A", IntegerSyntax::Strict, 0, false);
}

} // namespace
