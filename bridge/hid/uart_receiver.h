// SPDX-License-Identifier: Apache-2.0
// The receive side of one opened bridge: a reader drains the device's input
// reports into a bounded buffer, and reads take their bytes from it.
//
// The kernel (or the system's HID driver) keeps only a few dozen input
// reports per open device and drops newer ones without a word, and a bridge
// may send one report per byte. The program may be busy for longer than that
// (a paused terminal, a slow log), so the device is drained all the time, not
// only while a read waits.
#ifndef KESTRUNE_BRIDGE_HID_UART_RECEIVER_H
#define KESTRUNE_BRIDGE_HID_UART_RECEIVER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "hid_uart.h"

namespace hidbridge {

/// Where input reports come from: the contract of hidapi's timed read, with
/// an interrupted wait told apart from a failed device.
class ReportSource {
 public:
  /// Returned by ReadReport when a signal cut the wait short.
  static constexpr int kInterrupted = -2;

  virtual ~ReportSource() = default;

  /// Waits at most timeoutMs for one input report. Returns its size (ID
  /// included) when one arrived; 0 when none arrived in time (or spuriously
  /// earlier); kInterrupted when a signal ended the wait; any other negative
  /// value when the device can no longer be read.
  virtual int ReadReport(uint8_t* report, size_t size, int timeoutMs) = 0;
};

/// The bytes a bridge has sent and no read has taken yet. Safe to use from
/// the reader and from the callers of HidUart_Read at once.
class UartReceiver {
 public:
  /// 1 MiB: about 18 minutes of a 9600-baud line sending without a pause.
  static constexpr size_t kDefaultCapacity = size_t{1} << 20;

  explicit UartReceiver(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  /// Adds the data bytes of one input report (ID first; reports that carry no
  /// UART data add nothing). Returns false, and keeps none of them, when they
  /// do not fit: the receiver has then ended, and reads fail once the bytes
  /// held before are taken.
  bool Deliver(const uint8_t* report, size_t size);

  /// The device can no longer be read (unplugged, or the reader was
  /// stopped): reads fail once the bytes held are taken.
  void End();

  /// Gathers bytes until `wanted` are in `buffer` (HID_UART_SUCCESS) or
  /// `timeoutMs` has passed (HID_UART_READ_TIMED_OUT); *got tells how many
  /// were placed either way.
  ///
  /// After the receiver has ended, the bytes still held are handed out first
  /// (at once, with HID_UART_READ_TIMED_OUT when they do not fill the
  /// request); a read that finds none fails with HID_UART_READ_ERROR. A
  /// caller that stops at the first failure has seen every byte that was
  /// received, in order.
  HID_UART_STATUS Read(uint8_t* buffer, uint32_t wanted, uint32_t timeoutMs, uint32_t* got);

  /// Bytes held now.
  size_t Held() const;

  /// True when bytes were refused for want of room.
  bool Overrun() const;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<uint8_t> held_;
  bool ended_ = false;
  bool overrun_ = false;
};

/// How long the reader waits for a report before it looks at `stop` again;
/// this bounds how long a close waits for the reader to end.
constexpr int kDrainPollMs = 50;

/// The reader's loop: moves every input report from `source` into
/// `receiver` until `stop` is set, the device fails, or the receiver
/// overruns; then ends the receiver. A wait cut short by a signal is simply
/// resumed.
void DrainReports(ReportSource& source, UartReceiver& receiver, const std::atomic<bool>& stop);

}  // namespace hidbridge

#endif
