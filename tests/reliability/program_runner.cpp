#include "program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace runner {

namespace {

std::string WorkPath(const std::string& name) {
  mkdir(KESTRUNE_RELIABILITY_WORK_DIR, 0755);
  return std::string(KESTRUNE_RELIABILITY_WORK_DIR) + "/" + name;
}

// The parent's environment without the simulation's variables, then ours.
std::vector<std::string> Environment(const std::string& scenario, const std::string& callLog) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "HIDUART_SIM_", 12) != 0) {
      environment.emplace_back(*entry);
    }
  }
  environment.push_back("HIDUART_SIM_SCENARIO=" + scenario);
  environment.push_back("HIDUART_SIM_LOG=" + callLog);
  return environment;
}

[[noreturn]] void ChildFails(const char* what) {
  // Only async-signal-safe calls between fork and exec.
  const ssize_t ignored = write(2, what, std::strlen(what));
  static_cast<void>(ignored);
  _exit(127);
}

}  // namespace

Child Start(const Options& options) {
  Child child;
  child.outputFile = WorkPath(options.name + ".out");
  child.errorFile = WorkPath(options.name + ".err");
  child.callLog = WorkPath(options.name + ".calls");
  std::remove(child.outputFile.c_str());
  std::remove(child.errorFile.c_str());
  std::remove(child.callLog.c_str());

  // Everything the child needs is prepared before the fork.
  const std::vector<std::string> environment = Environment(
      std::string(KESTRUNE_RELIABILITY_SCENARIOS) + "/" + options.scenario, child.callLog);
  std::vector<char*> envp;
  for (const std::string& entry : environment) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);
  char program[] = KESTRUNE_PROGRAM;
  char* argv[] = {program, nullptr};

  int fds[2] = {-1, -1};
  if (options.output == Output::kPipe && pipe2(fds, O_CLOEXEC) != 0) {
    return child;
  }
  child.pid = fork();
  if (child.pid != 0) {
    if (options.output == Output::kPipe) {
      close(fds[1]);
      child.pipe = fds[0];
    }
    return child;
  }

  signal(SIGPIPE, options.ignoreSigpipe ? SIG_IGN : SIG_DFL);
  // Standard error first, so that its file never takes descriptor 1 when
  // standard output is to stay closed.
  if (options.closeStdinAndStderr) {
    close(0);
    close(2);
  } else {
    const int err = open(child.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (err < 0 || dup2(err, 2) < 0) {
      ChildFails("cannot set up standard error\n");
    }
  }
  int out = -1;
  switch (options.output) {
    case Output::kFile:
      out = open(child.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      break;
    case Output::kDevFull:
      out = open("/dev/full", O_WRONLY | O_CLOEXEC);
      break;
    case Output::kPipe:
      out = fds[1];
      break;
    case Output::kClosed:
      break;
  }
  if (options.output == Output::kClosed) {
    close(1);
  } else if (out < 0 || dup2(out, 1) < 0) {
    ChildFails("cannot set up standard output\n");
  }
  execve(program, argv, envp.data());
  ChildFails("cannot start the program\n");
}

int Wait(const Child& child) {
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string Describe(int waitStatus) {
  if (WIFEXITED(waitStatus)) {
    return "exit " + std::to_string(WEXITSTATUS(waitStatus));
  }
  if (WIFSIGNALED(waitStatus)) {
    return "signal " + std::to_string(WTERMSIG(waitStatus)) + " (" +
           strsignal(WTERMSIG(waitStatus)) + ")";
  }
  return "status " + std::to_string(waitStatus);
}

bool ExitedWithZero(int waitStatus) {
  return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

bool KilledBy(int waitStatus, int signal) {
  return WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == signal;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
      text.append(chunk, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return text;
    }
  }
}

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Checks one five-line report starting at lines[at] and adds its block.
std::string ParseReport(const std::vector<std::string>& lines, size_t at,
                        std::vector<Block>* blocks) {
  if (at + 5 > lines.size()) {
    return "a report cut short at line " + std::to_string(at + 1);
  }
  const std::string& header = lines[at];
  const size_t comma = header.rfind(", ");
  if (comma == std::string::npos || header.size() < comma + 7 ||
      header.compare(header.size() - 6, 6, " BYTE]") != 0) {
    return "bad header: " + header;
  }
  Block block;
  block.serial = header.substr(14, comma - 14);
  const unsigned long count = std::stoul(header.substr(comma + 2));
  const std::string& hex = lines[at + 1];
  if (!StartsWith(hex, "  0x") || hex.size() != 4 + 2 * count) {
    return "hex line does not hold " + std::to_string(count) + " bytes: " + hex;
  }
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<uint8_t>(std::stoul(hex.substr(4 + 2 * i, 2), nullptr, 16));
    block.bytes.push_back(byte);
    value = (value << 8) | byte;
  }
  char expected[64];
  std::snprintf(expected, sizeof expected, "  HEX (64-bit): %016llX",
                static_cast<unsigned long long>(value));
  if (lines[at + 2] != expected) {
    return "64-bit line " + lines[at + 2] + " where " + expected + " was due";
  }
  std::snprintf(expected, sizeof expected, "  Decimal (10 Digits): %010llu",
                static_cast<unsigned long long>((value >> 16) & 0xFFFFFFFFu));
  if (lines[at + 3] != expected) {
    return "decimal line " + lines[at + 3] + " where " + expected + " was due";
  }
  if (lines[at + 4] != "<<<") {
    return "no closing line after a report: " + lines[at + 4];
  }
  blocks->push_back(block);
  return "";
}

}  // namespace

std::string ParseReports(const std::string& output, std::vector<Block>* blocks,
                         std::vector<std::string>* other) {
  if (!output.empty() && output.back() != '\n') {
    return "the output ends in the middle of a line";
  }
  std::vector<std::string> lines;
  std::istringstream stream(output);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  for (size_t at = 0; at < lines.size(); ++at) {
    if (StartsWith(lines[at], ">>>[DATA FROM ")) {
      const std::string problem = ParseReport(lines, at, blocks);
      if (!problem.empty()) {
        return problem;
      }
      at += 4;
    } else {
      other->push_back(lines[at]);
    }
  }
  return "";
}

std::vector<uint8_t> StreamBytes(uint32_t seed, size_t count) {
  std::vector<uint8_t> bytes;
  uint32_t state = seed;
  for (size_t i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes.push_back(static_cast<uint8_t>(state & 0xFF));
  }
  return bytes;
}

std::vector<uint8_t> BytesFrom(const std::vector<Block>& blocks, const std::string& serial) {
  std::vector<uint8_t> bytes;
  for (const Block& block : blocks) {
    if (block.serial == serial) {
      bytes.insert(bytes.end(), block.bytes.begin(), block.bytes.end());
    }
  }
  return bytes;
}

}  // namespace runner
