// SPDX-License-Identifier: Apache-2.0
#include "capture/repeat_filter.h"

#include <cstring>
#include <utility>

RepeatFilter::RepeatFilter(std::chrono::milliseconds window, HoldSink sink)
    : window_(window),
      sink_(std::move(sink)),
      previous_(std::make_unique<uint8_t[]>(kMaxBlockSize)) {}

bool RepeatFilter::SameAsPrevious(const uint8_t* bytes, uint32_t count) const {
  return seen_ && count == previousSize_ && std::memcmp(bytes, previous_.get(), count) == 0;
}

bool RepeatFilter::Repeats(const uint8_t* bytes, uint32_t count, const BlockMoment& moment) {
  const bool same = SameAsPrevious(bytes, count);
  const bool within = moment.at - previousAt_ < window_;
  // The previous block is still what was held when the hold is told.
  if (!same || !within) {
    End();
  }
  if (same && within) {
    previousAt_ = moment.at;
    ++repeats_;
    return true;
  }
  std::memcpy(previous_.get(), bytes, count);
  previousSize_ = count;
  previousAt_ = moment.at;
  seen_ = true;
  reported_ = moment;
  return false;
}

void RepeatFilter::EndIfOver(CaptureClock::time_point now) {
  if (repeats_ > 0 && now - previousAt_ >= window_) {
    End();
  }
}

void RepeatFilter::End() {
  if (repeats_ == 0) {
    return;
  }
  const uint32_t repeats = repeats_;
  repeats_ = 0;
  sink_(EndedHold{previous_.get(), previousSize_, reported_, repeats, previousAt_ - reported_.at});
}
