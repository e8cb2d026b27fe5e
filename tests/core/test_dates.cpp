// Typed date reading, date and clock texts, day serials and weekdays.
#include <gtest/gtest.h>

#include <climits>
#include <regex>

#include "core/dates.h"
#include "core/textutil.h"

namespace lentar {
namespace {

std::string W(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

TEST(Dates, NormalizeDateText) {
  struct Case { std::string in, out; } cases[] = {
      {W(u8"5 января 2007 г."), "5.01.2007"},
      {"05.01.07", "5.01.2007"},
      {"050107", "5.01.2007"},
      {"31.02.2004", "29.02.2004"},
      {"29.02.2100", "28.02.2100"},
      {"05011999", "5.01.1999"},
      {"05111914", "5.11.1914"},
      {"05111913", "11.12.2013"},  // before 1914 "19" is not read as a century
      {"", ""},
      {"no digits", ""},
      {"5 Jan 07", "5.01.2007"},
      {"12-dec-1985", "12.12.1985"},
      {W(u8"1 марта 2010"), "1.03.2010"},   // МАРТ is March, not May
      {W(u8"3 мая 11"), "3.05.2011"},
      {W(u8"9 Май 1945"), "9.05.1945"},
      {W(u8"ёлка 1 января"), ""},           // a month name but no year
      {"10.5.30", "10.05.1930"},
      {"1.1.5", "1.01.2005"},
      {"00.00.00", "1.01.2000"},
      {"31.04.2020", "30.04.2020"},
      {"05.13.2020", "5.12.2020"},
      {"123.456.78901", "23.12.8901"},
      {"29.02.1900", "29.02.1900"},  // the board clock's rule: only 2100 is skipped
      {"29.02.2000", "29.02.2000"},
      {"3.4", "1.03.2004"},          // two numbers are month and year
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeDateText(c.in), c.out) << c.in;
    // Its own output reads back unchanged.
    EXPECT_EQ(NormalizeDateText(c.out), c.out) << c.out;
  }
}

TEST(Dates, ClampDay) {
  struct Case { int d, m, y, out; } cases[] = {
      {31, 2, 2004, 29}, {31, 2, 2100, 28}, {29, 2, 2000, 29}, {29, 2, 1900, 29}, {29, 2, 2200, 29},
      {0, 5, 2020, 1},   {-5, 5, 2020, 1},  {31, 4, 2020, 30}, {31, 13, 2020, 31},
      {31, 0, 2020, 31}, {15, 6, 2020, 15},
  };
  for (const auto& c : cases) EXPECT_EQ(ClampDay(c.d, c.m, c.y), c.out) << c.d << "." << c.m << "." << c.y;
}

TEST(Dates, ParseDotDate) {
  struct Case { std::string in; TDateRec out; } cases[] = {
      {"1.2.29", {1, 2, 2029}},
      {"1.2.30", {1, 2, 1930}},
      {"1.2.7", {1, 2, 2007}},
      {"05.01.2007", {5, 1, 2007}},
      {"a1b.c2d.e2e0f1g0", {1, 2, 2010}},
      {"1.2.123", {1, 2, 123}},
      {"12", {12, 0, 0}},
      {"", {0, 0, 0}},
      {"..", {0, 0, 0}},
      {"99999999999999.1.2000", {INT32_MAX, 1, 2000}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDotDate(c.in), c.out) << c.in;
}

TEST(Dates, Texts) {
  EXPECT_EQ(FormatDotDate({5, 1, 2007}, false), "5.01.2007");
  EXPECT_EQ(FormatDotDate({5, 1, 2007}, true), "05.01.2007");
  EXPECT_EQ(FormatDotDate({15, 12, 99}, true), "15.12.99");

  EXPECT_EQ(FormatLongDate({5, 1, 2007}), W(u8"5 января 2007 г."));
  EXPECT_EQ(FormatLongDate({1, 13, 2000}), W(u8"1 декабря 2000 г."));
  EXPECT_EQ(FormatLongDate({1, 0, 2000}), W(u8"1 января 2000 г."));

  struct Clock { int h, m, s; bool verbose, seconds; std::string out; } clocks[] = {
      {25, 7, 0, false, false, "1:07"},
      {9, 5, 7, false, true, "9:05.07"},
      {9, 5, 7, true, false, W(u8"9ч. 05мин.")},
      {9, 5, 7, true, true, W(u8"9ч. 05мин. 07с.")},
      {0, 30, 45, false, false, "0:30"},
      {-1, 0, 0, false, false, "23:00"},
  };
  for (const auto& c : clocks)
    EXPECT_EQ(FormatClockTime(c.h, c.m, c.s, c.verbose, c.seconds), c.out) << c.h << ":" << c.m;

  EXPECT_EQ(WeekdayName(0), W(u8"воскресенье"));
  EXPECT_EQ(WeekdayName(1), W(u8"понедельник"));
  EXPECT_EQ(WeekdayName(6), W(u8"суббота"));
  EXPECT_EQ(WeekdayName(-3), W(u8"воскресенье"));
  EXPECT_EQ(WeekdayName(9), W(u8"суббота"));
}

TEST(Dates, DaySerials) {
  struct Case { TDateRec d; int32_t serial; } cases[] = {
      {{30, 12, 1899}, 0},       {{31, 12, 1899}, 1},     {{1, 1, 1900}, 2},
      {{1, 3, 1900}, 61},        {{1, 1, 2000}, 36526},   {{5, 1, 2007}, 39087},
      {{1, 1, 1}, -693593},      {{31, 12, 9999}, 2958465},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateToDays(c.d), c.serial) << FormatDotDate(c.d, false);
    EXPECT_EQ(DaysToDate(c.serial), c.d) << c.serial;
  }
  // Impossible dates give 0, impossible serials a zero record.
  for (TDateRec bad : {TDateRec{29, 2, 2100}, TDateRec{0, 1, 2000}, TDateRec{1, 13, 2000},
                       TDateRec{1, 1, 10000}, TDateRec{1, 1, 0}, TDateRec{-1, -1, -1}})
    EXPECT_EQ(DateToDays(bad), 0) << FormatDotDate(bad, false);
  for (int32_t bad : {-693594, 2958466, INT32_MIN, INT32_MAX}) EXPECT_EQ(DaysToDate(bad), TDateRec{}) << bad;

  // Every serial maps to a valid date and back.
  for (int32_t n = -693593; n <= 2958465; n += 97) {
    TDateRec d = DaysToDate(n);
    ASSERT_EQ(DateToDays(d), n) << n;
    ASSERT_EQ(ClampDay(d.day, d.month, d.year), d.day) << n;
  }
}

TEST(Dates, WeekdayNumber) {
  struct Case { int d, m, y, weekday; } cases[] = {
      {1, 1, 1900, 1},  {30, 12, 1899, 6}, {5, 1, 2007, 5},  {1, 1, 2000, 6},
      {7, 1, 2024, 7},  {29, 2, 2024, 4},  {31, 2, 2020, 1}, {1, 1, 70000, 1},
      {0, 0, 0, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(WeekdayNumber(c.d, c.m, c.y), c.weekday) << c.d << "." << c.m << "." << c.y;
}

TEST(Dates, TodayIsAValidDate) {
  TDateRec today = TodayDate();
  EXPECT_GE(today.year, 2020);
  EXPECT_NE(DateToDays(today), 0);
  EXPECT_EQ(DaysToDate(DateToDays(today)), today);
}

}  // namespace
}  // namespace lentar
