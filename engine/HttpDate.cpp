#include "engine/HttpDate.h"

#include <cstdio>
#include <cstring>

namespace engine {
namespace {

constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr double kUnixEpochDay = 25569; // 1 January 1970 as a date-time value

int MonthIndex(const char *name) {
    for (int i = 0; i < 12; ++i)
        if (strncasecmp(name, kMonths[i], 3) == 0 && name[3] == '\0')
            return i;
    return -1;
}

// Days from 1 January 1970 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool DaysInMonthOk(int year, int month, int day) {
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day < 1 || day > days[month])
        return false;
    return month != 1 || day <= (leap ? 29 : 28);
}

} // namespace

double ParseHttpDate(const std::string &text) {
    char month[4] = {};
    char zone[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    const char *s = text.c_str();
    bool ok = false;
    if (std::sscanf(s, "%*3s, %2d %3s %4d %2d:%2d:%2d %3s%n", &day, month, &year, &hour, &minute,
                    &second, zone, &used) == 7 &&
        std::strcmp(zone, "GMT") == 0) {
        ok = true; // RFC 1123
    } else if ((used = 0), std::sscanf(s, "%*[A-Za-z], %2d-%3s-%2d %2d:%2d:%2d %3s%n", &day, month, &year,
                           &hour, &minute, &second, zone, &used) == 7 &&
               std::strcmp(zone, "GMT") == 0) {
        year += year < 70 ? 2000 : 1900; // RFC 850's two-digit year
        ok = true;
    } else if ((used = 0), std::sscanf(s, "%*3s %3s %2d %2d:%2d:%2d %4d%n", month, &day, &hour, &minute,
                           &second, &year, &used) == 6) {
        ok = true; // asctime
    }
    if (!ok || used != static_cast<int>(text.size()))
        return 0;
    int m = MonthIndex(month);
    if (m < 0 || year < 1900 || !DaysInMonthOk(year, m, day) || hour > 23 || minute > 59 ||
        second > 60 || hour < 0 || minute < 0 || second < 0)
        return 0;
    long long days = DaysFromCivil(year, static_cast<unsigned>(m + 1), static_cast<unsigned>(day));
    return kUnixEpochDay + static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

} // namespace engine
