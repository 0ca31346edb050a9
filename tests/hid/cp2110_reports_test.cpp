// SPDX-License-Identifier: Apache-2.0
#include "cp2110_reports.h"

#include <gtest/gtest.h>

#include <vector>

namespace hidbridge {
namespace {

TEST(UartConfigReport, EncodesBaudMostSignificantFirstAndFieldsInWireOrder) {
  uint8_t report[kUartConfigReportSize];
  // Every field different, so a swapped pair shows.
  EncodeUartConfig(hiduart::UartSetting{0x0001C200, /*dataBits=*/2, /*parity=*/4, /*stopBits=*/1,
                                        /*flowControl=*/0},
                   report);
  const std::vector<uint8_t> expected = {0x50, 0x00, 0x01, 0xC2, 0x00, 4, 0, 2, 1};
  EXPECT_EQ(std::vector<uint8_t>(report, report + sizeof report), expected);
}

TEST(UartConfigReport, DecodesWhatWasEncoded) {
  const hiduart::UartSetting written{9600, 3, 0, 0, 1};
  uint8_t report[kUartConfigReportSize];
  EncodeUartConfig(written, report);
  hiduart::UartSetting read{};
  ASSERT_TRUE(DecodeUartConfig(report, sizeof report, &read));
  EXPECT_TRUE(read == written);
}

TEST(UartConfigReport, RejectsShortOrForeignReports) {
  uint8_t report[kUartConfigReportSize] = {0x50, 0, 0, 0x25, 0x80, 0, 0, 3, 0};
  hiduart::UartSetting config{};
  EXPECT_FALSE(DecodeUartConfig(report, sizeof report - 1, &config));
  EXPECT_FALSE(DecodeUartConfig(nullptr, sizeof report, &config));
  report[0] = 0x46;
  EXPECT_FALSE(DecodeUartConfig(report, sizeof report, &config));
}

TEST(UartSettingValidation, AcceptsTheChipsRangesOnly) {
  EXPECT_TRUE(hiduart::IsValid({9600, 3, 0, 0, 0}));
  EXPECT_TRUE(hiduart::IsValid({HID_UART_MIN_BAUD_RATE, 0, 4, 1, 1}));
  EXPECT_TRUE(hiduart::IsValid({HID_UART_MAX_BAUD_RATE, 3, 0, 0, 0}));
  EXPECT_FALSE(hiduart::IsValid({HID_UART_MIN_BAUD_RATE - 1, 3, 0, 0, 0}));
  EXPECT_FALSE(hiduart::IsValid({HID_UART_MAX_BAUD_RATE + 1, 3, 0, 0, 0}));
  EXPECT_FALSE(hiduart::IsValid({9600, 4, 0, 0, 0}));
  EXPECT_FALSE(hiduart::IsValid({9600, 3, 5, 0, 0}));
  EXPECT_FALSE(hiduart::IsValid({9600, 3, 0, 2, 0}));
  EXPECT_FALSE(hiduart::IsValid({9600, 3, 0, 0, 2}));
}

TEST(VersionReport, GivesPartNumberAndVersion) {
  const uint8_t report[] = {0x46, 0x0A, 0x02};
  uint8_t part = 0;
  uint8_t version = 0;
  ASSERT_TRUE(DecodeVersion(report, sizeof report, &part, &version));
  EXPECT_EQ(part, 0x0A);
  EXPECT_EQ(version, 0x02);
  EXPECT_FALSE(DecodeVersion(report, 2, &part, &version));
  const uint8_t foreign[] = {0x50, 0x0A, 0x02};
  EXPECT_FALSE(DecodeVersion(foreign, sizeof foreign, &part, &version));
}

TEST(DataReport, IdIsTheNumberOfDataBytes) {
  uint8_t report[kMaxReportSize] = {};
  report[0] = 5;
  report[1] = 0xAA;
  // Padding after the announced bytes is not data.
  EXPECT_EQ(DataOf(report, sizeof report).size, 5u);
  EXPECT_EQ(DataOf(report, sizeof report).bytes, report + 1);
  report[0] = 63;
  EXPECT_EQ(DataOf(report, sizeof report).size, 63u);
}

TEST(DataReport, OtherReportsAndTruncatedOnesAreHandledSafely) {
  uint8_t report[kMaxReportSize] = {};
  report[0] = 0x00;
  EXPECT_EQ(DataOf(report, sizeof report).size, 0u);
  report[0] = 0x40;
  EXPECT_EQ(DataOf(report, sizeof report).size, 0u);
  report[0] = 0x41;
  EXPECT_EQ(DataOf(report, sizeof report).size, 0u);
  // A report cut short yields only the bytes that are there.
  report[0] = 63;
  EXPECT_EQ(DataOf(report, 11).size, 10u);
  EXPECT_EQ(DataOf(report, 1).size, 0u);
  EXPECT_EQ(DataOf(nullptr, 0).size, 0u);
}

}  // namespace
}  // namespace hidbridge
