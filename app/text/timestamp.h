// SPDX-License-Identifier: Apache-2.0
// Local times as printed before a report's header line.
#ifndef KESTRUNE_APP_TIMESTAMP_H
#define KESTRUNE_APP_TIMESTAMP_H

#include <chrono>
#include <ctime>

/// Room for any timestamp, its NUL included.
constexpr int kTimestampSize = 96;

/// The text of one timestamp: ISO 8601 local time with milliseconds and the
/// offset from UTC, e.g. "2025-03-01T14:05:09.372+01:00".
struct TimestampText {
  char text[kTimestampSize];
};

/// Formats a local calendar time, its milliseconds (0..999) and its offset
/// from UTC in seconds (east positive). An offset that is not a whole number
/// of minutes loses its seconds, as ISO 8601 has no room for them.
TimestampText FormatTimestamp(const std::tm& local, int milliseconds, long utcOffsetSeconds);

/// Seconds by which a local calendar time is ahead of the UTC calendar time
/// of the same moment.
long UtcOffsetSeconds(const std::tm& local, const std::tm& utc);

/// The timestamp of a moment, in the time zone of the process.
TimestampText LocalTimestamp(std::chrono::system_clock::time_point when);

#endif
