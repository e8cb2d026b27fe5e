// Dates and times: the tolerant reader for typed dates, the date and clock
// texts shown to the operator, and day serials (days since 30 December 1899,
// the day numbering of the settings file) computed with the proleptic
// Gregorian calendar for years 1 to 9999.
#include <algorithm>
#include <array>
#include <cstdint>
#include <chrono>
#include <ctime>
#include <limits>

#include "core/dates.h"
#include "core/textutil.h"

namespace lentar {

namespace {

// Month keys the reader looks for in an upper-cased text, in month order.
// The Russian May key is only "МА" so that both МАЙ and МАЯ match; March is
// searched first, so МАРТ stays March.
constexpr std::array<Cp1251Literal<8>, 12> kEnglishMonthKeys = {
    u8"JAN", u8"FEB", u8"MAR", u8"APR", u8"MAY", u8"JUN",
    u8"JUL", u8"AUG", u8"SEP", u8"OCT", u8"NOV", u8"DEC"};
constexpr std::array<Cp1251Literal<8>, 12> kRussianMonthKeys = {
    u8"ЯНВ", u8"ФЕВ", u8"МАР", u8"АПР", u8"МА", u8"ИЮН",
    u8"ИЮЛ", u8"АВГ", u8"СЕН", u8"ОКТ", u8"НОЯ", u8"ДЕК"};
constexpr std::array<Cp1251Literal<24>, 12> kGenitiveMonths = {
    u8"января", u8"февраля", u8"марта",    u8"апреля",  u8"мая",    u8"июня",
    u8"июля",   u8"августа", u8"сентября", u8"октября", u8"ноября", u8"декабря"};
constexpr std::array<Cp1251Literal<24>, 7> kWeekdays = {
    u8"воскресенье", u8"понедельник", u8"вторник", u8"среда",
    u8"четверг",     u8"пятница",     u8"суббота"};

constexpr Cp1251Literal kHoursSuffix(u8"ч. ");
constexpr Cp1251Literal kMinutesSuffix(u8"мин.");
constexpr Cp1251Literal kSecondsSuffix(u8"с.");
constexpr Cp1251Literal kYearSuffix(u8" г.");

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Latin and Russian letters (Ё/ё included) and digits: the bytes that form
// the words of a typed date.
bool IsWordChar(char ch) {
  unsigned char c = static_cast<unsigned char>(ch);
  return IsDigit(ch) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xC0 ||
         c == 0xA8 || c == 0xB8;
}

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int month, int64_t year) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) return IsLeapYear(year) ? 29 : 28;
  return kDays[month - 1];
}

// Value of a digit string; the caller keeps it short (at most 9 digits) or
// accepts saturation.
int64_t DigitsValue(std::string_view digits) {
  int64_t v = 0;
  for (char c : digits) {
    if (!IsDigit(c)) continue;
    v = std::min<int64_t>(v * 10 + (c - '0'), std::numeric_limits<int32_t>::max());
  }
  return v;
}

std::string DigitsOnly(std::string_view text) {
  std::string out;
  for (char c : text)
    if (IsDigit(c)) out += c;
  return out;
}

std::string LastChars(const std::string& s, size_t n) {
  return s.size() > n ? s.substr(s.size() - n) : s;
}

std::string TwoDigits(int64_t v) {
  std::string s = std::to_string(v);
  return (v >= 0 && v < 10) ? "0" + s : s;
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yoe + era * 400 + (m <= 2);
}

// Constant-initialised, so that start-up code in other files may use serials.
constexpr int64_t kSerialBase = DaysFromCivil(1899, 12, 30);
constexpr int64_t kFirstSerial = DaysFromCivil(1, 1, 1) - kSerialBase;
constexpr int64_t kLastSerial = DaysFromCivil(9999, 12, 31) - kSerialBase;
static_assert(DaysFromCivil(2000, 1, 1) - kSerialBase == 36526);

bool IsValidDate(int64_t day, int64_t month, int64_t year) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(static_cast<int>(month), year);
}

