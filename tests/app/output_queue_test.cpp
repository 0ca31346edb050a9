// SPDX-License-Identifier: Apache-2.0
#include "output/output_queue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A standard output that takes writes only while it is open, and records
// each write as it was handed over.
class StalledOutput {
 public:
  bool Write(const std::string& events) {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_ = true;
    changed_.wait(lock, [this] { return open_; });
    writes_.push_back(events);
    return failAfter_ >= 0 && static_cast<int>(writes_.size()) > failAfter_;
  }
  void Open() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void FailAfter(int writes) { failAfter_ = writes; }
  bool Waiting() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }
  std::vector<std::string> Writes() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool waiting_ = false;
  int failAfter_ = -1;
  std::vector<std::string> writes_;
};

std::string Event(char letter, size_t lines, size_t lineSize = 10) {
  std::string event;
  for (size_t i = 0; i < lines; ++i) {
    event += std::string(lineSize - 1, letter) + "\n";
  }
  return event;
}

TEST(OutputQueue, CaptureNeverWaitsAndWhatCannotWaitIsCountedAndTold) {
  struct Case {
    const char* name;
    size_t bound;
    // Pushed while the output is stalled (the first of them is then handed
    // to the output, which holds it), then after it opened.
    std::vector<std::string> whileStalled, afterwards;
    int failAfter;        // writes that succeed before one fails for good; -1 never
    std::string written;  // everything that reached the output, in order
    std::vector<std::string> notices;
    size_t largestWrite;  // no write larger, unless one event alone is
  };
  const std::string big = Event('L', 500);  // 5000 bytes: leaves alone
  const Case cases[] = {
      {"events leave whole and in order, gathered into writes of at most 4096 bytes",
       1 << 20,
       {Event('a', 300), Event('b', 200), big, Event('c', 1)},
       {Event('d', 2)},
       -1,
       Event('a', 300) + Event('b', 200) + big + Event('c', 1) + Event('d', 2),
       {},
       4096},
      {"beyond the bound events are left out whole, counted by their lines and told",
       100,
       {Event('a', 5), Event('b', 4), Event('c', 3), Event('d', 4)},
       {Event('e', 1)},
       -1,
       Event('a', 5) + Event('b', 4) + Event('c', 3) + Event('e', 1),
       {"output queue is full (100 bytes wait for standard output); lines are left out until it "
        "has room",
        "output queue has room again; 4 lines were left out while it was full"},
       4096},
      {"still full at the end: the count is told once the rest is written",
       50,
       {Event('a', 5), Event('b', 2), Event('c', 2), Event('d', 2)},
       {},
       -1,
       Event('a', 5) + Event('b', 2) + Event('c', 2),
       {"output queue is full (50 bytes wait for standard output); lines are left out until it "
        "has room",
        "output queue was still full at the end; 2 lines were left out while it was full"},
       4096},
      {"an output failed for good takes nothing more, and nothing waits on it",
       1 << 20,
       {Event('a', 1)},
       {Event('b', 1), Event('c', 1)},
       0,
       Event('a', 1),
       {},
       4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StalledOutput output;
    output.FailAfter(c.failAfter);
    std::vector<std::string> notices;
    std::mutex noticeMutex;
    OutputQueue queue(
        c.bound, [&output](const std::string& events) { return output.Write(events); },
        [&](const std::string& line) {
          const std::lock_guard<std::mutex> lock(noticeMutex);
          notices.push_back(line);
        });
    for (const std::string& event : c.whileStalled) {
      queue.Push(event);  // would hang here if a push waited for the output
      while (!output.Waiting()) {
        std::this_thread::yield();
      }
    }
    output.Open();
    if (c.failAfter >= 0) {
      while (!queue.failed()) {
        std::this_thread::yield();
      }
    }
    for (const std::string& event : c.afterwards) {
      queue.Push(event);
    }
    queue.Stop();
    std::string written;
    for (const std::string& write : output.Writes()) {
      written += write;
      // Whole events only: every write ends at a line end.
      EXPECT_EQ(write.back(), '\n');
      EXPECT_TRUE(write.size() <= c.largestWrite || write == big) << write.size();
    }
    EXPECT_EQ(written, c.written);
    EXPECT_EQ(notices, c.notices);
  }
}

}  // namespace
