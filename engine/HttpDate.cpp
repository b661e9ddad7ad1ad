#include "engine/HttpDate.h"

#include "net/NMHttpParse.h"

#include <cstdio>
#include <cstring>
#include <utility>

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

std::vector<std::string> HeaderValues(const std::string &headerBlock, const std::string &name) {
    std::vector<std::string> values;
    const std::string wanted = net::LowerCase(name) + ":";
    for (size_t start = 0; start < headerBlock.size();) {
        size_t end = headerBlock.find('\n', start);
        if (end == std::string::npos)
            end = headerBlock.size();
        const std::string line = headerBlock.substr(start, end - start);
        start = end + 1;
        if (net::LowerCase(line.substr(0, wanted.size())) != wanted)
            continue;
        std::string value = net::WithoutTerminator(line + "\n").substr(wanted.size());
        // The same blanks at both ends: a value of blanks and carriage returns alone is empty.
        size_t first = value.find_first_not_of(" \t\r");
        size_t last = value.find_last_not_of(" \t\r");
        values.push_back(first == std::string::npos ? "" : value.substr(first, last - first + 1));
    }
    return values;
}

std::string HeaderValue(const std::string &headerBlock, const std::string &name) {
    std::vector<std::string> values = HeaderValues(headerBlock, name);
    return values.empty() ? std::string() : std::move(values.front());
}

} // namespace engine
