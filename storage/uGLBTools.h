#pragma once
// Small shared routines: text, sizes, dates (pure), and Windows version, Shift key, busy cursor.
#include <cstdint>
#include <string>
#include <string_view>

// Equality of two texts with ASCII letters compared without case (other bytes as they are).
bool SameTextAscii(std::string_view a, std::string_view b);
// The text with its ASCII capitals made small.
std::string AsciiLower(std::string text);

// Dates of the proleptic Gregorian calendar as day numbers counted from 30.12.1899, the day zero of
// a date-time value (whole days before the fraction of the day), and back.
int64_t DayNumberOfDate(int year, int month, int day);
void DateOfDayNumber(int64_t dayNumber, int& year, int& month, int& day);

// Every "&" becomes "&&", so that a name shows literally in a caption.
std::string EscapeAmpersands(const std::string& text);

// The byte count in the largest unit up to "PB" that keeps it above 1024, two decimals, with
// thousands separators: "1.536,00 B", "1,50 KB". The one-argument form uses the process's number
// format (the user's locale on Windows, "," and "." natively).
std::string FormatByteSize(int64_t n);
std::string FormatByteSize(int64_t n, const std::string& thousandSep, const std::string& decimalSep);

// "Tue, 07 Dec 2004 10:00:00 GMT" -> "07.12.2004 10:00:00"; no time-zone conversion. An unknown
// month name leaves the month empty; a text with fewer than five items gives the empty text.
std::string HttpDateToText(const std::string& text);

// Decimal text (optional sign, digits only, in 32-bit range) to integer, else `def`.
int32_t StrToIntDef(const std::string& text, int32_t def);
// The same in 64-bit range (sizes of files past 2 GiB).
int64_t StrToInt64Def(const std::string& text, int64_t def);

// The version code of GetWindowsVersion from platform id (0 Win32s, 1 9x, 2 NT) and version.
int WindowsVersionCode(uint32_t platformId, uint32_t major, uint32_t minor);

#ifdef _WIN32
// 0/1/3 for Windows 95/98/Me, 4 NT 4, 5 2000, 6 XP, 7 2003, 8 anything later, -1 unknown.
int GetWindowsVersion();
bool IsShiftPressed();
// Application-starting cursor (arrow with hourglass) for yes, the arrow for no.
void SetBusyCursor(bool busy);
#endif
