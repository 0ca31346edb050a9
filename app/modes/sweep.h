// SPDX-License-Identifier: Apache-2.0
// The sweep over every attached bridge, with the capture loop of each.
#ifndef KESTRUNE_APP_SWEEP_H
#define KESTRUNE_APP_SWEEP_H

#include <functional>

#include "capture/capture.h"

struct SweepOptions {
  /// How blocks are gathered and stamped. With a frame gap, each connected
  /// bridge is read by a thread of its own (BridgeReader), which sets the
  /// read time-outs its reads need; the calling thread waits for it.
  CaptureOptions capture;
  /// Asked between reads; once it answers true the sweep reports what is
  /// pending, closes the bridge it reads and returns. Empty: never.
  std::function<bool()> stopRequested;
};

/// Prints the two library version lines and the bridge count, fetches the
/// serial string of each bridge index, then visits those serial strings in
/// index order: connects, and reports every block read from the bridge until
/// a read fails with a status other than the read time-out (what is pending
/// is reported first); the bridge's handle is then closed. Returns when every
/// serial string has been visited, when a stop is requested, or at once,
/// silently, when the count cannot be had. A healthy bridge is read until
/// the process is interrupted or a stop is requested.
void SweepDevices(const SweepOptions& options = {});

#endif