// Reads D.MM.YYYY-like intermediate text: the first three word runs are day,
// month and year; month forced into 1..12, a year of 0 becomes 2000, the day
// clamped to the month.
std::string FixDateText(std::string_view text) {
  int64_t parts[3] = {0, 0, 0};
  int found = 0;
  size_t i = 0;
  while (found < 3 && i < text.size()) {
    while (i < text.size() && !IsWordChar(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && IsWordChar(text[i])) ++i;
    if (i > start) parts[found++] = DigitsValue(text.substr(start, i - start));
  }
  int month = static_cast<int>(std::clamp<int64_t>(parts[1], 1, 12));
  int year = static_cast<int>(parts[2] <= 0 ? 2000 : parts[2]);
  int day = ClampDay(static_cast<int>(parts[0]), month, year);
  return std::to_string(day) + "." + TwoDigits(month) + "." + std::to_string(year);
}

// Two-digit and one-digit years of typed dates: 00..29 are 20xx, 30..99 are
// 19xx, a single digit is 200x.
std::string ExpandShortYear(const std::string& digits) {
  if (digits.size() == 2) return (digits < "30" ? "20" : "19") + digits;
  if (digits.size() == 1) return "200" + digits;
  return digits;
}

std::string NormalizeWithMonthName(const std::string& upper, size_t p, int month) {
  std::string yearDigits;
  for (size_t i = p; i < upper.size(); ++i)
    if (IsDigit(upper[i])) yearDigits += upper[i];
  if (yearDigits.empty()) return {};  // a month name without any year
  yearDigits = LastChars(yearDigits, 4);
  int year = static_cast<int>(DigitsValue(yearDigits));
  if (yearDigits.size() <= 2) year += year > 29 ? 1900 : 2000;
  std::string dayDigits = LastChars(DigitsOnly(std::string_view(upper).substr(0, p)), 2);
  int day = ClampDay(static_cast<int>(DigitsValue(dayDigits)), month, year);
  return std::to_string(day) + "." + TwoDigits(month) + "." + std::to_string(year);
}

std::string NormalizeDigitsOnly(const std::string& text) {
  // Up to three runs of digits, from the right end.
  std::string runs[3];  // A (last), B, C
  int count = 0;
  size_t i = text.size();
  while (count < 3 && i > 0) {
    while (i > 0 && !IsDigit(text[i - 1])) --i;
    size_t end = i;
    while (i > 0 && IsDigit(text[i - 1])) --i;
    if (end > i) runs[count++] = text.substr(i, end - i);
  }
  if (count == 0) return {};
  std::string a = runs[0], b = runs[1], c = runs[2];
  if (count >= 2) {
    if (c.empty()) c = "1";
    b = LastChars(b, 2);
    c = LastChars(c, 2);
  } else {
    // One block of digits such as 050107 or 05011999: a four-digit year from
    // 1914 on, else the last two digits are the year.
    std::string dayMonth;
    size_t q = a.rfind("19");
    if (q != std::string::npos && q + 4 <= a.size() && a.substr(q, 4) >= "1914") {
      dayMonth = a.substr(0, q) + a.substr(q + 4);
      a = a.substr(q, 4);
    } else {
      dayMonth = a.size() > 2 ? a.substr(0, a.size() - 2) : std::string();
      a = LastChars(a, 2);
    }
    b = LastChars(dayMonth, 2);
    c = dayMonth.size() > 2 ? LastChars(dayMonth.substr(0, dayMonth.size() - 2), 2) : std::string();
    if (b.empty()) b = "1";
    if (c.empty()) c = "1";
  }
  a = a.size() >= 5 ? LastChars(a, 4) : ExpandShortYear(a);
  if (b.size() == 1) b = "0" + b;
  return c + "." + b + "." + a;
}

}  // namespace

int ClampDay(int day, int month, int year) {
  month = std::clamp(month, 1, 12);
  if (day < 1) return 1;
  // Typed and stored dates have always been limited with the board clock's
  // simple rule: every fourth year is a leap year, 2100 alone excepted (so
  // 1900 and 2200 keep their 29 February). Stored files and boards agree on
  // it, so it stays even though the calendar differs for 1900 and 2200.
  if (month == 2) return std::min(day, (year % 4 == 0 && year != 2100) ? 29 : 28);
  return std::min(day, DaysInMonth(month, year));
}

