// The UART line of one bridge: which scheduled bytes have arrived by a given
// time, which of them have been read, and when the next one arrives. Pure
// arithmetic on times; nothing here sleeps or looks at a clock.
#ifndef KESTRUNE_BRIDGE_SIMULATED_LINE_H
#define KESTRUNE_BRIDGE_SIMULATED_LINE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "scenario.h"
#include "stream.h"

namespace sim {

class Line {
 public:
  Line(std::vector<Frame> frames, const std::vector<Stream>& streams);

  /// Every byte the scenario schedules on this line.
  std::uint64_t Total() const { return total_; }
  std::uint64_t Delivered() const { return delivered_; }
  bool Drained() const { return delivered_ == total_; }

  /// Bytes arrived by `now` and not yet taken.
  std::uint64_t Available(Nanos now) const;
  /// Earliest arrival strictly after `now`, if any byte is still to come.
  std::optional<Nanos> NextArrival(Nanos now) const;
  /// Moves up to `max` arrived bytes to `out` in order of arrival (frames
  /// before stream bytes arriving at the same moment, earlier streams first)
  /// and returns how many were moved.
  std::uint32_t Take(Nanos now, std::uint8_t* out, std::uint32_t max);

 private:
  struct StreamCursor {
    Stream stream;
    std::uint64_t taken = 0;
    StreamGenerator generator;
  };

  static Nanos ArrivalOf(const Stream& stream, std::uint64_t index);
  static std::uint64_t ArrivedBy(const Stream& stream, Nanos now);
  std::uint64_t FrameBytesArrivedBy(Nanos now) const;
  std::uint64_t FrameBytesTaken() const;

  std::vector<Frame> frames_;              // sorted by time, file order kept
  std::vector<std::uint64_t> frameStart_;  // bytes in the frames before each
  std::size_t frame_ = 0;                  // frame being taken
  std::size_t frameOffset_ = 0;            // bytes of it already taken
  std::vector<StreamCursor> streams_;
  std::uint64_t frameTotal_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t delivered_ = 0;
};

}  // namespace sim

#endif
