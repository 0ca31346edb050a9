// Station mode: every attached bridge read at once, bridges that come and go.
#ifndef KESTRUNE_APP_STATION_H
#define KESTRUNE_APP_STATION_H

#include <chrono>
#include <functional>

#include "capture.h"

struct StationOptions {
  /// How blocks are gathered and stamped. With a frame gap, each read waits
  /// FramingReadTimeout(gap, number of bridges), and a bridge whose pending
  /// block is due is read out of turn.
  CaptureOptions capture;
  /// Without a frame gap, how long one visit of every connected bridge may
  /// take while the lines are quiet: each read waits this long divided by
  /// the number of bridges (at least 1 ms, at most the 200 ms a connection
  /// sets). It bounds the delay of a report.
  std::chrono::milliseconds round{100};
  /// How often the attached bridges are listed, to connect new ones. Nothing
  /// is read meanwhile, so a listing that falls due while a block is pending
  /// waits until none is, at most another interval.
  std::chrono::milliseconds survey{1000};
  /// Asked between reads; the station closes every bridge and returns once
  /// it answers true.
  std::function<bool()> stopRequested;
};

/// Prints the two library version lines and the bridge count, connects every
/// attached bridge (ConnectBySerial, in index order), then reads them all in
/// turn, one read each per round, until a stop is requested. A bridge whose
/// read fails has its pending block reported, gets "Disconnected from
/// SERIAL: STATUS TEXT", is closed, and is
/// connected again at the first listing that shows it; should its reads fail
/// again before it delivered a byte, without it having left the list, it is
/// treated as a bridge whose connection fails: left alone until a listing no
/// longer shows it. The
/// bridges are listed again every options.survey; one thread makes every
/// call. On return every pending block has been reported, every handle
/// opened has been closed exactly once and the output is flushed.
void WatchStation(const StationOptions& options);

#endif
