// SPDX-License-Identifier: Apache-2.0
// One connected bridge, read on a thread of its own: the thread is the only
// caller of the bridge's handle from its start until it has ended, and never
// waits for the output, for a listing or for another bridge.
#ifndef KESTRUNE_APP_BRIDGE_READER_H
#define KESTRUNE_APP_BRIDGE_READER_H

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "capture/capture.h"
#include "capture/read_plan.h"
#include "hid_uart.h"

struct ReaderOptions {
  /// How blocks are gathered and stamped; must outlive the reader.
  CaptureOptions capture;
  /// Without framing, the time-out of every read, each read's bytes being a
  /// block: how long bytes may gather before they are reported.
  std::chrono::milliseconds unframedTimeout{100};
  /// A read that fails is told ("Disconnected from SERIAL: TEXT"), as
  /// station mode does; else the reader just ends, as the sweep does.
  bool tellDisconnection = false;
  /// 0: off. Otherwise a reader that has delivered nothing for this long
  /// (since it was connected, or since its last bytes) is told silent, once,
  /// and told again once it delivers.
  std::chrono::seconds silentAfter{0};
};

/// How long after a stop a block still arriving may take to be proven ended:
/// the gap, at most kLongestStopWait, and kStopGrace; past that it is
/// reported as it stands.
constexpr std::chrono::milliseconds kLongestStopWait{1000};

/// How often the thread that owns the readers looks at the stop request and
/// at readers that have ended.
constexpr std::chrono::milliseconds kReaderLookInterval{50};
constexpr std::chrono::milliseconds kStopGrace{50};

class BridgeReader {
 public:
  /// Reads handle, reporting under serial. The read time-out in force is
  /// taken to be the one a connection sets.
  BridgeReader(HID_UART_DEVICE handle, std::string serial, const ReaderOptions& options);
  ~BridgeReader();
  BridgeReader(const BridgeReader&) = delete;
  BridgeReader& operator=(const BridgeReader&) = delete;

  /// One read, as the plan says (setting the read time-out first when it
  /// changes), and what follows from it: a block reported when the gap
  /// proved it ended. Returns false once the bridge can no longer be read;
  /// what was pending has then been reported, and the disconnection told
  /// when the options say so. Usable without the thread, one step at a time.
  bool Step();

  /// Starts the thread, which steps until the bridge fails or a stop was
  /// asked for and no block is pending (a block still arriving is completed
  /// first, within the time given at kStopGrace).
  void Start();
  /// Asks the thread to stop; returns at once.
  void Stop() { stop_ = true; }
  /// Waits for the thread to end. Afterwards the handle is free to close.
  void Join();

  /// Whether the thread has ended (Join() then returns at once).
  bool Ended() const { return ended_; }
  /// Whether its reads failed.
  bool Failed() const { return failed_; }
  /// Whether any read gave bytes.
  bool Delivered() const { return delivered_; }

  /// The capture the reader feeds; for a caller stepping it alone.
  Capture& capture() { return capture_; }
  HID_UART_DEVICE handle() const { return capture_.handle(); }
  const std::string& serial() const { return capture_.serial(); }

 private:
  void Run();
  void SetReadTimeout(std::chrono::milliseconds timeout);
  CaptureClock::time_point Now() const;

  const ReaderOptions& options_;
  Capture capture_;
  std::optional<ReadPlan> plan_;  // with framing
  std::chrono::milliseconds readTimeout_;
  uint32_t quietReads_ = 0;
  // When bytes came last (or the reader started), and whether it has been
  // told silent since.
  CaptureClock::time_point lastDelivery_;
  bool silent_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> delivered_{false};
  std::thread thread_;
};

#endif
