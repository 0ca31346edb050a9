// SPDX-License-Identifier: Apache-2.0
#include "output/block_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct BlockCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* hexLine;
  const char* valueLine;
  const char* decimalLine;
};

std::vector<uint8_t> Sequence(uint8_t first, uint8_t last) {
  std::vector<uint8_t> bytes;
  for (int byte = first; byte <= last; ++byte) {
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return bytes;
}

std::string Report(const char* serial, const std::vector<uint8_t>& bytes) {
  testing::internal::CaptureStdout();
  ReportBlock(serial, bytes.data(), static_cast<int>(bytes.size()));
  return testing::internal::GetCapturedStdout();
}

TEST(BlockReport, PrintsBytesValueAndDecimalForEachBlockShape) {
  const BlockCase cases[] = {
      {"a 5-byte tag",
       {0x12, 0x34, 0x56, 0x78, 0x9A},
       "  0x123456789A",
       "  HEX (64-bit): 000000123456789A",
       "  Decimal (10 Digits): 0001193046"},
      {"one byte",
       {0xAB},
       "  0xAB",
       "  HEX (64-bit): 00000000000000AB",
       "  Decimal (10 Digits): 0000000000"},
      {"two bytes never reach the decimal",
       {0xFF, 0xFF},
       "  0xFFFF",
       "  HEX (64-bit): 000000000000FFFF",
       "  Decimal (10 Digits): 0000000000"},
      {"bytes are unsigned",
       {0x80, 0x80, 0x80},
       "  0x808080",
       "  HEX (64-bit): 0000000000808080",
       "  Decimal (10 Digits): 0000000128"},
      {"eight bytes fill the value", Sequence(1, 8), "  0x0102030405060708",
       "  HEX (64-bit): 0102030405060708", "  Decimal (10 Digits): 0050595078"},
      {"largest decimal", std::vector<uint8_t>(8, 0xFF), "  0xFFFFFFFFFFFFFFFF",
       "  HEX (64-bit): FFFFFFFFFFFFFFFF", "  Decimal (10 Digits): 4294967295"},
      {"longer blocks keep the last eight bytes", Sequence(1, 10), "  0x0102030405060708090A",
       "  HEX (64-bit): 030405060708090A", "  Decimal (10 Digits): 0084281096"},
      {"zero bytes still print every digit",
       {0x00, 0x00, 0x00},
       "  0x000000",
       "  HEX (64-bit): 0000000000000000",
       "  Decimal (10 Digits): 0000000000"},
  };
  for (const BlockCase& c : cases) {
    const std::string expected = ">>>[DATA FROM S1, " + std::to_string(c.bytes.size()) +
                                 " BYTE]\n" + c.hexLine + "\n" + c.valueLine + "\n" +
                                 c.decimalLine + "\n<<<\n";
    EXPECT_EQ(Report("S1", c.bytes), expected) << "case: " << c.name;
  }
}

TEST(BlockReport, AFullReadPrintsEveryByteAndKeepsTheLastEight) {
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  const std::string output = Report("S1", bytes);

  std::string hex;
  char digits[3];
  for (uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", byte);
    hex += digits;
  }
  // Bytes 992..999 are 0x23, 0x2A, ... 0x54 (i * 7 + 3, modulo 256).
  const std::string expected = ">>>[DATA FROM S1, 1000 BYTE]\n  0x" + hex +
                               "\n  HEX (64-bit): 232A31383F464D54\n"
                               "  Decimal (10 Digits): 0825769798\n<<<\n";
  EXPECT_EQ(output, expected);
}

TEST(BlockReport, HeaderShowsControlBytesOfTheSerialEscaped) {
  const std::string output = Report(
      "A\x1B[2J\x7F"
      "B\xC3\xA9",
      {0x01});
  EXPECT_EQ(output.substr(0, output.find('\n')), ">>>[DATA FROM A\\x1B[2J\\x7FB\xC3\xA9, 1 BYTE]");
}

}  // namespace
