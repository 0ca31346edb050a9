// SPDX-License-Identifier: Apache-2.0
// Station mode under load, measured from outside the program:
//   kestrune_station_bench PROGRAM BRIDGES SECONDS [frames|per-byte|quiet [ARGUMENT...]]
// writes a scenario of BRIDGES simulated bridges, each sending 5-byte frames
// back to back at the 9600-baud line rate (960 bytes, 192 frames a second)
// from 0.1 s after its open, runs PROGRAM --watch --frame-gap 0 (or PROGRAM
// ARGUMENT... when given) on it with its output
// through a pipe, and stamps every line as it arrives. It prints the CPU time
// the program used per second over SECONDS (after a second of settling), and
// the delay from each frame's last byte to the arrival of the report that
// completes it: median, 99th percentile and worst. "frames" (the default)
// delivers each frame whole when its last byte is due; "per-byte" delivers
// every byte on its own at the line rate (the simulated library then wakes
// at every byte while a read waits); "quiet" sends nothing.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "watched_program.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineRate = 960.0;  // bytes a second at 9600 baud 8N1
constexpr double kStreamStart = 0.1;
constexpr int kFrame = 5;

// Seconds after the open at which frame k's last byte arrives.
double FrameEnd(long long k) {
  return kStreamStart + static_cast<double>(k * kFrame + kFrame - 1) / kLineRate;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: kestrune_station_bench PROGRAM BRIDGES SECONDS "
                 "[frames|per-byte|quiet [ARGUMENT...]]\n");
    return 2;
  }
  const std::string program = argv[1];
  const int bridges = std::atoi(argv[2]);
  const int seconds = std::atoi(argv[3]);
  const std::string mode = argc > 4 ? argv[4] : "frames";
  const bool quiet = mode == "quiet";
  const bool perByte = mode == "per-byte";
  if (!quiet && !perByte && mode != "frames") return 2;
  if (bridges < 1 || seconds < 1) return 2;

  std::ostringstream scenario;
  const int bytes = static_cast<int>(kLineRate) * (seconds + 5);
  for (int i = 0; i < bridges; ++i) {
    scenario << "bridge \"B" << i << "\"\n";
    if (perByte) {
      scenario << "  stream at " << kStreamStart << " rate 960 bytes " << bytes << " seed " << i + 1
               << "\n";
    } else if (!quiet) {
      // Frame k is whole when its last byte has come at the line rate.
      for (int k = 0; k < bytes / kFrame; ++k) {
        scenario << "  frame at " << FrameEnd(k) << " instant 01 02 03 04 05\n";
      }
    }
  }
  // One block per read unless told otherwise, as the figures of
  // bench/README.md were taken; framing is measured by kestrune_tag_bench.
  std::vector<std::string> arguments = {"--watch", "--frame-gap", "0"};
  if (argc > 5) {
    arguments.assign(argv + 5, argv + argc);
  }
  bench::WatchedProgram watched = bench::StartOnScenario(program, arguments, scenario.str());
  if (watched.output == nullptr) return 1;
  const pid_t pid = watched.pid;
  FILE* output = watched.output;

  const Clock::time_point start = Clock::now();
  const Clock::time_point settled = start + std::chrono::seconds(1);
  const Clock::time_point end = settled + std::chrono::seconds(seconds);

  // The reader stamps the lines as they come; frames count only when their
  // report arrives inside the window.
  std::map<std::string, Clock::time_point> connectedAt;
  std::map<std::string, long long> bytesReported;
  std::vector<double> delaysMs;
  long long reports = 0;
  std::thread reader([&] {
    char line[4096];
    while (std::fgets(line, sizeof line, output) != nullptr) {
      const Clock::time_point now = Clock::now();
      const std::string text = line;
      if (text.rfind("Connected to ", 0) == 0) {
        connectedAt[text.substr(13, text.size() - 14)] = now;
        continue;
      }
      if (text.rfind(">>>[DATA FROM ", 0) != 0) continue;
      const size_t comma = text.rfind(", ");
      const std::string serial = text.substr(14, comma - 14);
      const long long count = std::atoll(text.c_str() + comma + 2);
      long long& reported = bytesReported[serial];
      const auto opened = connectedAt.find(serial);
      const bool counted = opened != connectedAt.end() && now >= settled && now < end;
      reports += counted ? 1 : 0;
      for (long long last = (reported / kFrame + 1) * kFrame - 1;
           counted && last < reported + count; last += kFrame) {
        const double arrival = FrameEnd(last / kFrame);
        delaysMs.push_back(std::chrono::duration<double, std::milli>(now - opened->second).count() -
                           arrival * 1000.0);
      }
      reported += count;
    }
  });

  std::this_thread::sleep_until(settled);
  const long long cpuAtSettle = bench::CpuNanos(pid);
  const long long wakeupsAtSettle = bench::Wakeups(pid);
  std::this_thread::sleep_until(end);
  const long long cpuAtEnd = bench::CpuNanos(pid);
  const long long wakeupsAtEnd = bench::Wakeups(pid);
  const int status = bench::Stop(watched);
  reader.join();
  std::fclose(output);

  const double cpuMs = static_cast<double>(cpuAtEnd - cpuAtSettle) / 1e6;
  std::printf(
      "%d bridges %s, %d s: CPU %.1f ms/s (%.2f %% of one core), %.0f wake-ups/s, %lld reports, "
      "%zu frames; delay from a frame's last byte to its report: median %.1f ms, 99th "
      "percentile %.1f ms, worst %.1f ms; exit %d\n",
      bridges, mode.c_str(), seconds, cpuMs / seconds, cpuMs / seconds / 10.0,
      static_cast<double>(wakeupsAtEnd - wakeupsAtSettle) / seconds, reports, delaysMs.size(),
      bench::Percentile(delaysMs, 0.5), bench::Percentile(delaysMs, 0.99),
      bench::Percentile(delaysMs, 1.0), WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
