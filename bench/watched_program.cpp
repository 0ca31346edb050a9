// SPDX-License-Identifier: Apache-2.0
#include "watched_program.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace bench {
namespace {

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

}  // namespace

WatchedProgram StartOnScenario(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& scenario) {
  WatchedProgram watched;
  char path[] = "/tmp/kestrune-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return watched;
  watched.scenarioPath = path;
  const bool written =
      write(fd, scenario.data(), scenario.size()) == static_cast<ssize_t>(scenario.size());
  close(fd);
  int fds[2];
  if (!written || pipe(fds) != 0) return watched;

  std::vector<std::string> texts{program};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  watched.pid = fork();
  if (watched.pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    setenv("HIDUART_SIM_SCENARIO", path, 1);
    unsetenv("HIDUART_SIM_LOG");
    signal(SIGINT, SIG_DFL);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  watched.output = fdopen(fds[0], "r");
  return watched;
}

int Stop(WatchedProgram& watched) {
  int status = 0;
  if (watched.pid > 0) {
    kill(watched.pid, SIGINT);
    waitpid(watched.pid, &status, 0);
  }
  if (!watched.scenarioPath.empty()) unlink(watched.scenarioPath.c_str());
  return status;
}

long long CpuNanos(pid_t pid) {
  return SumOverThreads(pid, "schedstat", [](std::ifstream& in) {
    long long ran = 0;
    return (in >> ran) ? ran : 0;
  });
}

long long Wakeups(pid_t pid) {
  return SumOverThreads(pid, "status", [](std::ifstream& in) {
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atoll(line.c_str() + 24);
    }
    return 0LL;
  });
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

}  // namespace bench
