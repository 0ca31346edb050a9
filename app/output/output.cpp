// SPDX-License-Identifier: Apache-2.0
#include "output/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "output/log_file.h"
#include "output/output_channel.h"
#include "output/output_queue.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
// Set once standard output is in binary mode: line ends are then ours to
// write. Until then (as in tests that capture the output) the C runtime's
// text mode still writes them.
bool linesEndedByHand = false;
#endif

WriteAttempt Failed(size_t written, int error, const char* reason) {
  const bool full = error == ENOSPC
#if defined(EDQUOT)
                    || error == EDQUOT
#endif
      ;
  return WriteAttempt{written, full ? WriteFault::kFull : WriteFault::kGone, reason};
}

// Hands bytes to standard output's descriptor, resuming after partial writes
// and interruptions.
WriteAttempt WriteToStandardOutput(const char* data, size_t size) {
  size_t written = 0;
#if defined(_WIN32)
  const int descriptor = _fileno(stdout);
  while (written < size) {
    const size_t left = size - written;
    const int chunk = static_cast<int>(left < (1u << 30) ? left : (1u << 30));
    const int count = _write(descriptor, data + written, static_cast<unsigned>(chunk));
    if (count > 0) {
      written += static_cast<size_t>(count);
      continue;
    }
    const int error = count < 0 ? errno : EIO;
    const unsigned long system = _doserrno;
    if (system == ERROR_DISK_FULL || system == ERROR_HANDLE_DISK_FULL) {
      return Failed(written, ENOSPC, std::strerror(ENOSPC));
    }
    // A pipe whose reader has gone (wine gives the third): the runtime calls
    // the last two an invalid argument.
    if (system == ERROR_BROKEN_PIPE || system == ERROR_NO_DATA ||
        system == ERROR_PIPE_NOT_CONNECTED) {
      return Failed(written, EPIPE, std::strerror(EPIPE));
    }
    return Failed(written, error, std::strerror(error));
  }
#else
  while (written < size) {
    const ssize_t count = write(STDOUT_FILENO, data + written, size - written);
    if (count > 0) {
      written += static_cast<size_t>(count);
      continue;
    }
    const int error = count < 0 ? errno : EIO;
    if (error == EINTR) {
      continue;
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
      // A descriptor inherited as non-blocking: wait as a blocking one would.
      pollfd ready{STDOUT_FILENO, POLLOUT, 0};
      poll(&ready, 1, -1);
      continue;
    }
    return Failed(written, error, std::strerror(error));
  }
#endif
  return WriteAttempt{written, WriteFault::kNone, {}};
}

// With --log, the lines go to this file instead of standard output.
std::unique_ptr<LogFile> logFile;

WriteAttempt WriteOut(const char* data, size_t size) {
  return logFile ? logFile->Write(data, size) : WriteToStandardOutput(data, size);
}

// Whether failures of standard output are told and acted upon; a run as it
// always was takes no notice of them.
bool watched = false;

void TellStandardError(const std::string& line) {
  if (!watched) {
    return;
  }
  std::fprintf(stderr, "kestrune: %s\n", line.c_str());
  std::fflush(stderr);
}

OutputChannel& Channel() {
  static OutputChannel channel(WriteOut, TellStandardError);
  return channel;
}

// While set, events go through the queue to its writer thread; it is set
// before any other thread prints and cleared after they have ended.
std::unique_ptr<OutputQueue> queue;

// What this thread printed since its last flush: one event.
thread_local std::string event;

// Set before the first event of a run whose events go to a broker alone.
bool silenced = false;

void Take(const char* text, size_t size) {
  if (silenced) {
    return;
  }
  if (queue) {
    event.append(text, size);
  } else {
    Channel().Append(text, size);
  }
}

void Append(const char* text, size_t size) {
#if defined(_WIN32)
  if (linesEndedByHand) {
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
      if (text[i] == '\n') {
        Take(text + start, i - start);
        Take("\r\n", 2);
        start = i + 1;
      }
    }
    Take(text + start, size - start);
    return;
  }
#endif
  Take(text, size);
}

// The writer thread's write: true once standard output has failed for good.
bool WriteQueued(const std::string& events) {
  Channel().Append(events.data(), events.size());
  Channel().Flush();
  return Channel().gone();
}

}  // namespace

void PrepareOutput() {
#if defined(_WIN32)
  linesEndedByHand = _setmode(_fileno(stdout), _O_BINARY) != -1;
#endif
}

void WatchOutput() {
  watched = true;
#if !defined(_WIN32)
  // A reader that has gone makes a write fail with EPIPE instead of ending
  // the process unannounced, with no bridge closed.
  signal(SIGPIPE, SIG_IGN);
#endif
}

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char local[4096];
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(local, sizeof local, format, args);
  if (size >= 0 && static_cast<size_t>(size) < sizeof local) {
    Append(local, static_cast<size_t>(size));
  } else if (size > 0) {
    std::vector<char> text(static_cast<size_t>(size) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    Append(text.data(), static_cast<size_t>(size));
  }
  va_end(again);
  va_end(args);
}

void QueueOutput() {
  if (!queue) {
    queue = std::make_unique<OutputQueue>(kOutputQueueBytes, WriteQueued, TellStandardError);
  }
}

void SilenceOutput() { silenced = true; }

bool LogToFile(const std::string& path, uint64_t size, int keep, std::string& problem) {
  auto file = std::make_unique<LogFile>(path, size, keep);
  if (!file->Open(problem)) {
    return false;
  }
  logFile = std::move(file);
#if defined(_WIN32)
  // A log is text: CR LF on Windows, whatever standard output is.
  linesEndedByHand = true;
#endif
  return true;
}

void Notice(const std::string& line) {
  std::fprintf(stderr, "kestrune: %s\n", line.c_str());
  std::fflush(stderr);
  if (logFile && !silenced) {
    // A service has no standard error: its log is where the operator looks.
    std::string text = "kestrune: " + line + "\n";
#if defined(_WIN32)
    text.insert(text.size() - 1, "\r");
#endif
    if (queue) {
      queue->Push(std::move(text));
    } else {
      // Before the run's threads start: the calling thread writes it.
      Channel().Append(text.data(), text.size());
      Channel().Flush();
    }
  }
}

void WriteRaw(const char* bytes, size_t size) { Take(bytes, size); }

void FlushOutput() {
  if (!queue) {
    Channel().Flush();
    return;
  }
  queue->Push(std::move(event));
  event.clear();
}

bool OutputFailed() { return queue ? queue->failed() : Channel().gone(); }

void FinishOutput() {
  if (queue) {
    FlushOutput();
    queue->Stop();
    queue.reset();
  }
  Channel().Finish();
}
