#include "report_check.h"

#include <algorithm>

namespace bench {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr std::size_t kMaxBlock = 1000;

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  text.reserve(2 * count);
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] / 16];
    text += kDigits[bytes[i] % 16];
  }
  return text;
}

// Leading zeros up to `width` digits in base `base`.
std::string Padded(std::uint64_t value, unsigned base, std::size_t width) {
  std::string text(width, '0');
  for (std::size_t i = width; i-- > 0 && value != 0; value /= base) {
    text[i] = kDigits[value % base];
  }
  return text;
}

// A canonical positive decimal (as %d prints it), or 0 for anything else.
std::size_t Count(std::string_view text) {
  if (text.empty() || text.size() > 4 || text[0] == '0') return 0;
  std::size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

std::string Shown(std::string_view line) {
  constexpr std::size_t kShown = 60;
  return "\"" + std::string(line.substr(0, kShown)) + (line.size() > kShown ? "...\"" : "\"");
}

}  // namespace

std::vector<std::uint8_t> XorShiftBytes(std::uint32_t seed, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::uint32_t state = seed;
  for (std::uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state);
  }
  return bytes;
}

CheckResult CheckReports(std::istream& reports, std::string_view serial,
                         const std::vector<std::uint8_t>& sent, std::uint64_t firstLine) {
  CheckResult result;
  std::uint64_t lineNumber = firstLine - 1;
  std::string line;
  const auto fail = [&](const std::string& what) {
    result.problem = "line " + std::to_string(lineNumber) + ": " + what;
    return result;
  };
  bool unterminated = false;
  const auto next = [&]() {
    if (!std::getline(reports, line)) return false;
    ++lineNumber;
    // getline also hands over a last line that has no line end.
    unterminated = reports.eof();
    return true;
  };
  const auto expectLine = [&](const std::string& expected, const char* what) {
    if (!next()) {
      ++lineNumber;
      return std::string("missing ") + what;
    }
    if (line != expected) return std::string("wrong ") + what + " " + Shown(line);
    return std::string();
  };

  const std::string headerStart = ">>>[DATA FROM " + std::string(serial) + ", ";
  const std::string headerEnd = " BYTE]";
  std::size_t position = 0;
  while (next()) {
    if (line.size() < headerStart.size() + headerEnd.size() ||
        line.compare(0, headerStart.size(), headerStart) != 0 ||
        line.compare(line.size() - headerEnd.size(), headerEnd.size(), headerEnd) != 0) {
      return fail("not a report header " + Shown(line));
    }
    const std::size_t count = Count(std::string_view(line).substr(
        headerStart.size(), line.size() - headerStart.size() - headerEnd.size()));
    if (count == 0 || count > kMaxBlock) return fail("bad byte count " + Shown(line));
    if (count > sent.size() - position) {
      return fail("report of " + std::to_string(count) + " bytes where " +
                  std::to_string(sent.size() - position) + " were left to report");
    }

    const std::uint8_t* block = sent.data() + position;
    std::string problem = expectLine("  0x" + Hex(block, count), "hex line");
    if (!problem.empty()) return fail(problem);

    // The last eight bytes of the block, big-endian; fewer are zero-padded.
    std::uint64_t value = 0;
    for (std::size_t i = count - std::min<std::size_t>(count, 8); i < count; ++i) {
      value = value * 256 + block[i];
    }
    problem = expectLine("  HEX (64-bit): " + Padded(value, 16, 16), "64-bit line");
    if (!problem.empty()) return fail(problem);
    const std::uint64_t decimal = (value / 65536) % (std::uint64_t{1} << 32);
    problem = expectLine("  Decimal (10 Digits): " + Padded(decimal, 10, 10), "decimal line");
    if (!problem.empty()) return fail(problem);
    problem = expectLine("<<<", "closing line");
    if (!problem.empty()) return fail(problem);

    position += count;
    ++result.reports;
    result.bytes += count;
  }
  if (unterminated) return fail("the last line has no line end");
  if (position != sent.size()) {
    ++lineNumber;
    return fail(std::to_string(sent.size() - position) + " bytes sent but never reported");
  }
  result.ok = true;
  return result;
}

}  // namespace bench
