#include "platform/TempFiles.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

TEST(DayNumberText, CountsDaysFromThirtiethDecember1899WithTimeAsFraction) {
    EXPECT_EQ(platform::DayNumberText(LocalTime(1899, 12, 30, 0, 0, 0), 0), "0.000000");
    EXPECT_EQ(platform::DayNumberText(LocalTime(1900, 3, 1, 0, 0, 0), 0), "61.000000");
    EXPECT_EQ(platform::DayNumberText(LocalTime(1970, 1, 1, 0, 0, 0), 0), "25569.000000");
    EXPECT_EQ(platform::DayNumberText(LocalTime(2024, 1, 1, 12, 0, 0), 0), "45292.500000");
    EXPECT_EQ(platform::DayNumberText(LocalTime(2024, 2, 29, 6, 0, 0), 500), "45351.250006");
    EXPECT_EQ(platform::DayNumberText(LocalTime(2024, 12, 31, 23, 59, 59), 0), "45657.999988");
}

} // namespace
