// SPDX-License-Identifier: Apache-2.0
// Tags on lines timed like a UART, measured from outside the program:
//   kestrune_tag_bench PROGRAM BRIDGES SECONDS MIN_MS MAX_MS [ARGUMENT...]
// writes a scenario of BRIDGES simulated bridges whose readers send 5-byte
// tags, a byte every character time at 9600 baud 8N1, the first bytes of
// consecutive tags MIN_MS to MAX_MS apart (drawn from a seed per bridge),
// runs PROGRAM ARGUMENT... on it with its output through a pipe, and stamps
// every line as it arrives. Over SECONDS, after a second of settling, it
// prints:
//   - the share of tags reported whole: one block of exactly the tag's bytes;
//   - the CPU time of the program's process (the simulated library included);
//   - for whole tags, the delay from the tag's last byte on the line to the
//     arrival of its report: median, 99th percentile, worst;
//   - first, what one timed wait of 1 ms costs the machine in CPU, since a
//     read that waits out its time-out costs at least that.
// Every reported byte is checked against the bytes sent, in order; a run
// whose bytes differ says so and exits 1.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "character_time.h"
#include "scenario.h"
#include "tags.h"
#include "watched_program.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr sim::Nanos kTagStart = 200'000'000;  // after a bridge's open
constexpr std::uint32_t kTagBytes = 5;

// A time as the scenario format writes it: seconds, to the nanosecond.
std::string Seconds(sim::Nanos nanos) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%09lld",
                static_cast<long long>(nanos / sim::kNanosPerSecond),
                static_cast<long long>(nanos % sim::kNanosPerSecond));
  return text;
}

