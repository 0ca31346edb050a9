// SPDX-License-Identifier: Apache-2.0
#include "capture/block_framer.h"

#include <algorithm>
#include <cstring>
#include <utility>

BlockFramer::BlockFramer(Sink sink)
    : sink_(std::move(sink)), pending_(std::make_unique<uint8_t[]>(kMaxBlockSize)) {}

void BlockFramer::Add(const uint8_t* bytes, uint32_t count, const BlockMoment& moment) {
  uint32_t taken = 0;
  while (taken < count) {
    if (size_ == 0) {
      moment_ = moment;
    }
    const uint32_t part = std::min(Room(), count - taken);
    std::memcpy(pending_.get() + size_, bytes + taken, part);
    size_ += part;
    taken += part;
    if (size_ == kMaxBlockSize) {
      Flush();
    }
  }
}

void BlockFramer::Flush() {
  if (size_ == 0) {
    return;
  }
  // Emptied before the sink runs, so that a sink may add again.
  const uint32_t size = size_;
  size_ = 0;
  sink_(pending_.get(), size, moment_);
}
