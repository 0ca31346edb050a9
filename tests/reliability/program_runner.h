// SPDX-License-Identifier: Apache-2.0
// Runs the real program on a scenario of the reliability folder, its files
// named after the run in the work folder (POSIX only).
#ifndef KESTRUNE_TESTS_RELIABILITY_PROGRAM_RUNNER_H
#define KESTRUNE_TESTS_RELIABILITY_PROGRAM_RUNNER_H

#include <string>

#include "process_runner.h"

namespace runner {

using process::Describe;
using process::ExitedWithZero;
using process::KilledBy;
using process::ReadAll;
using process::ReadFile;
using process::ReadUntil;

/// Where the program's standard output goes: kFile (Child::outputFile),
/// kClosed, kDevFull or kPipe (Child::pipe).
using Output = process::Stream;

struct Options {
  std::string name;      // names the files of this run in the work folder
  std::string scenario;  // file name in the scenario folder
  Output output = Output::kFile;
  bool closeStdinAndStderr = false;
  bool ignoreSigpipe = false;  // inherited by the program, as from a shell
};

struct Child {
  pid_t pid = -1;
  int pipe = -1;  // read end, for Output::kPipe
  std::string outputFile;
  std::string errorFile;
  std::string callLog;
};

/// Starts the program; the test must Wait() for it.
Child Start(const Options& options);

/// Waits for the program to end and returns its wait status.
inline int Wait(const Child& child) { return process::Wait(child.pid); }

}  // namespace runner

#endif
