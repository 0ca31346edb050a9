// SPDX-License-Identifier: Apache-2.0
// The stream writer and output checker of the pipeline benchmark:
//   kestrune_bench_tool stream SEED COUNT FILE
//       writes the first COUNT bytes of the simulated stream with SEED to FILE
//   kestrune_bench_tool check SERIAL STREAM_FILE REPORTS_FILE SKIP
//       skips SKIP lines of REPORTS_FILE, then checks that the rest are the
//       block reports of the bytes in STREAM_FILE from the bridge SERIAL
//   kestrune_bench_tool check-json SERIAL STREAM_FILE OUTPUT_FILE SKIP
//       the same for the program's JSON lines (--json): after SKIP lines,
//       one "block" line per report, each field worked out here
//   kestrune_bench_tool tags SEED COUNT BYTES MIN MAX
//       prints the tags of the scenario line
//       "tags at 0 count COUNT bytes BYTES spacing MIN MAX seed SEED" on a
//       line run at 9600 baud, 8N1: one line per tag, the time of its first
//       byte in seconds and its bytes in hex
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "character_time.h"
#include "report_model.h"
#include "scenario_reader.h"
#include "stream.h"
#include "tags.h"

namespace {

int Usage() {
  std::cerr << "usage: kestrune_bench_tool stream SEED COUNT FILE\n"
               "       kestrune_bench_tool check SERIAL STREAM_FILE REPORTS_FILE SKIP\n"
               "       kestrune_bench_tool check-json SERIAL STREAM_FILE OUTPUT_FILE SKIP\n"
               "       kestrune_bench_tool tags SEED COUNT BYTES MIN MAX\n";
  return 2;
}

bool ParseNumber(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 19) {
    return false;
  }
  value = std::stoull(text);
  return value <= limit;
}

int WriteStream(const std::string& seedText, const std::string& countText,
                const std::string& path) {
  std::uint64_t seed = 0;
  std::uint64_t count = 0;
  if (!ParseNumber(seedText, std::numeric_limits<std::uint32_t>::max(), seed) || seed == 0 ||
      !ParseNumber(countText, std::numeric_limits<std::uint32_t>::max(), count)) {
    std::cerr << "kestrune_bench_tool: SEED must be 1 to 2^32-1, COUNT 0 to 2^32-1\n";
    return 2;
  }
  const std::vector<std::uint8_t> bytes =
      sim::StreamBytes(static_cast<std::uint32_t>(seed), static_cast<std::size_t>(count));
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
  if (!out.flush()) {
    std::cerr << "kestrune_bench_tool: cannot write " << path << "\n";
    return 1;
  }
  return 0;
}

int Check(const std::string& serial, const std::string& streamPath, const std::string& reportsPath,
          const std::string& skipText) {
  std::uint64_t skip = 0;
  if (!ParseNumber(skipText, std::numeric_limits<std::uint32_t>::max(), skip)) return Usage();
  std::ifstream streamFile(streamPath, std::ios::binary);
  std::ifstream output(reportsPath, std::ios::binary);
  if (!streamFile || !output) {
    std::cerr << "kestrune_bench_tool: cannot read " << (streamFile ? reportsPath : streamPath)
              << "\n";
    return 1;
  }
  const std::vector<std::uint8_t> sent{std::istreambuf_iterator<char>(streamFile),
                                       std::istreambuf_iterator<char>()};
  std::string line;
  for (std::uint64_t i = 0; i < skip; ++i) {
    if (!std::getline(output, line)) {
      std::cerr << reportsPath << ": fewer than " << skip << " lines\n";
      return 1;
    }
  }
  std::size_t next = 0;
  reports::SentBytesCheck check(
      serial, [&] { return sent[next++]; }, sent.size(), skip + 1);
  std::vector<char> chunk(1 << 16);
  while (output.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) ||
         output.gcount() > 0) {
    check.Feed(std::string_view(chunk.data(), static_cast<std::size_t>(output.gcount())));
  }
  const std::string problem = check.Finish();
  if (!problem.empty()) {
    std::cerr << reportsPath << ": " << problem << "\n";
    return 1;
  }
  std::cout << check.Reports() << " reports, " << check.Bytes() << " bytes: as sent\n";
  return 0;
}

// Whether text is a local time as the program writes it,
// 2025-03-01T14:05:09.372+01:00.
bool IsTime(std::string_view text) {
  static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:dd.ddd+dd:dd";
  if (text.size() != kForm.size()) return false;
  for (std::size_t i = 0; i < kForm.size(); ++i) {
    const char c = text[i];
    const bool fits = kForm[i] == 'd'   ? (c >= '0' && c <= '9')
                      : kForm[i] == '+' ? (c == '+' || c == '-')
                                        : c == kForm[i];
    if (!fits) return false;
  }
  return true;
}