std::string NormalizeDateText(std::string_view text) {
  const std::string upper = UpperCase(text);
  for (const auto* keys : {&kEnglishMonthKeys, &kRussianMonthKeys}) {
    for (int m = 0; m < 12; ++m) {
      size_t p = upper.find((*keys)[m].view());
      if (p == std::string::npos) continue;
      std::string result = NormalizeWithMonthName(upper, p, m + 1);
      return result.empty() ? result : FixDateText(result);
    }
  }
  std::string result = NormalizeDigitsOnly(upper);
  return result.empty() ? result : FixDateText(result);
}

TDateRec ParseDotDate(std::string_view text) {
  size_t p1 = text.find('.');
  std::string_view dayPart = text.substr(0, p1);
  std::string_view monthPart, yearPart;
  if (p1 != std::string_view::npos) {
    std::string_view rest = text.substr(p1 + 1);
    size_t p2 = rest.find('.');
    monthPart = rest.substr(0, p2);
    if (p2 != std::string_view::npos) yearPart = rest.substr(p2 + 1);
  }
  TDateRec d;
  d.day = static_cast<int32_t>(DigitsValue(dayPart));
  d.month = static_cast<int32_t>(DigitsValue(monthPart));
  d.year = static_cast<int32_t>(DigitsValue(ExpandShortYear(DigitsOnly(yearPart))));
  return d;
}

std::string FormatDotDate(const TDateRec& d, bool padDay) {
  return (padDay ? TwoDigits(d.day) : std::to_string(d.day)) + "." + TwoDigits(d.month) + "." +
         std::to_string(d.year);
}

std::string FormatLongDate(const TDateRec& d) {
  int month = std::clamp<int32_t>(d.month, 1, 12);
  return std::to_string(d.day) + " " + kGenitiveMonths[month - 1].c_str() + " " + std::to_string(d.year) +
         kYearSuffix.c_str();
}

std::string FormatClockTime(int hours, int minutes, int seconds, bool verbose, bool withSeconds) {
  std::string h = std::to_string(((hours % 24) + 24) % 24);
  std::string m = TwoDigits(minutes);
  std::string s = TwoDigits(seconds);
  if (verbose) {
    std::string out = h + kHoursSuffix.c_str() + m + kMinutesSuffix.c_str();
    if (withSeconds) out += " " + s + kSecondsSuffix.c_str();
    return out;
  }
  std::string out = h + ":" + m;
  if (withSeconds) out += "." + s;
  return out;
}

DateTime LocalTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  DateTime r;
  r.year = local.tm_year + 1900;
  r.month = local.tm_mon + 1;
  r.day = local.tm_mday;
  r.dayOfWeek = local.tm_wday;
  r.hour = local.tm_hour;
  r.minute = local.tm_min;
  r.second = local.tm_sec;
  r.milliseconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return r;
}

TDateRec TodayDate() {
  const DateTime now = LocalTimeNow();
  return TDateRec{now.day, now.month, now.year};
}

int32_t DateToDays(const TDateRec& d) {
  if (!IsValidDate(d.day, d.month, d.year)) return 0;
  return static_cast<int32_t>(DaysFromCivil(d.year, d.month, d.day) - kSerialBase);
}

TDateRec DaysToDate(int32_t serial) {
  TDateRec d;
  if (serial < kFirstSerial || serial > kLastSerial) return d;
  int64_t y, m, day;
  CivilFromDays(serial + kSerialBase, y, m, day);
  d.day = static_cast<int32_t>(day);
  d.month = static_cast<int32_t>(m);
  d.year = static_cast<int32_t>(y);
  return d;
}

std::string WeekdayName(int index) { return std::string(kWeekdays[std::clamp(index, 0, 6)].view()); }

int WeekdayNumber(int day, int month, int year) {
  if (day > 65535 || month > 65535 || year > 65535 || !IsValidDate(day, month, year)) return 1;
  int64_t serial = DaysFromCivil(year, month, day) - kSerialBase;
  // Day 0 (30 December 1899) was a Saturday.
  return static_cast<int>(((serial % 7 + 7) % 7 + 5) % 7 + 1);
}

}  // namespace lentar
