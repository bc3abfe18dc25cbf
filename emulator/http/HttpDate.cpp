#include "emulator/http/HttpDate.h"

#include <array>
#include <cstdio>

namespace ocs {
namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool IsLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

int WeekdayOf(int64_t days) {
  const int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday.
  return static_cast<int>(weekday >= 0 ? weekday : weekday + 7);
}

// Reads `count` digits at `pos`; a leading space stands for a zero when
// `space_padded`.
bool ReadNumber(const std::string& text, size_t pos, size_t count, bool space_padded, int* value) {
  *value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (space_padded && i + 1 < count && c == ' ' && *value == 0) {
      continue;
    }
    if (c < '0' || c > '9') {
      return false;
    }
    *value = *value * 10 + (c - '0');
  }
  return true;
}

template <size_t N>
int IndexOf(const std::array<const char*, N>& names, const std::string& name) {
  for (size_t i = 0; i < N; ++i) {
    if (name == names[i]) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

std::optional<int64_t> ParseClientDate(const std::string& text) {
  // "Www, DD Mon YYYY HH:MM:SS GMT": 29 characters, DD formatted with "%2d".
  if (text.size() != 29 || text.compare(3, 2, ", ") != 0 || text[7] != ' ' || text[11] != ' ' ||
      text[16] != ' ' || text[19] != ':' || text[22] != ':' || text.compare(25, 4, " GMT") != 0) {
    return std::nullopt;
  }
  int day = 0;
  int year = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  const bool zero_padded_day = text[5] == '0';
  if (zero_padded_day || !ReadNumber(text, 5, 2, true, &day) ||
      !ReadNumber(text, 12, 4, false, &year) || !ReadNumber(text, 17, 2, false, &hour) ||
      !ReadNumber(text, 20, 2, false, &minute) || !ReadNumber(text, 23, 2, false, &second)) {
    return std::nullopt;
  }
  const int weekday = IndexOf(kWeekdays, text.substr(0, 3));
  const int month = IndexOf(kMonths, text.substr(8, 3)) + 1;
  if (weekday < 0 || month < 1 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(year, month, day);
  if (WeekdayOf(days) != weekday) {
    return std::nullopt;
  }
  return days * kSecondsPerDay + int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
}

std::string FormatClientDate(int64_t seconds) {
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  // Civil date from days (inverse of DaysFromCivil).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%s, %2d %s %04lld %02d:%02d:%02d GMT",
                kWeekdays[WeekdayOf(days)], day, kMonths[month - 1], static_cast<long long>(year),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return buffer;
}

}  // namespace ocs