// What one timed wait of 1 ms costs this machine's scheduler, in CPU
// microseconds: the floor under every read that waits out a short time-out.
double WaitCostMicros() {
  timespec before{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
  constexpr int kWaits = 1000;
  for (int i = 0; i < kWaits; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  timespec after{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
  const double nanos = static_cast<double>(after.tv_sec - before.tv_sec) * 1e9 +
                       static_cast<double>(after.tv_nsec - before.tv_nsec);
  return nanos / kWaits / 1000.0;
}

std::vector<std::uint8_t> HexBytes(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// What one bridge sent, and how its reports matched it.
struct Bridge {
  std::vector<sim::Frame> tags;
  std::vector<double> lastByteAt;  // seconds after the open
  Clock::time_point connectedAt{};
  bool connected = false;
  size_t tag = 0;     // the tag the next reported byte belongs to
  size_t offset = 0;  // of that byte within the tag
  bool corrupt = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: kestrune_tag_bench PROGRAM BRIDGES SECONDS MIN_MS MAX_MS [ARGUMENT...]\n");
    return 2;
  }
  const std::string program = argv[1];
  const int bridgeCount = std::atoi(argv[2]);
  const int seconds = std::atoi(argv[3]);
  const sim::Nanos minSpacing = std::atoll(argv[4]) * 1'000'000;
  const sim::Nanos maxSpacing = std::atoll(argv[5]) * 1'000'000;
  std::vector<std::string> arguments;
  std::string shownArguments;
  for (int i = 6; i < argc; ++i) {
    arguments.emplace_back(argv[i]);
    shownArguments += std::string(" ") + argv[i];
  }
  if (bridgeCount < 1 || seconds < 1 || minSpacing <= 0 || maxSpacing < minSpacing) return 2;

  std::printf("a 1 ms timed wait costs %.1f us of CPU on this machine\n", WaitCostMicros());
  std::fflush(stdout);

  // Enough tags to outlast the run.
  const auto count =
      static_cast<std::uint32_t>((seconds + 5) * sim::kNanosPerSecond / minSpacing) + 1;
  const sim::CharTime characterTime =
      sim::UartCharTime({9600, HID_UART_EIGHT_DATA_BITS, HID_UART_NO_PARITY,
                         HID_UART_SHORT_STOP_BIT, HID_UART_NO_FLOW_CONTROL});
  std::vector<Bridge> bridges(static_cast<size_t>(bridgeCount));
  std::ostringstream scenario;
  {
    for (int i = 0; i < bridgeCount; ++i) {
      const auto seed = static_cast<std::uint32_t>(i + 1);
      scenario << "bridge \"B" << i << "\"\n  tags at " << Seconds(kTagStart) << " count " << count
               << " bytes " << kTagBytes << " spacing " << Seconds(minSpacing) << " "
               << Seconds(maxSpacing) << " seed " << seed << "\n";
      Bridge& bridge = bridges[static_cast<size_t>(i)];
      const sim::TagSeries series{kTagStart, count, kTagBytes, minSpacing, maxSpacing, seed};
      bridge.tags = sim::TagFrames(series, characterTime);
      for (const sim::Frame& tag : bridge.tags) {
        const sim::Nanos last = tag.at + sim::Offset(characterTime, tag.bytes.size() - 1);
        bridge.lastByteAt.push_back(static_cast<double>(last) / 1e9);
      }
    }
  }
  bench::WatchedProgram watched = bench::StartOnScenario(program, arguments, scenario.str());
  if (watched.output == nullptr) return 1;
  const pid_t pid = watched.pid;
  FILE* output = watched.output;

  const Clock::time_point start = Clock::now();
  const Clock::time_point settled = start + std::chrono::seconds(1);
  const Clock::time_point end = settled + std::chrono::seconds(seconds);

  // A tag counts when its last byte was due inside the window, and it was
  // whole when its report came as one block of exactly its bytes.
  std::vector<double> delaysMs;
  long long counted = 0;
  long long whole = 0;
  std::thread reader([&] {
    char line[4096];
    std::string header;
    while (std::fgets(line, sizeof line, output) != nullptr) {
      const Clock::time_point now = Clock::now();
      const std::string text = line;
      if (text.rfind("Connected to B", 0) == 0) {
        Bridge& bridge = bridges[std::stoul(text.substr(14))];
        bridge.connectedAt = now;
        bridge.connected = true;
        continue;
      }
      if (text.rfind(">>>[DATA FROM B", 0) == 0) {
        header = text;
        continue;
      }
      if (header.empty() || text.rfind("  0x", 0) != 0) continue;
      Bridge& bridge = bridges[std::stoul(header.substr(15))];
      header.clear();
      const std::vector<std::uint8_t> bytes = HexBytes(text.substr(4, text.size() - 5));
      // The block is whole when it starts a tag and ends with it.
      const bool starts = bridge.offset == 0;
      const size_t first = bridge.tag;
      for (std::uint8_t byte : bytes) {
        if (bridge.tag >= bridge.tags.size() ||
            bridge.tags[bridge.tag].bytes[bridge.offset] != byte) {
          bridge.corrupt = true;
          break;
        }
        if (++bridge.offset == bridge.tags[bridge.tag].bytes.size()) {
          bridge.offset = 0;
          ++bridge.tag;
        }
      }
      const double at = std::chrono::duration<double>(now - bridge.connectedAt).count();
      for (size_t t = first; t < bridge.tag; ++t) {
        const Clock::time_point due =
            bridge.connectedAt + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(bridge.lastByteAt[t]));
        if (due < settled || due >= end) continue;
        ++counted;
        if (starts && bridge.offset == 0 && bridge.tag == first + 1) {
          ++whole;
          delaysMs.push_back((at - bridge.lastByteAt[t]) * 1000.0);
        }
      }
    }
  });

  std::this_thread::sleep_until(settled);
  const long long cpuAtSettle = bench::CpuNanos(pid);
  std::this_thread::sleep_until(end);
  const long long cpuAtEnd = bench::CpuNanos(pid);
  // Reports of the last tags still on their way.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  bench::Stop(watched);
  reader.join();
  std::fclose(output);

  bool corrupt = false;
  for (const Bridge& bridge : bridges) corrupt = corrupt || bridge.corrupt;
  const double cpuMs = static_cast<double>(cpuAtEnd - cpuAtSettle) / 1e6;
  std::printf(
      "%d bridge(s), tags %.0f to %.0f ms apart, %d s,%s: %lld tags, %.1f %% whole; CPU %.1f ms/s "
      "(%.2f %% of one core); delay from a whole tag's last byte to its report: median %.1f ms, "
      "99th percentile %.1f ms, worst %.1f ms%s\n",
      bridgeCount, static_cast<double>(minSpacing) / 1e6, static_cast<double>(maxSpacing) / 1e6,
      seconds, shownArguments.empty() ? " no arguments" : shownArguments.c_str(), counted,
      counted == 0 ? 0.0 : 100.0 * static_cast<double>(whole) / static_cast<double>(counted),
      cpuMs / seconds, cpuMs / seconds / 10.0, bench::Percentile(delaysMs, 0.5),
      bench::Percentile(delaysMs, 0.99), bench::Percentile(delaysMs, 1.0),
      corrupt ? "; BYTES DIFFER FROM THOSE SENT" : "");
  return corrupt ? 1 : 0;
}
