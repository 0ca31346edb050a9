// SPDX-License-Identifier: Apache-2.0
// The capture of one connected bridge: reads it, gathers what arrives into
// blocks and reports each block. The sweep and the station both read through
// it, so how bytes become blocks is decided here alone.
#ifndef KESTRUNE_APP_CAPTURE_H
#define KESTRUNE_APP_CAPTURE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "capture/block_framer.h"
#include "capture/repeat_filter.h"
#include "hid_uart.h"

/// The most bytes one read asks for: the size of the buffer a read fills.
constexpr uint32_t kReadBufferSize = 1000;

struct CaptureOptions {
  /// Local time before each report's header line: when the block's first
  /// bytes were read.
  bool timestamps = false;
  /// 0: the bytes of each read are one block, reported as soon as the read
  /// returns. Otherwise a bridge's bytes are gathered into a block until its
  /// line has been quiet for this long (the reader decides when: see
  /// ReadPlan), and blocks longer than kMaxBlockSize are cut.
  std::chrono::milliseconds frameGap{0};
  /// 0: every block is reported. Otherwise a block whose bytes equal the
  /// previous block's, and whose first bytes came less than this after that
  /// block's (reported or not), is left out and counted: a tag held in a
  /// reader's field is reported once. The count is told (EmitHeld) once the
  /// hold ends: a different block, this long without a repeat, a failed
  /// read, or the end of the capture.
  std::chrono::milliseconds dedupe{0};
  /// The clock that tells how long a line has been quiet; steady_clock::now
  /// when empty (tests give their own).
  std::function<CaptureClock::time_point()> now;
};

class Capture {
 public:
  enum class Outcome {
    kQuiet,   // the read returned no byte
    kBytes,   // the read returned bytes
    kFailed,  // the bridge can no longer be read: status() tells why
  };

  /// Reads handle, reporting under serial. options must outlive the capture.
  Capture(HID_UART_DEVICE handle, std::string serial, const CaptureOptions& options);
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  /// One read of up to request bytes (1 to kReadBufferSize). A hold whose time has
  /// passed is told first. Without framing a
  /// non-empty read is reported at once. With framing its bytes join the
  /// pending block, which takes the time of the read that brought its first
  /// bytes; every kMaxBlockSize bytes gathered are reported at once, the rest
  /// starting the next block. A read whose status is neither success nor the
  /// read time-out reports the pending block, not its own bytes, tells the
  /// hold, and returns kFailed. A count beyond the request is taken as the request; bytes
  /// claimed but not placed show as zeros, never as bytes of an earlier read.
  Outcome Read(uint32_t request = kReadBufferSize);

  /// Reports the pending block, if any, whole.
  void Flush();

  /// Reports the pending block and tells the hold, if any: the capture ends.
  void Finish();

  bool Pending() const { return framer_.Pending(); }
  /// Bytes the pending block can still take before it is cut.
  uint32_t Room() const { return framer_.Room(); }
  HID_UART_STATUS status() const { return status_; }
  HID_UART_DEVICE handle() const { return handle_; }
  const std::string& serial() const { return serial_; }

 private:
  CaptureClock::time_point Now() const;
  BlockMoment MomentNow() const;
  // Reports a block, unless it repeats the one held.
  void Report(const uint8_t* bytes, uint32_t count, const BlockMoment& moment);
  void TellHold(const EndedHold& hold);

  HID_UART_DEVICE handle_;
  std::string serial_;
  const CaptureOptions& options_;
  HID_UART_STATUS status_ = HID_UART_SUCCESS;
  // What one read places.
  std::unique_ptr<uint8_t[]> readBuffer_;
  BlockFramer framer_;
  // With dedupe only.
  std::unique_ptr<RepeatFilter> repeats_;
};

#endif
