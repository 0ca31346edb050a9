// Station mode under load, measured from outside the program:
//   kestrune_station_bench PROGRAM BRIDGES SECONDS [frames|per-byte|quiet]
// writes a scenario of BRIDGES simulated bridges, each sending 5-byte frames
// back to back at the 9600-baud line rate (960 bytes, 192 frames a second)
// from 0.1 s after its open, runs PROGRAM --watch --frame-gap 0 on it with its output
// through a pipe, and stamps every line as it arrives. It prints the CPU time
// the program used per second over SECONDS (after a second of settling), and
// the delay from each frame's last byte to the arrival of the report that
// completes it: median, 99th percentile and worst. "frames" (the default)
// delivers each frame whole when its last byte is due; "per-byte" delivers
// every byte on its own at the line rate (the simulated library then wakes
// at every byte while a read waits); "quiet" sends nothing.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineRate = 960.0;  // bytes a second at 9600 baud 8N1
constexpr double kStreamStart = 0.1;
constexpr int kFrame = 5;

// The sum of a number read from a file of every thread of a process.
template <typename ReadOne>
long long SumOverThreads(pid_t pid, const char* file, ReadOne readOne) {
  long long total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return -1;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/" + file);
    total += readOne(in);
  }
  closedir(dir);
  return total;
}

// Nanoseconds of CPU used by every thread of a process so far.
long long CpuNanos(pid_t pid) {
  return SumOverThreads(pid, "schedstat", [](std::ifstream& in) {
    long long ran = 0;
    return (in >> ran) ? ran : 0;
  });
}

// Voluntary context switches of every thread: the times it slept and woke.
long long Wakeups(pid_t pid) {
  return SumOverThreads(pid, "status", [](std::ifstream& in) {
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atoll(line.c_str() + 24);
    }
    return 0LL;
  });
}

// Seconds after the open at which frame k's last byte arrives.
double FrameEnd(long long k) {
  return kStreamStart + static_cast<double>(k * kFrame + kFrame - 1) / kLineRate;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: kestrune_station_bench PROGRAM BRIDGES SECONDS [quiet]\n");
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

  char scenarioPath[] = "/tmp/kestrune-station-XXXXXX";
  const int scenarioFd = mkstemp(scenarioPath);
  if (scenarioFd < 0) return 1;
  {
    std::ostringstream scenario;
    const int bytes = static_cast<int>(kLineRate) * (seconds + 5);
    for (int i = 0; i < bridges; ++i) {
      scenario << "bridge \"B" << i << "\"\n";
      if (perByte) {
        scenario << "  stream at " << kStreamStart << " rate 960 bytes " << bytes << " seed "
                 << i + 1 << "\n";
      } else if (!quiet) {
        // Frame k is whole when its last byte has come at the line rate:
        // instant at that moment, so that its delay counts from there.
        for (int k = 0; k < bytes / kFrame; ++k) {
          scenario << "  frame at " << FrameEnd(k) << " instant 01 02 03 04 05\n";
        }
      }
    }
    const std::string text = scenario.str();
    if (write(scenarioFd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return 1;
    close(scenarioFd);
  }

  int fds[2];
  if (pipe(fds) != 0) return 1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    setenv("HIDUART_SIM_SCENARIO", scenarioPath, 1);
    unsetenv("HIDUART_SIM_LOG");
    // One block per read, as the figures of bench/README.md were taken;
    // framing is measured by kestrune_tag_bench.
    execl(program.c_str(), program.c_str(), "--watch", "--frame-gap", "0",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  FILE* output = fdopen(fds[0], "r");

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
  const long long cpuAtSettle = CpuNanos(pid);
  const long long wakeupsAtSettle = Wakeups(pid);
  std::this_thread::sleep_until(end);
  const long long cpuAtEnd = CpuNanos(pid);
  const long long wakeupsAtEnd = Wakeups(pid);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  reader.join();
  unlink(scenarioPath);

  const double cpuMs = static_cast<double>(cpuAtEnd - cpuAtSettle) / 1e6;
  std::printf(
      "%d bridges %s, %d s: CPU %.1f ms/s (%.2f %% of one core), %.0f wake-ups/s, %lld reports, "
      "%zu frames; delay from a frame's last byte to its report: median %.1f ms, 99th "
      "percentile %.1f ms, worst %.1f ms; exit %d\n",
      bridges, mode.c_str(), seconds, cpuMs / seconds, cpuMs / seconds / 10.0,
      static_cast<double>(wakeupsAtEnd - wakeupsAtSettle) / seconds, reports, delaysMs.size(),
      Percentile(delaysMs, 0.5), Percentile(delaysMs, 0.99), Percentile(delaysMs, 1.0),
      WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
