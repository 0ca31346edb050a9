// SPDX-License-Identifier: Apache-2.0
#include "text/timestamp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long DaysFromCivil(long year, long month, long day) {
  year -= month <= 2 ? 1 : 0;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

long SecondsOf(const std::tm& time) {
  return DaysFromCivil(time.tm_year + 1900L, time.tm_mon + 1L, time.tm_mday) * 86400L +
         time.tm_hour * 3600L + time.tm_min * 60L + time.tm_sec;
}

}  // namespace

long UtcOffsetSeconds(const std::tm& local, const std::tm& utc) {
  return SecondsOf(local) - SecondsOf(utc);
}

TimestampText FormatTimestamp(const std::tm& local, int milliseconds, long utcOffsetSeconds) {
  // Real offsets stay within a day; anything beyond two digits of hours is
  // held at 99:59 rather than widen the text.
  const int minutes = static_cast<int>(std::min(std::labs(utcOffsetSeconds) / 60, 99L * 60 + 59));
  TimestampText stamp{};
  std::snprintf(stamp.text, sizeof stamp.text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, milliseconds, utcOffsetSeconds < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return stamp;
}

TimestampText LocalTimestamp(std::chrono::system_clock::time_point when) {
  const auto sinceEpoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  // Floor division, so that a moment before 1970 still has 0..999 ms.
  long long seconds = sinceEpoch / 1000;
  long long millis = sinceEpoch % 1000;
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  const auto moment = static_cast<std::time_t>(seconds);
  std::tm local{};
  std::tm utc{};
#if defined(_WIN32)
  localtime_s(&local, &moment);
  gmtime_s(&utc, &moment);
#else
  localtime_r(&moment, &local);
  gmtime_r(&moment, &utc);
#endif
  return FormatTimestamp(local, static_cast<int>(millis), UtcOffsetSeconds(local, utc));
}
