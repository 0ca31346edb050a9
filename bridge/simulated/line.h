// SPDX-License-Identifier: Apache-2.0
// The UART line of one bridge: which scheduled bytes have arrived by a given
// time, which of them have been read, and when the ones still to come will
// arrive. Pure arithmetic on times; nothing here sleeps or looks at a clock.
#ifndef KESTRUNE_BRIDGE_SIMULATED_LINE_H
#define KESTRUNE_BRIDGE_SIMULATED_LINE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "character_time.h"
#include "scenario.h"
#include "stream.h"

namespace sim {

/// One source of bytes on a line, whose bytes arrive in order: the timed
/// frames of a bridge, its instant frames, one tags line or one stream. Its
/// bytes belong to units (a frame, a tag, the stream) and arrive in runs: a
/// run's byte k comes k character times after its first. Runs follow one
/// another in time, so that what has arrived by a time is found by a binary
/// search, however many units there are.
class Sender {
 public:
  /// Frames sorted by time. With a character time they are queued like the
  /// characters of one UART: a frame due while the previous one is still
  /// arriving starts right after its last byte. kInstant: each at its time.
  static Sender Frames(std::vector<Frame> frames, CharTime c);
  static Sender Tags(const TagSeries& series, CharTime c);
  static Sender Generated(const Stream& stream);

  std::uint64_t Total() const { return total_; }
  std::uint64_t Taken() const { return taken_; }
  /// Bytes arrived by `now`, taken ones included.
  std::uint64_t ArrivedBy(Nanos now) const;
  /// Arrival of byte `index` (from 0, below Total()).
  Nanos ArrivalOf(std::uint64_t index) const;
  /// Arrival of the next byte to take; only while Taken() < Total().
  Nanos NextArrival() const;
  /// Moves the next `count` bytes to `out`; only up to Total().
  void Take(std::uint8_t* out, std::uint64_t count);
  /// From `now` on, bytes not yet arrived come at character time `c` (for
  /// queued senders; the others keep their own timing). Bytes arrived by
  /// `now` keep their times.
  void Retime(Nanos now, CharTime c);

 private:
  struct Run {
    Nanos start;           // arrival of its first byte
    Nanos unitStart;       // arrival of its unit's first byte
    std::uint64_t before;  // bytes of this sender in earlier runs
    std::uint64_t count;
    std::uint64_t first;  // index in the unit of its first byte
    std::uint32_t unit;
    CharTime c;
  };

  /// Adds one unit as a run, queued after the runs so far.
  void Queue(std::uint32_t unit, std::uint64_t count);
  /// Start of whole unit run `r`, given the runs before it.
  Nanos QueuedStart(std::size_t r) const;
  std::size_t RunOf(std::uint64_t index) const;
  /// Bytes `index` on of `unit` to `out`, `count` of them.
  void Bytes(std::uint32_t unit, std::uint64_t index, std::uint8_t* out, std::uint64_t count);

  std::vector<Run> runs_;
  // When each unit is due: absolute, or for a relative sender (tags) after
  // the previous unit's first byte (unit 0 absolute).
  std::vector<Nanos> due_;
  bool relative_ = false;
  bool queued_ = false;
  CharTime c_;
  // The bytes: stored for frames, else generated from each unit's state.
  std::vector<std::vector<std::uint8_t>> frames_;
  std::vector<std::uint32_t> states_;
  std::uint64_t total_ = 0;
  std::uint64_t taken_ = 0;
  std::size_t run_ = 0;  // run holding byte taken_
  StreamGenerator generator_{1};
  std::uint32_t generatorUnit_ = 0;
  std::uint64_t generatorIndex_ = ~std::uint64_t{0};  // next byte it gives
};

class Line {
 public:
  Line(const std::vector<Frame>& frames, const std::vector<Stream>& streams,
       const std::vector<TagSeries>& tags = {},
       CharTime characterTime = UartCharTime(kPowerOnSetting));

  /// Every byte the scenario schedules on this line.
  std::uint64_t Total() const { return total_; }
  std::uint64_t Delivered() const { return delivered_; }
  bool Drained() const { return delivered_ == total_; }

  /// Bytes arrived by `now` and not yet taken.
  std::uint64_t Available(Nanos now) const;
  /// Earliest arrival strictly after `now`, if any byte is still to come.
  std::optional<Nanos> NextArrival(Nanos now) const;
  /// When the `n`th byte not yet taken arrives (n from 1), at the present
  /// setting; nothing if fewer are still to come.
  std::optional<Nanos> PendingArrival(std::uint64_t n) const;
  /// Moves up to `max` arrived bytes to `out` in order of arrival and
  /// returns how many were moved. Of bytes arriving at the same moment,
  /// instant frames come first, then timed frames, then tags lines (in file
  /// order), then streams (in file order).
  std::uint32_t Take(Nanos now, std::uint8_t* out, std::uint32_t max);
  /// The setting changes at `now`: frames and tags not yet arrived come at
  /// the new character time from then on.
  void SetCharacterTime(Nanos now, CharTime characterTime);

 private:
  std::vector<Sender> senders_;
  std::uint64_t total_ = 0;
  std::uint64_t delivered_ = 0;
};

}  // namespace sim

#endif
