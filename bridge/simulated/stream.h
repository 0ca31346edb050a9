// SPDX-License-Identifier: Apache-2.0
// The pseudo-random content of a stream. It is xorshift32, so that a checker
// in any language can rebuild the bytes a bridge sent from the seed alone:
//   state = seed (nonzero); for each byte:
//   state ^= state << 13; state ^= state >> 17; state ^= state << 5;
//   byte = state & 0xFF
#ifndef KESTRUNE_BRIDGE_SIMULATED_STREAM_H
#define KESTRUNE_BRIDGE_SIMULATED_STREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class StreamGenerator {
 public:
  /// A seed of 0 would give only zeros; it is taken as 1.
  explicit StreamGenerator(std::uint32_t seed) : state_(seed == 0 ? 1 : seed) {}

  /// One step; returns the whole 32-bit state.
  std::uint32_t NextState() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  /// One step; returns the low byte of the state.
  std::uint8_t Next() { return static_cast<std::uint8_t>(NextState() & 0xFF); }
  std::uint32_t State() const { return state_; }

 private:
  std::uint32_t state_;
};

/// The first `count` bytes of the stream with this seed.
std::vector<std::uint8_t> StreamBytes(std::uint32_t seed, std::size_t count);

}  // namespace sim

#endif
