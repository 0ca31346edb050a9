// Checks ReportBlock against a model of its output written without looking at
// how the report is built: the serial string shown safely, every byte in hex,
// the last eight bytes as a big-endian value and bits 16 to 47 of that value
// as a ten-digit decimal.
//
// Input: two bytes give the serial string's length (little-endian, up to
// 399), then the serial string's bytes, then the block itself (its first 1000
// bytes; an input without block bytes is skipped).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "block_report.h"

namespace {

constexpr std::size_t kLongestBlock = 1000;
// The longest serial string shown: a device string of 260 bytes with its NUL.
constexpr std::size_t kLongestSerial = 259;

int capturedOutput = -1;

const char kDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& text, unsigned byte) {
  text += kDigits[(byte >> 4) & 0xF];
  text += kDigits[byte & 0xF];
}

std::string SafeSerial(const std::string& serial) {
  std::string shown;
  for (std::size_t i = 0; i < serial.size() && i < kLongestSerial && serial[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(serial[i]);
    if (byte <= 0x1F || byte == 0x7F) {
      shown += "\\x";
      AppendHexByte(shown, byte);
    } else {
      shown += serial[i];
    }
  }
  return shown;
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

std::string ExpectedReport(const std::string& serial, const std::vector<std::uint8_t>& block) {
  std::string report =
      ">>>[DATA FROM " + SafeSerial(serial) + ", " + Decimal(block.size(), 1) + " BYTE]\n  0x";
  for (const std::uint8_t byte : block) AppendHexByte(report, byte);
  report += "\n  HEX (64-bit): ";

  // The value as eight bytes, most significant first: the block's last eight
  // bytes, right-aligned, zeros in front of a shorter block.
  std::uint8_t valueBytes[8] = {};
  const std::size_t kept = block.size() < 8 ? block.size() : 8;
  for (std::size_t i = 0; i < kept; ++i) {
    valueBytes[8 - kept + i] = block[block.size() - kept + i];
  }
  for (const std::uint8_t byte : valueBytes) AppendHexByte(report, byte);

  // Bits 16 to 47 are value bytes 2 to 5, counted from the most significant.
  std::uint64_t bits16to47 = 0;
  for (std::size_t i = 2; i <= 5; ++i) bits16to47 = bits16to47 * 256 + valueBytes[i];
  report += "\n  Decimal (10 Digits): " + Decimal(bits16to47, 10) + "\n<<<\n";
  return report;
}

std::string DrainCapturedOutput() {
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(capturedOutput, chunk, sizeof chunk);
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Standard output becomes a pipe that this process reads back after every
  // report. A report is far smaller than the pipe's capacity, so the write
  // never blocks; the report's own flush is what puts it into the pipe.
  int ends[2];
  if (pipe(ends) != 0 || dup2(ends[1], STDOUT_FILENO) < 0 ||
      fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
    std::perror("capturing standard output");
    std::abort();
  }
  close(ends[1]);
  capturedOutput = ends[0];
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t serialLength = (data[0] | static_cast<std::size_t>(data[1]) << 8) % 400;
  if (size - 2 <= serialLength) return 0;
  const std::string serial(reinterpret_cast<const char*>(data + 2), serialLength);
  const std::uint8_t* blockStart = data + 2 + serialLength;
  std::size_t blockSize = size - 2 - serialLength;
  if (blockSize > kLongestBlock) blockSize = kLongestBlock;
  const std::vector<std::uint8_t> block(blockStart, blockStart + blockSize);

  ReportBlock(serial.c_str(), block.data(), static_cast<int>(block.size()));
  const std::string printed = DrainCapturedOutput();
  const std::string expected = ExpectedReport(serial, block);
  if (printed != expected) {
    std::fprintf(stderr, "block report differs from the model\n--- printed:\n%s--- expected:\n%s",
                 printed.c_str(), expected.c_str());
    std::abort();
  }
  return 0;
}
