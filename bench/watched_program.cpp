// SPDX-License-Identifier: Apache-2.0
#include "watched_program.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace bench {

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
  if (!written) return watched;

  process::Launch launch;
  launch.arguments = {program};
  launch.arguments.insert(launch.arguments.end(), arguments.begin(), arguments.end());
  launch.scenario = path;
  launch.output = process::Stream::kPipe;
  const process::Child child = process::Start(launch);
  watched.pid = child.pid;
  if (child.output >= 0) watched.output = fdopen(child.output, "r");
  return watched;
}

int Stop(WatchedProgram& watched) {
  int status = 0;
  if (watched.pid > 0) {
    kill(watched.pid, SIGINT);
    status = process::Wait(watched.pid);
  }
  if (!watched.scenarioPath.empty()) unlink(watched.scenarioPath.c_str());
  return status;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

}  // namespace bench
