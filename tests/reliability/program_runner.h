// Runs the real program on a simulated scenario, with its standard output
// wherever a test wants it (POSIX only), and reads back what it printed.
#ifndef KESTRUNE_TESTS_RELIABILITY_PROGRAM_RUNNER_H
#define KESTRUNE_TESTS_RELIABILITY_PROGRAM_RUNNER_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

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

/// One block report as printed.
struct Block {
  std::string serial;
  std::vector<uint8_t> bytes;
};

/// Picks the block reports out of the program's output and checks that each
/// is whole and consistent (count, hex, 64-bit value and decimal agree) and
/// that the output ends at the end of a line. Non-report lines are kept in
/// *other. Returns an empty string, or what is wrong.
std::string ParseReports(const std::string& output, std::vector<Block>* blocks,
                         std::vector<std::string>* other);

/// The simulated stream's bytes: xorshift32 from seed, low byte of each state.
std::vector<uint8_t> StreamBytes(uint32_t seed, size_t count);

/// The bytes of all blocks of one serial string, in order.
std::vector<uint8_t> BytesFrom(const std::vector<Block>& blocks, const std::string& serial);

}  // namespace runner

#endif
