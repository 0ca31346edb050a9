// SPDX-License-Identifier: Apache-2.0
// What the operations need from one opened HID device. The library speaks to
// bridges through hidapi (hidapi_device.h); the unit tests through a device
// of their own, in memory.
#ifndef KESTRUNE_BRIDGE_HID_HID_DEVICE_H
#define KESTRUNE_BRIDGE_HID_HID_DEVICE_H

#include <cstddef>
#include <cstdint>

#include "uart_receiver.h"

namespace hidbridge {

/// One opened HID device. Its calls are never made at once from two threads
/// (DeviceAccess sees to that), and none after Close.
class HidDevice {
 public:
  virtual ~HidDevice() = default;

  /// Waits at most timeoutMs (0: not at all) for one input report, as
  /// ReportSource::ReadReport: returns its size (ID included) when one
  /// arrived; 0 when none arrived in time; ReportSource::kInterrupted when a
  /// signal ended the wait; any other negative value when the device can no
  /// longer be read. Once a read has failed, later ones fail too.
  virtual int ReadInputReport(uint8_t* report, size_t size, int timeoutMs) = 0;

  /// Sends a feature report, ID first. False when the device refused it or
  /// is gone.
  virtual bool SendFeatureReport(const uint8_t* report, size_t size) = 0;

  /// Fetches the feature report whose ID is report[0] into report (at most
  /// size bytes). Returns its size, ID included; a negative value when the
  /// device refused or is gone.
  virtual int GetFeatureReport(uint8_t* report, size_t size) = 0;

  /// Releases the device, whether it still answers or not.
  virtual void Close() = 0;
};

}  // namespace hidbridge

#endif
