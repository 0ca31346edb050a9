// SPDX-License-Identifier: Apache-2.0
// Station mode: every attached bridge read at once, bridges that come and go.
#ifndef KESTRUNE_APP_STATION_H
#define KESTRUNE_APP_STATION_H

#include <chrono>
#include <functional>

#include "capture/capture.h"

struct StationOptions {
  /// How blocks are gathered and stamped.
  CaptureOptions capture;
  /// Without a frame gap, the time-out of each read, whose bytes are one
  /// block (at least 1 ms, at most the 200 ms a connection sets). It bounds
  /// the delay of a report.
  std::chrono::milliseconds round{100};
  /// How often the attached bridges are listed, to connect new ones. The
  /// readers go on reading meanwhile.
  std::chrono::milliseconds survey{1000};
  /// 0: off. Otherwise a connected reader silent this long is told (see
  /// ReaderOptions::silentAfter).
  std::chrono::seconds silentAfter{0};
  /// Asked every few tens of milliseconds; once it answers true the station
  /// stops every reader, closes every bridge and returns.
  std::function<bool()> stopRequested;
};

/// Prints the two library version lines and the bridge count, connects every
/// attached bridge (ConnectBySerial, in index order) and starts a reader
/// thread for each (BridgeReader), which reads it until its reads fail or a
/// stop is requested. A bridge whose read fails has its pending block
/// reported and gets "Disconnected from SERIAL: STATUS TEXT" from its reader;
/// it is then closed, and connected again at the first listing that shows
/// it; should its reads fail again before it delivered a byte, without it
/// having left the list, it is treated as a bridge whose connection fails:
/// left alone until a listing no longer shows it. The bridges are listed
/// again every options.survey. Listing, connecting and closing are done by
/// the calling thread alone; a handle is closed only once its reader has
/// ended. On return every reader has ended, every pending block has been
/// reported (a block still arriving at the stop is completed first, for at
/// most the gap and kStopGrace), every handle opened has been closed exactly
/// once, and the output is flushed.
void WatchStation(const StationOptions& options);

#endif
