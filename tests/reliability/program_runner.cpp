// SPDX-License-Identifier: Apache-2.0
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
#include <vector>

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

}  // namespace runner
