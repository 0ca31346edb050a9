// SPDX-License-Identifier: Apache-2.0
// The program under measurement, run on a scenario of the simulated bridge
// with its output through a pipe, and what the system says of its process.
#ifndef KESTRUNE_BENCH_WATCHED_PROGRAM_H
#define KESTRUNE_BENCH_WATCHED_PROGRAM_H

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "process_runner.h"

namespace bench {

using process::CpuNanos;
using process::Wakeups;

struct WatchedProgram {
  pid_t pid = -1;
  FILE* output = nullptr;  // its standard output; nullptr when it could not start
  std::string scenarioPath;
};

/// Writes the scenario to a new temporary file and starts program with
/// arguments (argv[0] is added), the simulated bridge reading that scenario,
/// no call log, and SIGINT at its default.
WatchedProgram StartOnScenario(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& scenario);

/// Sends SIGINT, waits for the process, closes the pipe and removes the
/// scenario. Returns the wait status.
int Stop(WatchedProgram& watched);

/// The value at this fraction (0 to 1) of the sorted values; 0 when empty.
double Percentile(std::vector<double> values, double fraction);

}  // namespace bench

#endif
