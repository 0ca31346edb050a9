// SPDX-License-Identifier: Apache-2.0
#include "text/timestamp.h"

#include <gtest/gtest.h>

#include <string>

#include "output/block_report.h"

namespace {

std::tm Calendar(int year, int month, int day, int hour, int minute, int second) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  time.tm_sec = second;
  return time;
}

TEST(Timestamp, FormatsLocalTimeMillisecondsAndOffset) {
  struct Case {
    std::tm local;
    std::tm utc;
    int milliseconds;
    const char* expected;
  };
  const Case cases[] = {
      {Calendar(2025, 3, 1, 14, 5, 9), Calendar(2025, 3, 1, 13, 5, 9), 372,
       "2025-03-01T14:05:09.372+01:00"},
      {Calendar(2025, 1, 1, 0, 0, 0), Calendar(2025, 1, 1, 0, 0, 0), 0,
       "2025-01-01T00:00:00.000+00:00"},
      // West of UTC, across midnight and the year; half-hour offsets.
      {Calendar(2024, 12, 31, 20, 30, 0), Calendar(2025, 1, 1, 0, 0, 0), 999,
       "2024-12-31T20:30:00.999-03:30"},
      {Calendar(2024, 3, 1, 5, 45, 1), Calendar(2024, 2, 29, 23, 0, 1), 5,
       "2024-03-01T05:45:01.005+06:45"},
      // A leap second, and an offset with seconds, which ISO 8601 cannot show.
      {Calendar(2016, 12, 31, 23, 59, 60), Calendar(2016, 12, 31, 23, 59, 60), 500,
       "2016-12-31T23:59:60.500+00:00"},
      {Calendar(1900, 1, 1, 0, 9, 21), Calendar(1900, 1, 1, 0, 0, 0), 0,
       "1900-01-01T00:09:21.000+00:09"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(std::string(
                  FormatTimestamp(c.local, c.milliseconds, UtcOffsetSeconds(c.local, c.utc)).text),
              c.expected);
  }
}

TEST(Timestamp, ALocalTimeHasTheFormAndMillisecondsOfItsMoment) {
  const auto moment = std::chrono::system_clock::time_point(
      std::chrono::milliseconds(1'700'000'000'123LL));  // 2023-11-14T22:13:20.123 UTC
  const std::string text = LocalTimestamp(moment).text;
  ASSERT_EQ(text.size(), 29u) << text;
  EXPECT_EQ(text.substr(19, 4), ".123") << text;
  EXPECT_TRUE(text[23] == '+' || text[23] == '-') << text;
}

TEST(Timestamp, OnlyTheHeaderLineOfAReportCarriesIt) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  testing::internal::CaptureStdout();
  ReportBlock("S1", bytes, 5, "2025-03-01T14:05:09.372+01:00");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "2025-03-01T14:05:09.372+01:00 >>>[DATA FROM S1, 5 BYTE]\n  0x123456789A\n"
            "  HEX (64-bit): 000000123456789A\n  Decimal (10 Digits): 0001193046\n<<<\n");
}

}  // namespace
