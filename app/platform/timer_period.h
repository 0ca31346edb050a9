// SPDX-License-Identifier: Apache-2.0
// The system timer's period while the program waits on short read time-outs.
#ifndef KESTRUNE_APP_TIMER_PERIOD_H
#define KESTRUNE_APP_TIMER_PERIOD_H

/// While it lives, asks the system for a 1 ms timer period, so that a wait
/// of a few milliseconds in the bridge library ends when it should: Windows
/// otherwise rounds such waits up to its default tick of about 15.6 ms,
/// which would make every read of a short time-out last a tick and a turn of
/// many bridges far longer than planned. Elsewhere timers are fine-grained
/// already and this does nothing.
class FineTimerPeriod {
 public:
  explicit FineTimerPeriod(bool wanted);
  ~FineTimerPeriod();
  FineTimerPeriod(const FineTimerPeriod&) = delete;
  FineTimerPeriod& operator=(const FineTimerPeriod&) = delete;

  /// Whether the system granted the period (always false where not needed).
  bool granted() const { return granted_; }

 private:
  bool granted_ = false;
};

#endif
