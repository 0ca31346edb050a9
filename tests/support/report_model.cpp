// SPDX-License-Identifier: Apache-2.0
#include "report_model.h"

#include <utility>

namespace reports {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
// A device string holds 260 bytes with its NUL.
constexpr std::size_t kLongestShown = 259;
constexpr std::string_view kHeaderStart = ">>>[DATA FROM ";
constexpr std::string_view kHeaderEnd = " BYTE]";
constexpr std::string_view kHexStart = "  0x";

void AppendHexByte(std::string& text, unsigned byte) {
  text += kDigits[(byte >> 4) & 0xF];
  text += kDigits[byte & 0xF];
}

std::string Decimal(std::uint64_t value, std::size_t width) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + value % 10));
    value /= 10;
  } while (value != 0);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The value, decimal and closing lines of a block, without line ends.
std::vector<std::string> TailLines(const std::vector<std::uint8_t>& block) {
  // The value as eight bytes, most significant first: the block's last eight
  // bytes, right-aligned, zeros in front of a shorter block.
  std::uint8_t valueBytes[8] = {};
  const std::size_t kept = block.size() < 8 ? block.size() : 8;
  for (std::size_t i = 0; i < kept; ++i) {
    valueBytes[8 - kept + i] = block[block.size() - kept + i];
  }
  std::string value = "  HEX (64-bit): ";
  for (const std::uint8_t byte : valueBytes) AppendHexByte(value, byte);

  // Bits 16 to 47 are value bytes 2 to 5, counted from the most significant.
  std::uint64_t bits16to47 = 0;
  for (std::size_t i = 2; i <= 5; ++i) bits16to47 = bits16to47 * 256 + valueBytes[i];
  return {value, "  Decimal (10 Digits): " + Decimal(bits16to47, 10), "<<<"};
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

int UpperHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A line quoted for a message, cut if long.
std::string Quoted(std::string_view line) {
  constexpr std::size_t kShown = 60;
  return "\"" + std::string(line.substr(0, kShown)) + (line.size() > kShown ? "...\"" : "\"");
}

// A byte count as %d prints it, 1 to 1000; 0 for anything else.
std::size_t ByteCount(std::string_view text) {
  if (text.empty() || text.size() > 4 || text[0] == '0') return 0;
  std::size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value <= kLargestBlock ? value : 0;
}

}  // namespace

std::string Shown(std::string_view deviceString) {
  std::string shown;
  for (std::size_t i = 0; i < deviceString.size() && i < kLongestShown; ++i) {
    const auto byte = static_cast<unsigned char>(deviceString[i]);
    if (byte == 0) break;
    if (byte <= 0x1F || byte == 0x7F) {
      shown += "\\x";
      AppendHexByte(shown, byte);
    } else {
      shown += deviceString[i];
    }
  }
  return shown;
}

std::string Report(std::string_view shownSerial, const std::vector<std::uint8_t>& bytes) {
  std::string report = std::string(kHeaderStart) + std::string(shownSerial) + ", " +
                       Decimal(bytes.size(), 1) + std::string(kHeaderEnd) + "\n" +
                       std::string(kHexStart);
  for (const std::uint8_t byte : bytes) AppendHexByte(report, byte);
  report += "\n";
  for (const std::string& line : TailLines(bytes)) report += line + "\n";
  return report;
}

void ReportReader::Feed(std::string_view text) {
  while (!text.empty() && fault_.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      partial_.append(text);
      return;
    }
    partial_.append(text.substr(0, end));
    text.remove_prefix(end + 1);
    const std::string problem = Line(partial_);
    if (!problem.empty()) {
      fault_ = "line " + std::to_string(lineNumber_) + ": " + problem;
      return;
    }
    partial_.clear();
    ++lineNumber_;
  }
}

std::string ReportReader::Finish() {
  const std::string at = "line " + std::to_string(lineNumber_) + ": ";
  if (!fault_.empty()) return fault_;
  if (!partial_.empty()) return at + "the output ends in the middle of a line " + Quoted(partial_);
  if (expect_ != Expect::kAnyLine) return at + "the output ends in the middle of a report";
  const std::string problem = OnEnd();
  return problem.empty() ? problem : at + problem;
}

