// SPDX-License-Identifier: Apache-2.0
// Events on their way from the threads that raise them to the one thread that
// writes standard output: capture hands an event over and goes on, whatever
// the output is doing.
#ifndef KESTRUNE_APP_OUTPUT_QUEUE_H
#define KESTRUNE_APP_OUTPUT_QUEUE_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

/// How many bytes of events may wait for standard output: at 16 readers each
/// sending a tag every 100 ms, over ten minutes of human lines.
constexpr size_t kOutputQueueBytes = size_t{8} << 20;

/// A bounded queue of events, each the whole text of one event, and the
/// thread that writes them in the order they were queued. Events from one
/// thread stay in that thread's order; events of different threads in the
/// order they were queued.
class OutputQueue {
 public:
  /// write takes one or more whole events and hands them to the system in
  /// one write; it is called on the writer thread only, and returns whether
  /// the output has failed for good. notice takes a line for standard error,
  /// without its line end, and may be called from any thread that queues.
  using Writer = std::function<bool(const std::string& events)>;
  using Notice = std::function<void(const std::string& line)>;

  /// Starts the writer thread.
  OutputQueue(size_t boundBytes, Writer write, Notice notice);
  /// Stop().
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  /// Queues one event, never waiting for the writer. An event that does not
  /// fit within the bound is left out and its lines counted: standard error
  /// is told once when that starts, and again with the count once an event
  /// fits again. An empty event is ignored.
  void Push(std::string event);

  /// Writes every event queued, ends the writer thread, and tells how many
  /// lines were left out if that was not told yet. Events queued afterwards
  /// are left out silently.
  void Stop();

  /// Whether the writer found standard output failed for good; from then on
  /// events are discarded.
  bool failed() const { return failed_; }

 private:
  void Run();
  void TellLeftOut(const char* when);

  const size_t bound_;
  Writer write_;
  Notice notice_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::string> events_;
  size_t queuedBytes_ = 0;
  bool stopping_ = false;
  bool full_ = false;
  uint64_t linesLeftOut_ = 0;
  std::atomic<bool> failed_{false};
  std::thread writer_;
};

#endif
