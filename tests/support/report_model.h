// SPDX-License-Identifier: Apache-2.0
// The block report as the test tools know it: a model of the five lines the
// program must print for a block, and a reader that picks the reports out of
// the program's output and checks each against that model. Nothing here comes
// from the program's own code, so that a fault there cannot hide here too.
#ifndef KESTRUNE_TESTS_SUPPORT_REPORT_MODEL_H
#define KESTRUNE_TESTS_SUPPORT_REPORT_MODEL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace reports {

/// The largest block one read gives.
inline constexpr std::size_t kLargestBlock = 1000;

/// A device string as the program prints it: cut at its NUL or after 259
/// bytes, with bytes 0x01..0x1F and 0x7F as \xNN.
std::string Shown(std::string_view deviceString);

/// The report of a block of 1 to 1000 bytes from the bridge whose serial
/// string prints as shownSerial: five lines, each ending in '\n'.
std::string Report(std::string_view shownSerial, const std::vector<std::uint8_t>& bytes);

/// Follows a program's output as it arrives. A line that starts like a
/// report header opens a report, which must then be whole and agree with the
/// model: a header ">>>[DATA FROM SERIAL, N BYTE]" with N from 1 to 1000 as
/// %d prints it, the N bytes in upper-case hex, and the value, decimal and
/// closing lines of those bytes. What each report carries, and every other
/// line, go to the hooks; the first fault ends the reading.
class ReportReader {
 public:
  explicit ReportReader(std::uint64_t firstLine = 1) : lineNumber_(firstLine) {}
  virtual ~ReportReader() = default;

  /// More output; lines are checked as they complete.
  void Feed(std::string_view text);
  /// The verdict once the output has ended: empty, or "line N: what".
  std::string Finish();

  /// Whole reports read so far, and the bytes they carried.
  std::uint64_t Reports() const { return reports_; }
  std::uint64_t Bytes() const { return bytes_; }

 protected:
  // Each hook returns what is wrong, or an empty string.
  /// A line outside every report.
  virtual std::string OnOtherLine(const std::string& line) = 0;
  /// A report's header, before its bytes are read.
  virtual std::string OnHeader(const std::string& /*serial*/, std::size_t /*count*/) { return {}; }
  /// A report's bytes, as soon as its hex line is read.
  virtual std::string OnBytes(const std::string& /*serial*/,
                              const std::vector<std::uint8_t>& /*bytes*/) {
    return {};
  }
  /// The output has ended with whole lines and no report left open.
  virtual std::string OnEnd() { return {}; }

 private:
  enum class Expect { kAnyLine, kHex, kValue, kDecimal, kClosing };

  std::string Line(const std::string& line);
  std::string HeaderLine(const std::string& line);
  std::string HexLine(const std::string& line);

  std::uint64_t lineNumber_;
  std::string partial_;
  std::string fault_;
  Expect expect_ = Expect::kAnyLine;
  std::string serial_;
  std::size_t count_ = 0;
  std::vector<std::string> due_;  // the value, decimal and closing lines
  std::uint64_t reports_ = 0;
  std::uint64_t bytes_ = 0;
};

/// Accepts nothing but the reports, from one bridge, of `count` bytes drawn
/// in order from `next`, cut into blocks of any size.
class SentBytesCheck : public ReportReader {
 public:
  SentBytesCheck(std::string shownSerial, std::function<std::uint8_t()> next, std::uint64_t count,
                 std::uint64_t firstLine = 1);

 protected:
  std::string OnOtherLine(const std::string& line) override;
  std::string OnHeader(const std::string& serial, std::size_t count) override;
  std::string OnBytes(const std::string& serial, const std::vector<std::uint8_t>& bytes) override;
  std::string OnEnd() override;

 private:
  std::string serial_;
  std::function<std::uint8_t()> next_;
  std::uint64_t count_;
  std::uint64_t checked_ = 0;
};

/// One report as read.
struct Block {
  std::string serial;  // as shown
  std::vector<std::uint8_t> bytes;
};

/// Reads a whole output: the reports go to *blocks, every other line to
/// *other. Returns an empty string, or what is wrong.
std::string ParseReports(const std::string& output, std::vector<Block>* blocks,
                         std::vector<std::string>* other);

/// The bytes of all blocks of one serial string (as shown), in order.
std::vector<std::uint8_t> BytesFrom(const std::vector<Block>& blocks, const std::string& serial);

}  // namespace reports

#endif
