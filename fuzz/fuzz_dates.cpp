// Typed dates: whatever the operator types, the reader gives either nothing or
// a date in the D.MM.YYYY form; day serials convert both ways.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/dates.h"
#include "core/textutil.h"

using namespace lentar;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// D.MM.YYYY: day 1..31 without a leading zero, month 01..12, year 1..9999
// without a leading zero, and the day exists in that month.
void CheckDateText(const std::string& s) {
  size_t p1 = s.find('.');
  Check(p1 != std::string::npos);
  size_t p2 = s.find('.', p1 + 1);
  Check(p2 != std::string::npos);
  const std::string d = s.substr(0, p1), m = s.substr(p1 + 1, p2 - p1 - 1), y = s.substr(p2 + 1);
  Check(AllDigits(d) && AllDigits(m) && AllDigits(y));
  Check(d.size() <= 2 && d[0] != '0');
  Check(m.size() == 2);
  Check(y.size() <= 4 && y[0] != '0');
  const int day = std::stoi(d), month = std::stoi(m), year = std::stoi(y);
  Check(month >= 1 && month <= 12);
  Check(ClampDay(day, month, year) == day);
  if (year >= 1000) {
    // A four-digit year reads back unchanged, as a real date.
    Check(NormalizeDateText(s) == s);
    const TDateRec rec = ParseDotDate(s);
    Check(rec == (TDateRec{day, month, year}));
    // The typed-date rule keeps 29 February in every fourth year but 2100,
    // which the calendar does not have in 1900, 2200 and the like.
    const bool calendarFeb29Gap = day == 29 && month == 2 && year % 100 == 0 && year % 400 != 0;
    Check(DateToDays(rec) != 0 || (day == 30 && month == 12 && year == 1899) || calendarFeb29Gap);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::string normal = NormalizeDateText(input);
  if (!normal.empty()) CheckDateText(normal);

  const TDateRec parsed = ParseDotDate(input);
  Check(parsed.day >= 0 && parsed.month >= 0 && parsed.year >= 0);
  (void)FormatDotDate(parsed, true);
  (void)FormatLongDate(parsed);
  const int weekday = WeekdayNumber(parsed.day, parsed.month, parsed.year);
  Check(weekday >= 1 && weekday <= 7);

  if (size >= 12) {
    int32_t v[3];
    std::memcpy(v, data, sizeof v);
    // Serials: a date that converts comes back to the same serial.
    const TDateRec d = DaysToDate(v[0]);
    if (d != TDateRec{}) Check(DateToDays(d) == v[0]);
    const TDateRec any{v[0], v[1], v[2]};
    const int32_t serial = DateToDays(any);
    if (serial != 0) Check(DaysToDate(serial) == any);
    Check(ClampDay(v[0], v[1], v[2]) >= 1 && ClampDay(v[0], v[1], v[2]) <= 31);
    const std::string clock = FormatClockTime(v[0], v[1], v[2], size % 2, size % 3);
    Check(!clock.empty());
  }
  return 0;
}
