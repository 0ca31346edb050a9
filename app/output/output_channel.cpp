// SPDX-License-Identifier: Apache-2.0
#include "output/output_channel.h"

#include <algorithm>
#include <utility>

namespace {

uint64_t Lines(const std::string& text) {
  return static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string LinesLeftOut(uint64_t lines) {
  return std::to_string(lines) + (lines == 1 ? " line was" : " lines were") + " left out";
}

}  // namespace

OutputChannel::OutputChannel(Writer writer, Notice notice)
    : writer_(std::move(writer)), notice_(std::move(notice)) {}

void OutputChannel::Append(const char* data, size_t size) {
  if (!gone_) {
    pending_.append(data, size);
  }
}

bool OutputChannel::WriteOut(std::string& text) {
  const WriteAttempt attempt = writer_(text.data(), text.size());
  const size_t taken = std::min(attempt.written, text.size());
  if (taken > 0) {
    cutMidLine_ = text[taken - 1] != '\n';
  }
  text.erase(0, taken);
  if (attempt.fault == WriteFault::kNone) {
    return true;
  }
  if (attempt.fault == WriteFault::kGone) {
    gone_ = true;
    pending_.clear();
    unfinished_.clear();
    notice_("standard output failed: " + attempt.reason + "; stopping");
  } else if (!full_) {
    full_ = true;
    notice_("standard output is full: " + attempt.reason +
            "; lines are left out until it takes them again");
  }
  return false;
}

void OutputChannel::LeaveOut(std::string& text) {
  linesLeftOut_ += Lines(text);
  text.clear();
}

void OutputChannel::Flush() {
  if (gone_ || (pending_.empty() && unfinished_.empty())) {
    return;
  }
  if (!unfinished_.empty() && !WriteOut(unfinished_)) {
    LeaveOut(pending_);
    return;
  }
  if (!pending_.empty()) {
    const size_t size = pending_.size();
    if (!WriteOut(pending_)) {
      if (pending_.size() < size) {
        unfinished_ = std::move(pending_);
        pending_.clear();
      } else {
        LeaveOut(pending_);
      }
      return;
    }
  }
  // Only a write that was taken shows that there is room again.
  if (full_) {
    full_ = false;
    notice_("standard output takes lines again; " + LinesLeftOut(linesLeftOut_) +
            " while it was full");
    linesLeftOut_ = 0;
  }
}

void OutputChannel::Finish() {
  Flush();
  if (!full_) {
    return;
  }
  // The line a flush was cut in is not left out but cut short.
  const uint64_t unwritten = Lines(unfinished_) - (cutMidLine_ ? 1 : 0);
  std::string end =
      "standard output was still full at the end; " + LinesLeftOut(linesLeftOut_ + unwritten);
  if (cutMidLine_) {
    end += ", and the last line written is cut short";
  }
  notice_(end);
}
