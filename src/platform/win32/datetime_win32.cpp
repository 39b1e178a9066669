// Windows date text: the automation conversions in the user's locale, as
// the host's own tools read and write them.
#include <windows.h>
#include <oleauto.h>

#include "platform/datetime.h"

namespace plat {

double LocalNowOle() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    st.wMilliseconds = 0;
    double d = kOleDate2000;
    if (!SystemTimeToVariantTime(&st, &d)) return kOleDate2000;
    return d;
}

std::string OleDateToText(double date) {
    BSTR text = nullptr;
    if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &text)) || !text) return std::string();
    std::string out;
    int len = static_cast<int>(SysStringLen(text));
    int n = WideCharToMultiByte(CP_ACP, 0, text, len, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        WideCharToMultiByte(CP_ACP, 0, text, len, &out[0], n, nullptr, nullptr);
    }
    SysFreeString(text);
    return out;
}

bool TextToOleDate(const std::string& text, double* date) {
    if (text.empty()) return false;
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return false;
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &w[0], n);
    DATE d = 0;
    if (FAILED(VarDateFromStr(&w[0], LOCALE_USER_DEFAULT, 0, &d))) return false;
    if (date) *date = d;
    return true;
}

}  // namespace plat
