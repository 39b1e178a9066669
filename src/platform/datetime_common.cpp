// Calendar arithmetic on OLE automation dates: days since 1899-12-30, the
// fraction being the time of day. Before that day the day count is negative
// while the fraction still counts forward (-1.25 is 1899-12-29 06:00).
#include <cmath>

#include "platform/datetime.h"

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date, and back.
long long DaysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int* year, int* month, int* day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

constexpr long long kOleEpochFromUnix = -25569;  // 1899-12-30 counted from 1970-01-01

}  // namespace

OleDateParts SplitOleDate(double date) {
    if (!std::isfinite(date)) date = kOleDate2000;
    double whole = std::trunc(date);
    // The time is rounded to the nearest second, as the automation
    // conversions do; 23:59:59.6 becomes midnight of the next day.
    long long secs = std::llround(std::fabs(date - whole) * 86400.0);
    long long day = static_cast<long long>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        day += 1;
    }
    OleDateParts p{};
    CivilFromDays(day + kOleEpochFromUnix, &p.year, &p.month, &p.day);
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    p.dayOfYear = static_cast<int>(day + kOleEpochFromUnix - DaysFromCivil(p.year, 1, 1) + 1);
    return p;
}

double MakeOleDate(int year, int month, int day, int hour, int minute, int second) {
    // Months outside 1..12 carry into the year, so callers may step months.
    long long y = year + (month >= 1 ? (month - 1) / 12 : -((12 - month) / 12));
    int m = ((month - 1) % 12 + 12) % 12 + 1;
    long long days = DaysFromCivil(y, m, 1) + (day - 1) - kOleEpochFromUnix;
    long long secs = static_cast<long long>(hour) * 3600 + static_cast<long long>(minute) * 60 + second;
    days += secs >= 0 ? secs / 86400 : -((86399 - secs) / 86400);
    secs = ((secs % 86400) + 86400) % 86400;
    double frac = static_cast<double>(secs) / 86400.0;
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}
