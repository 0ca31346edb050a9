// SPDX-License-Identifier: Apache-2.0
#include "process_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace process {

namespace {

constexpr const char* kSimulationPrefix = "HIDUART_SIM_";

// The caller's environment without the simulation's variables, then ours.
std::vector<std::string> Environment(const Launch& launch) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, kSimulationPrefix, std::strlen(kSimulationPrefix)) != 0) {
      environment.emplace_back(*entry);
    }
  }
  if (!launch.scenario.empty()) {
    environment.push_back(std::string(kSimulationPrefix) + "SCENARIO=" + launch.scenario);
  }
  // A log of a long run would fill the disk: only when asked for.
  if (!launch.callLog.empty()) {
    environment.push_back(std::string(kSimulationPrefix) + "LOG=" + launch.callLog);
  }
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void ChildFails(const char* what) {
  // Only async-signal-safe calls between fork and exec.
  const ssize_t ignored = write(2, what, std::strlen(what));
  static_cast<void>(ignored);
  _exit(127);
}

// In the child: points descriptor fd where the stream goes; pipeEnd is the
// write end of its pipe.
void Direct(int fd, Stream stream, const std::string& file, int pipeEnd) {
  int target = -1;
  switch (stream) {
    case Stream::kInherited:
      return;
    case Stream::kClosed:
      close(fd);
      return;
    case Stream::kFile:
      target = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      break;
    case Stream::kDevFull:
      target = open("/dev/full", O_WRONLY | O_CLOEXEC);
      break;
    case Stream::kPipe:
      target = pipeEnd;
      break;
  }
  if (target < 0 || dup2(target, fd) < 0) {
    ChildFails(fd == 1 ? "cannot set up standard output\n" : "cannot set up standard error\n");
  }
}

void ClosePipe(int fds[2]) {
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) {
      close(fds[i]);
    }
  }
}

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

Child Start(const Launch& launch) {
  Child child;
  // Everything the child needs is prepared before the fork.
  std::vector<std::string> environment = Environment(launch);
  std::vector<char*> envp = Pointers(environment);
  std::vector<std::string> arguments = launch.arguments;
  std::vector<char*> argv = Pointers(arguments);
  if (arguments.empty()) {
    return child;
  }
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if ((launch.output == Stream::kPipe && pipe2(out, O_CLOEXEC) != 0) ||
      (launch.error == Stream::kPipe && pipe2(err, O_CLOEXEC) != 0)) {
    ClosePipe(out);
    return child;
  }
  child.pid = fork();
  if (child.pid != 0) {
    if (child.pid < 0) {
      ClosePipe(out);
      ClosePipe(err);
      return child;
    }
    if (out[1] >= 0) close(out[1]);
    if (err[1] >= 0) close(err[1]);
    child.output = out[0];
    child.error = err[0];
    return child;
  }

  signal(SIGPIPE, launch.ignoreSigpipe ? SIG_IGN : SIG_DFL);
  signal(SIGINT, SIG_DFL);
  if (launch.closeInput) {
    close(0);
  }
  // Standard error first, so that its file never takes descriptor 1 when
  // standard output is to stay closed.
  Direct(2, launch.error, launch.errorFile, err[1]);
  Direct(1, launch.output, launch.outputFile, out[1]);
  execve(argv[0], argv.data(), envp.data());
  ChildFails("cannot start the program\n");
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
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

std::string ReadAll(int fd) { return ReadUntil(fd, nullptr); }

std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& enough,
                      std::size_t chunk, std::chrono::milliseconds pause) {
  std::string text;
  std::vector<char> buffer(chunk);
  while (!enough || !enough(text)) {
    std::this_thread::sleep_for(pause);
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got > 0) {
      text.append(buffer.data(), static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

std::optional<unsigned long long> ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  }
  return std::nullopt;
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

}  // namespace process
