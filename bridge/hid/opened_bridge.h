// SPDX-License-Identifier: Apache-2.0
// One opened bridge: its device, the reader thread that drains the device
// into the receiver from the open until the close, and its settings.
#ifndef KESTRUNE_BRIDGE_HID_OPENED_BRIDGE_H
#define KESTRUNE_BRIDGE_HID_OPENED_BRIDGE_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "device_access.h"
#include "enumeration.h"
#include "hid_device.h"
#include "hid_uart.h"
#include "uart_receiver.h"

namespace hidbridge {

class OpenedBridge {
 public:
  /// Time-outs in force until the caller sets its own.
  static constexpr uint32_t kDefaultTimeoutMs = 1000;

  /// Takes an opened device, its UART enabled and its stale reports purged,
  /// and starts its reader.
  OpenedBridge(std::unique_ptr<HidDevice> device, Identity identity);

  /// Closes the bridge, unless Close did.
  ~OpenedBridge();

  OpenedBridge(const OpenedBridge&) = delete;
  OpenedBridge& operator=(const OpenedBridge&) = delete;

  /// The strings the bridge was listed with.
  const Identity& identity() const { return identity_; }

  /// The device's access, for feature-report requests (DeviceAccess::Request).
  DeviceAccess& access() { return access_; }

  /// Sets the time-outs of later reads and writes.
  void SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs);

  /// Takes up to `wanted` received bytes within the read time-out:
  /// UartReceiver::Read's statuses (HID_UART_SUCCESS, HID_UART_READ_TIMED_OUT,
  /// and HID_UART_READ_ERROR once the device failed or the bridge was closed
  /// and the bytes held are taken). Safe while Close runs on another thread.
  HID_UART_STATUS Read(uint8_t* buffer, uint32_t wanted, uint32_t* got);

  /// Stops the reader (a Read waiting on another thread then takes the bytes
  /// held, or fails), turns the UART off and closes the device. Returns
  /// HID_UART_SUCCESS; HID_UART_DEVICE_IO_FAILED when the UART could not be
  /// turned off (an unplugged bridge), the device being closed all the same.
  /// Made once, by whoever took the bridge out of the handle table.
  HID_UART_STATUS Close();

 private:
  void StartReader();

  Identity identity_;
  DeviceAccess access_;
  UartReceiver receiver_;
  std::atomic<bool> stopReading_{false};
  std::thread reader_;
  bool closed_ = false;

  std::mutex settingsMutex_;
  uint32_t readTimeoutMs_ = kDefaultTimeoutMs;
  uint32_t writeTimeoutMs_ = kDefaultTimeoutMs;
};

}  // namespace hidbridge

#endif
