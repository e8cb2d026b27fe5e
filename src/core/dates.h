// Dates and times: calendar values, the tolerant reader for typed dates, the
// date and clock texts shown to the operator, and day serials.
//
// Texts are Windows-1251, like every text of core/textutil.h. Nothing here
// throws: unreadable input yields the fallback value stated per function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lentar {

// A calendar date: day, month, four-digit year.
struct TDateRec {
  int32_t day = 0;
  int32_t month = 0;
  int32_t year = 0;
  bool operator==(const TDateRec&) const = default;
};

// A calendar date and time of day: the computer's clock, a board's or a
// loader's clock, the moment an emulation run shows. dayOfWeek counts
// 0 = Sunday .. 6 = Saturday. The defaults are midnight of 1 January 2000,
// a Saturday.
struct DateTime {
  int year = 2000, month = 1, dayOfWeek = 6, day = 1;
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
  bool operator==(const DateTime&) const = default;
};

// The computer's local date and time, read once: the one place the program
// asks the system clock for calendar time.
DateTime LocalTimeNow();
// Today's date by the computer's clock.
TDateRec TodayDate();

// Month forced into 1..12, a day below 1 gives 1, otherwise the day limited
// to the month's length; February has 29 days in every fourth year except
// 2100, the board clock's rule.
int ClampDay(int day, int month, int year);
// Many typed shapes ("5 января 2007 г.", "05.01.07", "050107") to D.MM.YYYY;
// empty when no date can be read.
std::string NormalizeDateText(std::string_view text);
// "D.M.Y" with any digit counts; a part that is missing or unreadable is 0,
// a one- or two-digit year is widened as typed dates are (00..29 are 20xx).
TDateRec ParseDotDate(std::string_view text);
// "D.MM.YYYY" ("DD.MM.YYYY" when padDay).
std::string FormatDotDate(const TDateRec& d, bool padDay);
// "5 января 2007 г."
std::string FormatLongDate(const TDateRec& d);
// "9:05" or "9:05.07"; verbose: "9ч. 05мин." or "9ч. 05мин. 07с.". Hours are
// taken modulo 24.
std::string FormatClockTime(int hours, int minutes, int seconds, bool verbose, bool withSeconds);

// Days since 30 December 1899; 0 for an invalid date. Valid dates are real
// Gregorian dates of the years 1 to 9999.
int32_t DateToDays(const TDateRec& d);
// Date of a day serial; all zeros when it is outside 1.01.0001..31.12.9999.
TDateRec DaysToDate(int32_t serial);
// Russian weekday name, 0 = Sunday .. 6 = Saturday (other indexes clamped).
std::string WeekdayName(int index);
// Monday 1 .. Sunday 7; 1 for an invalid date.
int WeekdayNumber(int day, int month, int year);

}  // namespace lentar
