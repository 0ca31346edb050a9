// The pipeline benchmark counts a run only when this checker accepts its
// output, so the checker must accept exactly the right reports.
#include "report_check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "stream.h"

namespace {

// The bytes 12 34 56 78 9A, then 01 .. 0A, then AB, and their reports as
// the program must print them, written out by hand.
const std::vector<std::uint8_t> kSent = {0x12, 0x34, 0x56, 0x78, 0x9A, 0x01, 0x02, 0x03,
                                         0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0xAB};
const std::string kReports =
    ">>>[DATA FROM S1, 5 BYTE]\n"
    "  0x123456789A\n"
    "  HEX (64-bit): 000000123456789A\n"
    "  Decimal (10 Digits): 0001193046\n"
    "<<<\n"
    ">>>[DATA FROM S1, 10 BYTE]\n"
    "  0x0102030405060708090A\n"
    "  HEX (64-bit): 030405060708090A\n"
    "  Decimal (10 Digits): 0084281096\n"
    "<<<\n"
    ">>>[DATA FROM S1, 1 BYTE]\n"
    "  0xAB\n"
    "  HEX (64-bit): 00000000000000AB\n"
    "  Decimal (10 Digits): 0000000000\n"
    "<<<\n";

bench::CheckResult Check(const std::string& reports,
                         const std::vector<std::uint8_t>& sent = kSent) {
  std::istringstream in(reports);
  return bench::CheckReports(in, "S1", sent);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(ReportCheck, AcceptsTheExactReportsAndCountsThem) {
  const bench::CheckResult result = Check(kReports);
  EXPECT_TRUE(result.ok) << result.problem;
  EXPECT_EQ(result.reports, 3U);
  EXPECT_EQ(result.bytes, kSent.size());
}

TEST(ReportCheck, AcceptsAnyCuttingIntoBlocks) {
  const std::vector<std::uint8_t> sent = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0x80, 0x80, 0x80};
  const std::string reports =
      ">>>[DATA FROM S1, 8 BYTE]\n  0xFFFFFFFFFFFFFFFF\n  HEX (64-bit): FFFFFFFFFFFFFFFF\n"
      "  Decimal (10 Digits): 4294967295\n<<<\n"
      ">>>[DATA FROM S1, 3 BYTE]\n  0x808080\n  HEX (64-bit): 0000000000808080\n"
      "  Decimal (10 Digits): 0000000128\n<<<\n";
  const bench::CheckResult result = Check(reports, sent);
  EXPECT_TRUE(result.ok) << result.problem;
}

TEST(ReportCheck, RejectsEveryWrongLineAndNamesIt) {
  const std::vector<std::pair<std::string, std::string>> faults = {
      // {what is changed, the line the problem must name}
      {Replaced(kReports, "S1, 5", "S2, 5"), "line 1:"},
      {Replaced(kReports, "5 BYTE", "6 BYTE"), "line 2:"},
      {Replaced(kReports, "5 BYTE", "05 BYTE"), "line 1:"},
      {Replaced(kReports, "1 BYTE", "0 BYTE"), "line 11:"},
      {Replaced(kReports, "1 BYTE]", "1 BYTES]"), "line 11:"},
      {Replaced(kReports, "0x123456789A", "0x123456789a"), "line 2:"},
      {Replaced(kReports, "0x123456789A", "0x1234567899"), "line 2:"},
      {Replaced(kReports, "0x123456789A", "0x12 34 56 78 9A"), "line 2:"},
      {Replaced(kReports, "): 030405060708090A", "): 010203040506070809"), "line 8:"},
      {Replaced(kReports, "): 030405060708090A", "): 0102030405060708"), "line 8:"},
      {Replaced(kReports, "0084281096", "84281096"), "line 9:"},
      {Replaced(kReports, "0001193046", "0001193047"), "line 4:"},
      {Replaced(kReports, "<<<\n>>>[DATA FROM S1, 10", ">>>[DATA FROM S1, 10"), "line 5:"},
      {Replaced(kReports, "  0xAB\n", "  0xAB\r\n"), "line 12:"},
      {kReports + "\n", "line 16:"},
      {kReports.substr(0, kReports.size() - 1), "line 15:"},
  };
  for (const auto& [reports, line] : faults) {
    const bench::CheckResult result = Check(reports);
    EXPECT_FALSE(result.ok) << reports;
    EXPECT_EQ(result.problem.rfind(line, 0), 0U) << result.problem << "\nin\n" << reports;
  }
}

TEST(ReportCheck, RejectsBytesLeftOverOnEitherSide) {
  std::vector<std::uint8_t> more = kSent;
  more.push_back(0x00);
  EXPECT_FALSE(Check(kReports, more).ok);

  const std::vector<std::uint8_t> fewer(kSent.begin(), kSent.end() - 1);
  const bench::CheckResult result = Check(kReports, fewer);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.problem.rfind("line 11:", 0), 0U) << result.problem;

  EXPECT_FALSE(Check("", kSent).ok);
  EXPECT_TRUE(Check("", {}).ok);
}

TEST(ReportCheck, RejectsBlocksBeyondOneRead) {
  const std::vector<std::uint8_t> sent(1001, 0x00);
  const std::string reports = ">>>[DATA FROM S1, 1001 BYTE]\n  0x" + std::string(2002, '0') +
                              "\n  HEX (64-bit): 0000000000000000\n"
                              "  Decimal (10 Digits): 0000000000\n<<<\n";
  EXPECT_FALSE(Check(reports, sent).ok);
}

// The stream file is written by the checker's own generator; it must be the
// stream the simulated bridge sends, or every pipeline run would fail.
TEST(XorShiftBytes, IsTheSimulatedBridgesStream) {
  EXPECT_EQ(bench::XorShiftBytes(7, 8),
            (std::vector<std::uint8_t>{0xE7, 0x07, 0x43, 0x45, 0xFF, 0x94, 0xBA, 0x57}));
  for (const std::uint32_t seed : {1U, 7U, 0xFFFFFFFFU}) {
    EXPECT_EQ(bench::XorShiftBytes(seed, 100000), sim::StreamBytes(seed, 100000)) << seed;
  }
}

}  // namespace
