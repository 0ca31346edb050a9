// SPDX-License-Identifier: Apache-2.0
// Starts a program as a child process on a scenario of the simulated bridge,
// its standard streams wherever the caller wants them, and tells what the
// system says of it while it runs and how it ended (POSIX, Linux's /proc).
// The tests of the real program, the soak and the benchmarks all run it so.
#ifndef KESTRUNE_TESTS_SUPPORT_PROCESS_RUNNER_H
#define KESTRUNE_TESTS_SUPPORT_PROCESS_RUNNER_H

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace process {

/// Where a standard stream of the child goes.
enum class Stream {
  kInherited,  // the caller's own
  kFile,       // a regular file, created or emptied
  kPipe,       // a pipe whose read end the caller holds
  kDevFull,    // /dev/full: every write fails with ENOSPC
  kClosed,     // the descriptor not open at all
};

struct Launch {
  std::vector<std::string> arguments;  // the program's path first
  /// The simulated bridge's scenario, and its call log (none when empty):
  /// the child's environment is the caller's without the simulation's
  /// variables, then these.
  std::string scenario;
  std::string callLog;
  Stream output = Stream::kInherited;
  std::string outputFile;  // for Stream::kFile
  Stream error = Stream::kInherited;
  std::string errorFile;  // for Stream::kFile
  bool closeInput = false;
  /// SIGPIPE ignored, as a shell may pass it on; else at its default, as is
  /// SIGINT (a shell's background job starts with it ignored).
  bool ignoreSigpipe = false;
};

struct Child {
  pid_t pid = -1;   // -1: it could not be started
  int output = -1;  // read ends, for Stream::kPipe
  int error = -1;
};

/// Starts the child; the caller must Wait() for it and close its pipes.
Child Start(const Launch& launch);

/// Waits for the child to end and returns its wait status.
int Wait(pid_t pid);

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

/// What comes from a descriptor, at most chunk bytes a read and each read
/// after pause, until all read so far is enough or the descriptor ends.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& enough,
                      std::size_t chunk = 4096, std::chrono::milliseconds pause = {});

/// Resident memory of a process in KiB; nullopt once it is gone or a zombie.
std::optional<unsigned long long> ResidentKib(pid_t pid);

/// Nanoseconds of CPU used by every thread of a process so far (-1: gone).
long long CpuNanos(pid_t pid);

/// Voluntary context switches of every thread: the times it slept and woke.
long long Wakeups(pid_t pid);

}  // namespace process

#endif
