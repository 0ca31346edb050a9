// SPDX-License-Identifier: Apache-2.0
// Framing: a bridge's bytes gathered into blocks. It neither reads nor looks
// at a clock; the caller says when bytes came and when a block has ended.
#ifndef KESTRUNE_APP_CAPTURE_BLOCK_FRAMER_H
#define KESTRUNE_APP_CAPTURE_BLOCK_FRAMER_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "text/block_value.h"

/// The clock that measures time between blocks and a line's quiet.
using CaptureClock = std::chrono::steady_clock;

/// When a block's first bytes were read, by both clocks: the one shown and
/// the one that measures time between blocks.
struct BlockMoment {
  std::chrono::system_clock::time_point shown;
  CaptureClock::time_point at;
};

class BlockFramer {
 public:
  /// Takes each block: its bytes (1 to kMaxBlockSize), valid during the call
  /// only, and when its first bytes came.
  using Sink = std::function<void(const uint8_t* bytes, uint32_t count, const BlockMoment& moment)>;

  explicit BlockFramer(Sink sink);

  /// Adds count bytes that came at moment to the pending block, which takes
  /// the moment of its first bytes. Each time the block holds kMaxBlockSize
  /// bytes it is handed on whole, the rest starting the next one.
  void Add(const uint8_t* bytes, uint32_t count, const BlockMoment& moment);

  /// Hands on the pending block, if any: its line has been quiet long enough.
  void Flush();

  bool Pending() const { return size_ > 0; }
  /// Bytes the pending block can still take before it is cut.
  uint32_t Room() const { return kMaxBlockSize - size_; }

 private:
  Sink sink_;
  std::unique_ptr<uint8_t[]> pending_;
  uint32_t size_ = 0;
  BlockMoment moment_{};
};

#endif
