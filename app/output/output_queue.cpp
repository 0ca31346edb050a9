// SPDX-License-Identifier: Apache-2.0
#include "output/output_queue.h"

#include <algorithm>
#include <utility>

#include "platform/thread_signals.h"

namespace {

// A write into a pipe of at most this many bytes is never cut or mixed with
// another writer's: events are gathered into writes up to this size.
constexpr size_t kGatheredWriteBytes = 4096;

uint64_t Lines(const std::string& text) {
  return static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

OutputQueue::OutputQueue(size_t boundBytes, Writer write, Notice notice)
    : bound_(boundBytes), write_(std::move(write)), notice_(std::move(notice)) {
  writer_ = StartQuietThread([this] { Run(); });
}

OutputQueue::~OutputQueue() { Stop(); }

void OutputQueue::TellLeftOut(const char* when) {
  notice_(std::string("output queue ") + when + "; " + std::to_string(linesLeftOut_) +
          (linesLeftOut_ == 1 ? " line was" : " lines were") + " left out while it was full");
  linesLeftOut_ = 0;
}

void OutputQueue::Push(std::string event) {
  if (event.empty()) {
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_ || failed_) {
    return;
  }
  if (queuedBytes_ + event.size() > bound_) {
    linesLeftOut_ += Lines(event);
    if (!full_) {
      full_ = true;
      notice_("output queue is full (" + std::to_string(bound_) +
              " bytes wait for standard output); lines are left out until it has room");
    }
    return;
  }
  if (full_) {
    full_ = false;
    TellLeftOut("has room again");
  }
  queuedBytes_ += event.size();
  events_.push_back(std::move(event));
  lock.unlock();
  queued_.notify_one();
}

void OutputQueue::Run() {
  std::string write;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !events_.empty(); });
    if (events_.empty()) {
      return;
    }
    // Whole events, as many as fit in one atomic write; an event larger than
    // that leaves alone, in one write of its own.
    write.clear();
    do {
      std::string& event = events_.front();
      queuedBytes_ -= event.size();
      write += event;
      events_.pop_front();
    } while (!events_.empty() && write.size() + events_.front().size() <= kGatheredWriteBytes);
    lock.unlock();
    if (!failed_ && write_(write)) {
      failed_ = true;
    }
    lock.lock();
  }
}

void OutputQueue::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
  }
  queued_.notify_one();
  if (writer_.joinable()) {
    writer_.join();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  if (linesLeftOut_ > 0) {
    TellLeftOut(full_ ? "was still full at the end" : "is empty");
  }
}
