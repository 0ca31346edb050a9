// SPDX-License-Identifier: Apache-2.0
// --dedupe: a tag held in a reader's field is reported once. Told each block
// and when it came, the filter says whether it repeats the block before it;
// it counts the repeats and hands on the hold once it has ended. It neither
// reads nor looks at a clock.
#ifndef KESTRUNE_APP_CAPTURE_REPEAT_FILTER_H
#define KESTRUNE_APP_CAPTURE_REPEAT_FILTER_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/block_framer.h"

/// A hold that has ended: the block reported when it came, how many equal
/// blocks after it were left out (1 or more), and from that block to the
/// last repeat.
struct EndedHold {
  const uint8_t* bytes;  // valid during the call only
  uint32_t count;
  BlockMoment reported;
  uint32_t repeats;
  CaptureClock::duration held;
};

class RepeatFilter {
 public:
  using HoldSink = std::function<void(const EndedHold& hold)>;

  /// window above 0: a block whose bytes equal the previous block's, and
  /// whose first bytes came less than window after that block's (reported
  /// or not), is a repeat.
  RepeatFilter(std::chrono::milliseconds window, HoldSink sink);

  /// Whether the block (1 to kMaxBlockSize bytes) is a repeat, to be left
  /// out. A hold it ends (a different block, or one past the window) is
  /// handed on first. The block becomes the previous one either way.
  bool Repeats(const uint8_t* bytes, uint32_t count, const BlockMoment& moment);

  /// Ends the hold, if any, once the window has passed since the last repeat
  /// with nothing that could still repeat it.
  void EndIfOver(CaptureClock::time_point now);

  /// Ends the hold, if any: the reader stops.
  void End();

 private:
  bool SameAsPrevious(const uint8_t* bytes, uint32_t count) const;

  std::chrono::milliseconds window_;
  HoldSink sink_;
  // The previous block, reported or not, and when its first bytes came.
  std::unique_ptr<uint8_t[]> previous_;
  uint32_t previousSize_ = 0;
  CaptureClock::time_point previousAt_{};
  bool seen_ = false;
  // Blocks left out since the one reported last, and when that one came.
  uint32_t repeats_ = 0;
  BlockMoment reported_{};
};

#endif
