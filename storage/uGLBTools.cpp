#include "uGLBTools.h"

#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include "uGLBWin.h"
#endif

namespace {
char AsciiLowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Days from 1.1.1970 of a civil date, and back (H. Hinnant's algorithms).
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

constexpr int64_t DayZero = DaysFromCivil(1899, 12, 30);
} // namespace

bool SameTextAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
    return true;
}

std::string AsciiLower(std::string text)
{
    for (char& c : text) c = AsciiLowerChar(c);
    return text;
}

int64_t DayNumberOfDate(int year, int month, int day)
{
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - DayZero;
}

void DateOfDayNumber(int64_t dayNumber, int& year, int& month, int& day)
{
    CivilFromDays(dayNumber + DayZero, year, month, day);
}

std::string EscapeAmpersands(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '&') out += '&';
    }
    return out;
}

namespace {
// |x| rounded half up to two decimals from its 15 significant digits, as digits with the point
// implied before the last two: 1536/1024 -> "150", 1.125 -> "113".
std::string TwoDecimalDigits(double x)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
    std::string digits;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const int exp = *p == 'e' ? std::atoi(p + 1) : 0;
    int intDigits = exp + 1;
    if (intDigits < 1) {
        digits.insert(0, static_cast<size_t>(1 - intDigits), '0');
        intDigits = 1;
    }
    const size_t keep = static_cast<size_t>(intDigits) + 2;
    if (digits.size() < keep + 1) digits.append(keep + 1 - digits.size(), '0');
    const bool up = digits[keep] >= '5';
    digits.resize(keep);
    if (up) {
        size_t i = keep;
        while (i > 0) {
            --i;
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                ++digits[i];
                break;
            }
            if (i == 0) digits.insert(0, 1, '1');
        }
    }
    // Drop leading zeros of the integer part, but keep one.
    while (digits.size() > 3 && digits[0] == '0') digits.erase(0, 1);
    return digits;
}
} // namespace

std::string FormatByteSize(int64_t n, const std::string& thousandSep, const std::string& decimalSep)
{
    static const char* const Units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    double x = static_cast<double>(n);
    int unit = 0;
    while (x > 1024 && unit < 5) {
        x /= 1024;
        ++unit;
    }
    const std::string digits = TwoDecimalDigits(x);
    const std::string whole = digits.substr(0, digits.size() - 2);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += thousandSep;
        grouped += whole[i];
    }
    const bool negative = x < 0 && digits.find_first_not_of('0') != std::string::npos;
    return (negative ? "-" : "") + grouped + decimalSep + digits.substr(digits.size() - 2) + " " + Units[unit];
}

std::string FormatByteSize(int64_t n)
{
#ifdef _WIN32
    wchar_t thousand[8] = {}, decimal[8] = {};
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousand, 8)) thousand[0] = L'\0';
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8)) {
        decimal[0] = L'.';
        decimal[1] = L'\0';
    }
    return FormatByteSize(n, WideToUtf8(thousand), WideToUtf8(decimal));
#else
    return FormatByteSize(n, ",", ".");
#endif
}

std::string HttpDateToText(const std::string& text)
{
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::vector<std::string> items;
    std::string item;
    for (char c : text) {
        if (c == ',') continue;
        if (c == ' ') {
            if (!item.empty()) items.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    if (!item.empty()) items.push_back(item);
    if (items.size() < 5) return {};

    std::string month;
    for (int i = 0; i < 12; ++i)
        if (items[2] == Months[i]) {
            char two[4];
            std::snprintf(two, sizeof two, "%02d", i + 1);
            month = two;
            break;
        }
    return items[1] + "." + month + "." + items[3] + " " + items[4];
}

int64_t StrToInt64Def(const std::string& text, int64_t def)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return def;
    // Accumulated as a magnitude: INT64_MIN has no positive counterpart.
    uint64_t value = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return def;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (limit - digit) / 10) return def;
        value = value * 10 + digit;
    }
    return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int32_t StrToIntDef(const std::string& text, int32_t def)
{
    const int64_t value = StrToInt64Def(text, int64_t(INT32_MAX) + 1);
    if (value > INT32_MAX || value < INT32_MIN) return def;
    return static_cast<int32_t>(value);
}

int WindowsVersionCode(uint32_t platformId, uint32_t major, uint32_t minor)
{
    if (platformId == 1) {   // Windows 9x
        if (major == 4 && minor == 0) return 0;
        if (major == 4 && minor == 10) return 1;
        if (major == 4 && minor == 90) return 3;
        return -1;
    }
    if (platformId == 2) {   // NT
        if ((major == 3 && minor == 51) || (major == 4 && minor == 0)) return 4;
        if (major == 5 && minor == 0) return 5;
        if (major == 5 && minor == 1) return 6;
        if (major == 5 && minor == 2) return 7;
        return 8;
    }
    return -1;
}

#ifdef _WIN32
int GetWindowsVersion()
{
    // RtlGetVersion reports the real version; GetVersionExW may be capped by compatibility shims.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                          reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")))
                    : nullptr;
    if (!fn || fn(&info) != 0) {
        info = {};
        info.dwOSVersionInfoSize = sizeof info;
        if (!GetVersionExW(&info)) return -1;
    }
    return WindowsVersionCode(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

bool IsShiftPressed()
{
    return (GetKeyState(VK_SHIFT) & 0x8000) != 0;
}

void SetBusyCursor(bool busy)
{
    SetCursor(LoadCursorW(nullptr, busy ? IDC_APPSTARTING : IDC_ARROW));
}
#endif
