// SPDX-License-Identifier: Apache-2.0
// When a bridge's line has been quiet for the frame gap, proven by its reads
// alone: which read comes next, and what each outcome means.
#ifndef KESTRUNE_APP_READ_PLAN_H
#define KESTRUNE_APP_READ_PLAN_H

#include <chrono>

/// How long a read waits for the first byte of a block: a reader with
/// nothing to say wakes this often, and sees a stop within this time.
constexpr std::chrono::milliseconds kWaitingReadTimeout{250};

/// The reads of one framed bridge. A read returns when its request is filled
/// or its time-out has passed, so:
///   - waiting: a read of 1 byte with a long time-out sleeps until the first
///     byte of a block and returns the moment it arrives;
///   - gathering: once bytes flow, a read of as many bytes as the block can
///     take with a short time-out takes them in few wake-ups; the last of its
///     bytes came at most that time-out before it returned;
///   - proving: after a gathering read that found the line quiet, a read of 1
///     byte for the rest of the gap. Returning nothing proves the line quiet
///     for the gap since the last byte; a byte it returns is taken the moment
///     it arrives, and never swallowed into a read that could not tell when.
/// So a quiet spell shorter than the gap never ends a block, one of the gap
/// plus the gathering time-out always does, and a block is reported about
/// the gap after its last byte.
class ReadPlan {
 public:
  explicit ReadPlan(std::chrono::milliseconds gap);

  struct Read {
    bool many;  // as many bytes as the block can take; else 1
    std::chrono::milliseconds timeout;
  };
  Read Next() const;

  /// Takes the outcome of the read Next() gave; returns true when it proved
  /// the pending block ended.
  bool After(bool gotBytes);

  /// Whether no block is pending.
  bool Waiting() const { return phase_ == Phase::kWaiting; }

  std::chrono::milliseconds gatheringTimeout() const { return gathering_; }

 private:
  enum class Phase { kWaiting, kGathering, kProving };
  Phase phase_ = Phase::kWaiting;
  std::chrono::milliseconds gathering_;
  std::chrono::milliseconds proving_;
};

#endif
