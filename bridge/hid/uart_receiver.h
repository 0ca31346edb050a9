// Turns the bridge's input reports into the byte stream that a read returns.
#ifndef KESTRUNE_BRIDGE_HID_UART_RECEIVER_H
#define KESTRUNE_BRIDGE_HID_UART_RECEIVER_H

#include <cstddef>
#include <cstdint>
#include <deque>

#include "hid_uart.h"

namespace hidbridge {

/// Where input reports come from. Same contract as hidapi's timed read:
/// the report's size (ID included) when one arrived, 0 when none arrived
/// within timeoutMs (or spuriously earlier), negative when the device can no
/// longer be read.
class ReportSource {
 public:
  virtual ~ReportSource() = default;
  virtual int ReadReport(uint8_t* report, size_t size, int timeoutMs) = 0;
};

/// The receive side of one opened bridge.
///
/// A data report can carry more bytes than a read still has room for; those
/// bytes are kept and handed out first by the next read, so nothing that the
/// bridge delivered is ever dropped.
class UartReceiver {
 public:
  /// Gathers bytes until `wanted` are in `buffer` (HID_UART_SUCCESS) or
  /// `timeoutMs` has passed (HID_UART_READ_TIMED_OUT); *got tells how many
  /// were placed either way.
  ///
  /// When the device fails after some bytes of this read arrived, those bytes
  /// are returned at once with HID_UART_READ_TIMED_OUT, and the failure
  /// (HID_UART_READ_ERROR) is reported by the next read, after any kept
  /// bytes: a caller that stops at the first failure still sees every byte.
  HID_UART_STATUS Read(ReportSource& source, uint8_t* buffer, uint32_t wanted, uint32_t timeoutMs,
                       uint32_t* got);

  /// Bytes kept from a report that did not fit the last read.
  size_t Pending() const { return kept_.size(); }

 private:
  uint32_t TakeKept(uint8_t* buffer, uint32_t room);

  std::deque<uint8_t> kept_;
  bool failed_ = false;
};

}  // namespace hidbridge

#endif
