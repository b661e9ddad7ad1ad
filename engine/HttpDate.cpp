#include "engine/HttpDate.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace engine {
namespace {

constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr double kUnixEpochDay = 25569; // 1 January 1970 as a date-time value

int MonthIndex(const std::string &name) {
    for (int i = 0; i < 12; ++i)
        if (name.size() == 3 && strncasecmp(name.c_str(), kMonths[i], 3) == 0)
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

// Reads a date's fields left to right, as the C library's scanf would with the formats in
// ParseHttpDate's comments, without its cost in a statically linked program.
class DateCursor {
  public:
    explicit DateCursor(const std::string &text) : s_(text) {}
    bool AtEnd() const { return at_ == s_.size(); }
    // Any number of blanks, none included.
    DateCursor &Blanks() {
        while (at_ < s_.size() && IsBlank(s_[at_]))
            ++at_;
        return *this;
    }
    bool Char(char c) { return at_ < s_.size() && s_[at_] == c ? (++at_, true) : false; }
    // After blanks, 1 to `most` characters that are no blanks (only letters with `letters`).
    bool Word(size_t most, std::string *word = nullptr, bool letters = false) {
        Blanks();
        const size_t from = at_;
        while (at_ < s_.size() && at_ - from < most && !IsBlank(s_[at_]) &&
               (!letters || std::isalpha(static_cast<unsigned char>(s_[at_]))))
            ++at_;
        if (word)
            *word = s_.substr(from, at_ - from);
        return at_ > from;
    }
    // After blanks, 1 to `most` decimal digits.
    bool Number(size_t most, int &value) {
        Blanks();
        const size_t from = at_;
        value = 0;
        while (at_ < s_.size() && at_ - from < most && std::isdigit(static_cast<unsigned char>(s_[at_])))
            value = value * 10 + (s_[at_++] - '0');
        return at_ > from;
    }

  private:
    static bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    const std::string &s_;
    size_t at_ = 0;
};

} // namespace

double ParseHttpDate(const std::string &text) {
    std::string month, zone;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    const auto clock = [&](DateCursor &c) {
        return c.Number(2, hour) && c.Char(':') && c.Number(2, minute) && c.Char(':') &&
               c.Number(2, second);
    };
    bool ok = false;
    // RFC 1123: "%3s, %2d %3s %4d %2d:%2d:%2d GMT"
    if (DateCursor c(text); c.Word(3) && c.Char(',') && c.Number(2, day) && c.Word(3, &month) &&
                            c.Number(4, year) && clock(c) && c.Word(3, &zone) &&
                            zone == "GMT" && c.AtEnd()) {
        ok = true;
    // RFC 850: "%[A-Za-z], %2d-%3s-%2d %2d:%2d:%2d GMT", its year in two digits
    } else if (DateCursor c2(text);
               c2.Word(std::string::npos, nullptr, true) && c2.Char(',') && c2.Number(2, day) &&
               c2.Char('-') && c2.Word(3, &month) && c2.Char('-') && c2.Number(2, year) &&
               clock(c2) && c2.Word(3, &zone) && zone == "GMT" && c2.AtEnd()) {
        year += year < 70 ? 2000 : 1900;
        ok = true;
    // asctime: "%3s %3s %2d %2d:%2d:%2d %4d"
    } else if (DateCursor c3(text); c3.Word(3) && c3.Word(3, &month) && c3.Number(2, day) &&
                                    clock(c3) && c3.Number(4, year) && c3.AtEnd()) {
        ok = true;
    }
    if (!ok)
        return 0;
    int m = MonthIndex(month);
    if (m < 0 || year < 1900 || !DaysInMonthOk(year, m, day) || hour > 23 || minute > 59 ||
        second > 60 || hour < 0 || minute < 0 || second < 0)
        return 0;
    long long days = DaysFromCivil(year, static_cast<unsigned>(m + 1), static_cast<unsigned>(day));
    return kUnixEpochDay + static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

} // namespace engine
