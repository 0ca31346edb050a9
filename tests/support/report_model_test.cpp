// SPDX-License-Identifier: Apache-2.0
// Every test tool judges the program's output with this reader and model:
// they must accept exactly the right reports and name the first wrong line.
#include "report_model.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

struct Verdict {
  bool ok;
  std::string problem;
  std::uint64_t reports;
  std::uint64_t bytes;
};

// The output fed in pieces of a few bytes, as a pipe may hand it over.
Verdict Check(const std::string& output, const std::vector<std::uint8_t>& sent = kSent) {
  std::size_t next = 0;
  reports::SentBytesCheck check(
      "S1", [&] { return next < sent.size() ? sent[next++] : std::uint8_t{0}; }, sent.size());
  for (std::size_t at = 0; at < output.size(); at += 7) check.Feed(output.substr(at, 7));
  const std::string problem = check.Finish();
  return {problem.empty(), problem, check.Reports(), check.Bytes()};
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(ReportModel, GivesTheReportsAsWrittenOutByHand) {
  std::string modelled;
  modelled += reports::Report("S1", {kSent.begin(), kSent.begin() + 5});
  modelled += reports::Report("S1", {kSent.begin() + 5, kSent.begin() + 15});
  modelled += reports::Report("S1", {kSent.begin() + 15, kSent.end()});
  EXPECT_EQ(modelled, kReports);
}

TEST(ReportModel, ShowsDeviceStringsAsTheProgramPrintsThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"SER-1", "SER-1"},
      {std::string("A\x01\x1F\x7F\x80 ", 7), "A\\x01\\x1F\\x7F\x80 "},
      {std::string("AB\0CD", 5), "AB"},
      {std::string(300, 'x'), std::string(259, 'x')},
  };
  for (const auto& [raw, shown] : cases) EXPECT_EQ(reports::Shown(raw), shown) << raw;
}

TEST(ReportCheck, AcceptsTheExactReportsAndCountsThem) {
  const Verdict result = Check(kReports);
  EXPECT_TRUE(result.ok) << result.problem;
  EXPECT_EQ(result.reports, 3U);
  EXPECT_EQ(result.bytes, kSent.size());
}

TEST(ReportCheck, AcceptsAnyCuttingIntoBlocks) {
  const std::vector<std::uint8_t> sent = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xFF, 0x80, 0x80, 0x80};
  const std::string output =
      ">>>[DATA FROM S1, 8 BYTE]\n  0xFFFFFFFFFFFFFFFF\n  HEX (64-bit): FFFFFFFFFFFFFFFF\n"
      "  Decimal (10 Digits): 4294967295\n<<<\n"
      ">>>[DATA FROM S1, 3 BYTE]\n  0x808080\n  HEX (64-bit): 0000000000808080\n"
      "  Decimal (10 Digits): 0000000128\n<<<\n";
  const Verdict result = Check(output, sent);
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
  for (const auto& [output, line] : faults) {
    const Verdict result = Check(output);
    EXPECT_FALSE(result.ok) << output;
    EXPECT_EQ(result.problem.rfind(line, 0), 0U) << result.problem << "\nin\n" << output;
  }
}

TEST(ReportCheck, RejectsBytesLeftOverOnEitherSide) {
  std::vector<std::uint8_t> more = kSent;
  more.push_back(0x00);
  EXPECT_FALSE(Check(kReports, more).ok);

  const std::vector<std::uint8_t> fewer(kSent.begin(), kSent.end() - 1);
  const Verdict result = Check(kReports, fewer);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.problem.rfind("line 11:", 0), 0U) << result.problem;

  EXPECT_FALSE(Check("", kSent).ok);
  EXPECT_TRUE(Check("", {}).ok);
}

TEST(ReportCheck, RejectsBlocksBeyondOneRead) {
  const std::vector<std::uint8_t> sent(1001, 0x00);
  const std::string output = ">>>[DATA FROM S1, 1001 BYTE]\n  0x" + std::string(2002, '0') +
                             "\n  HEX (64-bit): 0000000000000000\n"
                             "  Decimal (10 Digits): 0000000000\n<<<\n";
  EXPECT_FALSE(Check(output, sent).ok);
}

// The reports of a whole run among its other lines, from several bridges,
// serial strings with the header's own separator in them included.
TEST(ParseReports, SortsReportsFromOtherLinesAndStopsAtTheFirstFault) {
  const std::string run = "Connected to A, 2\n" + reports::Report("A, 2", {0x01, 0x02}) +
                          "Connected to B\n" + reports::Report("B", {0xFF}) +
                          reports::Report("A, 2", {0x03});
  std::vector<reports::Block> blocks;
  std::vector<std::string> other;
  ASSERT_EQ(reports::ParseReports(run, &blocks, &other), "");
  EXPECT_EQ(other, (std::vector<std::string>{"Connected to A, 2", "Connected to B"}));
  EXPECT_EQ(reports::BytesFrom(blocks, "A, 2"), (std::vector<std::uint8_t>{0x01, 0x02, 0x03}));
  EXPECT_EQ(reports::BytesFrom(blocks, "B"), (std::vector<std::uint8_t>{0xFF}));

  const std::pair<std::string, std::string> broken[] = {
      {run.substr(0, run.size() - 4), "line 17: the output ends in the middle of a report"},
      {run.substr(0, run.size() - 1), "line 17: the output ends in the middle of a line"},
      {Replaced(run, "0000000000000102", "0000000000000201"), "line 4: wrong 64-bit line"},
  };
  for (const auto& [output, problem] : broken) {
    blocks.clear();
    other.clear();
    EXPECT_EQ(reports::ParseReports(output, &blocks, &other).rfind(problem, 0), 0U) << output;
  }
}

}  // namespace
