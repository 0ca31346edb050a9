// SPDX-License-Identifier: Apache-2.0
// Runs the real program on a simulated scenario, with its standard output
// wherever a test wants it (POSIX only), and reads back what it printed.
#ifndef KESTRUNE_TESTS_RELIABILITY_PROGRAM_RUNNER_H
#define KESTRUNE_TESTS_RELIABILITY_PROGRAM_RUNNER_H

#include <sys/types.h>

#include <string>

namespace runner {

enum class Output {
  kFile,     // a regular file, Options::outputFile
  kClosed,   // descriptor 1 not open at all
  kDevFull,  // /dev/full: every write fails with ENOSPC
  kPipe,     // a pipe whose read end the test holds (Child::pipe)
};

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
int Wait(const Child& child);

/// "exit 0", "signal 13 (Broken pipe)", ...
std::string Describe(int waitStatus);

/// Whether the wait status is a normal exit with code 0.
bool ExitedWithZero(int waitStatus);

/// Whether the wait status is death by that signal.
bool KilledBy(int waitStatus, int signal);

/// Everything in a file; empty when it does not exist.
std::string ReadFile(const std::string& path);

/// Everything still to come from a descriptor, up to its end.
std::string ReadAll(int fd);

}  // namespace runner

#endif
