// Native date text: one fixed, locale-free form, so a list written here is
// read back here whatever the environment's locale.
#include <cstdio>
#include <ctime>

#include "platform/datetime.h"

namespace plat {

double LocalNowOle() {
    time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    return MakeOleDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

std::string OleDateToText(double date) {
    OleDateParts p = SplitOleDate(date);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buf;
}

bool TextToOleDate(const std::string& text, double* date) {
    int y, mo, d, h, mi, s, used = -1;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6)
        return false;
    if (used < 0 || static_cast<size_t>(used) != text.size()) return false;
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDays[mo - 1] + (mo == 2 && leap ? 1 : 0)) return false;
    if (date) *date = MakeOleDate(y, mo, d, h, mi, s);
    return true;
}

}  // namespace plat
