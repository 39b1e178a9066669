// Local date and time as an OLE automation date (days since 1899-12-30 as a
// double), and its text form for the cache list file and log lines.
#pragma once

#include <string>

namespace plat {

double LocalNowOle();

// Text in the user's locale on Windows (the automation conversion); a fixed
// "YYYY-MM-DD HH:MM:SS" form natively. The reader accepts what the writer of
// the same build produces and fails on anything else.
std::string OleDateToText(double date);
bool TextToOleDate(const std::string& text, double* date);

}  // namespace plat

// 2000-01-01 00:00:00, which stands for "never".
constexpr double kOleDate2000 = 36526.0;

// Broken-down fields of an OLE date (no time zone involved: the date is local).
struct OleDateParts {
    int year, month, day, hour, minute, second, dayOfYear /* 1..366 */;
};
OleDateParts SplitOleDate(double date);
double MakeOleDate(int year, int month, int day, int hour, int minute, int second);