std::string ReportReader::Line(const std::string& line) {
  switch (expect_) {
    case Expect::kAnyLine:
      return StartsWith(line, kHeaderStart) ? HeaderLine(line) : OnOtherLine(line);
    case Expect::kHex:
      return HexLine(line);
    case Expect::kValue:
    case Expect::kDecimal:
    case Expect::kClosing: {
      static const char* const kWhat[] = {"64-bit line", "decimal line", "closing line"};
      const auto index =
          static_cast<std::size_t>(expect_) - static_cast<std::size_t>(Expect::kValue);
      if (line != due_[index]) {
        return std::string("wrong ") + kWhat[index] + " " + Quoted(line) + " where " +
               Quoted(due_[index]) + " was due";
      }
      if (expect_ == Expect::kClosing) {
        ++reports_;
        bytes_ += count_;
        expect_ = Expect::kAnyLine;
      } else {
        expect_ = static_cast<Expect>(static_cast<int>(expect_) + 1);
      }
      return {};
    }
  }
  return {};
}

std::string ReportReader::HeaderLine(const std::string& line) {
  if (line.size() < kHeaderStart.size() + kHeaderEnd.size() ||
      line.compare(line.size() - kHeaderEnd.size(), kHeaderEnd.size(), kHeaderEnd) != 0) {
    return "bad report header " + Quoted(line);
  }
  const std::string body =
      line.substr(kHeaderStart.size(), line.size() - kHeaderStart.size() - kHeaderEnd.size());
  const std::size_t comma = body.rfind(", ");
  const std::size_t count =
      comma == std::string::npos ? 0 : ByteCount(std::string_view(body).substr(comma + 2));
  if (count == 0) return "bad byte count in " + Quoted(line);
  serial_ = body.substr(0, comma);
  count_ = count;
  expect_ = Expect::kHex;
  return OnHeader(serial_, count_);
}

std::string ReportReader::HexLine(const std::string& line) {
  if (!StartsWith(line, kHexStart) || line.size() != kHexStart.size() + 2 * count_) {
    return "the hex line does not hold the header's " + std::to_string(count_) + " bytes " +
           Quoted(line);
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(count_);
  for (std::size_t i = kHexStart.size(); i < line.size(); i += 2) {
    const int high = UpperHexValue(line[i]);
    const int low = UpperHexValue(line[i + 1]);
    if (high < 0 || low < 0) return "not upper-case hex bytes " + Quoted(line);
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  due_ = TailLines(bytes);
  expect_ = Expect::kValue;
  return OnBytes(serial_, bytes);
}

SentBytesCheck::SentBytesCheck(std::string shownSerial, std::function<std::uint8_t()> next,
                               std::uint64_t count, std::uint64_t firstLine)
    : ReportReader(firstLine),
      serial_(std::move(shownSerial)),
      next_(std::move(next)),
      count_(count) {}

std::string SentBytesCheck::OnOtherLine(const std::string& line) {
  return "not a report header " + Quoted(line);
}

std::string SentBytesCheck::OnHeader(const std::string& serial, std::size_t count) {
  if (serial != serial_) return "a report from " + Quoted(serial) + " where " + serial_ + " sent";
  if (count > count_ - checked_) {
    return "a report of " + std::to_string(count) + " bytes where " +
           std::to_string(count_ - checked_) + " were left to report";
  }
  return {};
}

std::string SentBytesCheck::OnBytes(const std::string& /*serial*/,
                                    const std::vector<std::uint8_t>& bytes) {
  for (const std::uint8_t byte : bytes) {
    const std::uint8_t sent = next_();
    if (byte != sent) {
      std::string what = "byte " + std::to_string(checked_) + " of the stream was sent as ";
      AppendHexByte(what, sent);
      what += " but printed as ";
      AppendHexByte(what, byte);
      return what;
    }
    ++checked_;
  }
  return {};
}

std::string SentBytesCheck::OnEnd() {
  if (checked_ == count_) return {};
  return std::to_string(count_ - checked_) + " of the " + std::to_string(count_) +
         " bytes sent were never reported";
}

namespace {

class Collector : public ReportReader {
 public:
  Collector(std::vector<Block>* blocks, std::vector<std::string>* other)
      : blocks_(blocks), other_(other) {}

 private:
  std::string OnOtherLine(const std::string& line) override {
    other_->push_back(line);
    return {};
  }
  std::string OnBytes(const std::string& serial, const std::vector<std::uint8_t>& bytes) override {
    blocks_->push_back({serial, bytes});
    return {};
  }

  std::vector<Block>* blocks_;
  std::vector<std::string>* other_;
};

}  // namespace

std::string ParseReports(const std::string& output, std::vector<Block>* blocks,
                         std::vector<std::string>* other) {
  Collector collector(blocks, other);
  collector.Feed(output);
  return collector.Finish();
}

std::vector<std::uint8_t> BytesFrom(const std::vector<Block>& blocks, const std::string& serial) {
  std::vector<std::uint8_t> bytes;
  for (const Block& block : blocks) {
    if (block.serial == serial) bytes.insert(bytes.end(), block.bytes.begin(), block.bytes.end());
  }
  return bytes;
}

}  // namespace reports