// The line a block of the stream must be, after its time.
std::string BlockLineAfterTime(const std::string& serial, const std::uint8_t* bytes,
                               std::size_t count) {
  std::string line =
      "\",\"serial\":\"" + serial + "\",\"count\":" + std::to_string(count) + ",\"hex\":\"";
  char text[24];
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(bytes[i]));
    line += text;
  }
  for (std::size_t i = count > 8 ? count - 8 : 0; i < count; ++i) {
    value = value * 256 + bytes[i];
  }
  std::snprintf(text, sizeof text, "%016" PRIX64, value);
  line += "\",\"value\":\"" + std::string(text);
  std::snprintf(text, sizeof text, "%010" PRIu64, (value / 65536) % 4294967296u);
  line += "\",\"decimal\":\"" + std::string(text) + "\"}";
  return line;
}

int CheckJson(const std::string& serial, const std::string& streamPath,
              const std::string& outputPath, const std::string& skipText) {
  std::uint64_t skip = 0;
  if (!ParseNumber(skipText, std::numeric_limits<std::uint32_t>::max(), skip)) return Usage();
  std::ifstream streamFile(streamPath, std::ios::binary);
  std::ifstream output(outputPath, std::ios::binary);
  if (!streamFile || !output) {
    std::cerr << "kestrune_bench_tool: cannot read " << (streamFile ? outputPath : streamPath)
              << "\n";
    return 1;
  }
  const std::vector<std::uint8_t> sent{std::istreambuf_iterator<char>(streamFile),
                                       std::istreambuf_iterator<char>()};
  const std::string start = "{\"event\":\"block\",\"time\":\"";
  std::string line;
  std::uint64_t number = 0;
  std::uint64_t blocks = 0;
  std::size_t next = 0;
  const auto fail = [&](const char* what) {
    std::cerr << outputPath << ": line " << number << ": " << what << "\n";
    return 1;
  };
  while (std::getline(output, line)) {
    ++number;
    if (output.eof()) return fail("no LF at its end");
    if (number <= skip) continue;
    // The count is the one field read from the line; everything else must
    // then be exactly what those bytes of the stream give.
    const std::size_t countAt = line.find("\"count\":");
    if (line.rfind(start, 0) != 0 || line.size() < start.size() + 29 ||
        !IsTime(std::string_view(line).substr(start.size(), 29)) || countAt == std::string::npos) {
      return fail("not a block line");
    }
    const std::size_t count = std::strtoul(line.c_str() + countAt + 8, nullptr, 10);
    if (count == 0 || count > 1000 || count > sent.size() - next) {
      return fail("a count beyond what is left to send");
    }
    if (line.compare(start.size() + 29, std::string::npos,
                     BlockLineAfterTime(serial, sent.data() + next, count)) != 0) {
      return fail("not the block of the bytes sent next");
    }
    next += count;
    ++blocks;
  }
  if (next != sent.size()) return fail("fewer bytes than were sent");
  std::cout << blocks << " block lines, " << next << " bytes: as sent\n";
  return 0;
}

int PrintTags(const std::vector<std::string>& args) {
  // Read as the scenario line it stands for, so that its limits and its
  // errors are the library's own.
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i].empty() || args[i].find_first_of(" \t\r\n\"#") != std::string::npos) return Usage();
  }
  const std::string line = "tags at 0 count " + args[2] + " bytes " + args[3] + " spacing " +
                           args[4] + " " + args[5] + " seed " + args[1];
  const sim::ParseResult parsed = sim::ParseScenario("bridge \"T\"\n" + line, "tags");
  if (!parsed.scenario) {
    std::cerr << "kestrune_bench_tool: " << parsed.error << "\n";
    return 2;
  }
  const sim::CharTime c = sim::UartCharTime(
      {9600, HID_UART_EIGHT_DATA_BITS, HID_UART_NO_PARITY, HID_UART_SHORT_STOP_BIT, 0});
  std::string out;
  char text[32];
  for (const sim::Frame& tag : sim::TagFrames(parsed.scenario->bridges[0].tags[0], c)) {
    std::snprintf(text, sizeof text, "%" PRId64 ".%09" PRId64 " ", tag.at / sim::kNanosPerSecond,
                  tag.at % sim::kNanosPerSecond);
    out += text;
    for (const std::uint8_t byte : tag.bytes) {
      std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(byte));
      out += text;
    }
    out += '\n';
  }
  std::cout << out;
  if (!std::cout.flush()) return 1;
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "stream") return WriteStream(args[1], args[2], args[3]);
  if (args.size() == 5 && args[0] == "check") return Check(args[1], args[2], args[3], args[4]);
  if (args.size() == 5 && args[0] == "check-json") {
    return CheckJson(args[1], args[2], args[3], args[4]);
  }
  if (args.size() == 6 && args[0] == "tags") return PrintTags(args);
  return Usage();
}
