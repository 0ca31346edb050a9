// SPDX-License-Identifier: Apache-2.0
// One opened device shared by its reader thread and the callers of the
// operations, with the turns that keep their calls apart.
#ifndef KESTRUNE_BRIDGE_HID_DEVICE_ACCESS_H
#define KESTRUNE_BRIDGE_HID_DEVICE_ACCESS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "hid_device.h"
#include "uart_receiver.h"

namespace hidbridge {

/// hidapi keeps per-device error state that its calls rewrite without a
/// lock, so calls on one device never overlap: the reader takes the device
/// between two waits of at most kDrainPollMs, and steps aside while a
/// request waits. After Close nothing reaches the device again.
class DeviceAccess : public ReportSource {
 public:
  explicit DeviceAccess(std::unique_ptr<HidDevice> device) : device_(std::move(device)) {}

  DeviceAccess(const DeviceAccess&) = delete;
  DeviceAccess& operator=(const DeviceAccess&) = delete;

  /// Runs call(HidDevice&) with the device to itself, ahead of the reader.
  /// Returns what call returns; -1, without calling it, once the device is
  /// closed.
  template <typename Call>
  int Request(Call call) {
    const Turn turn(*this);
    return device_ != nullptr ? call(*device_) : -1;
  }

  /// Runs lastCall(HidDevice&) as Request does, then closes the device in
  /// the same turn, so that no request comes between them. Returns what
  /// lastCall returns; -1, calling nothing, when the device was closed
  /// already.
  template <typename Call>
  int Close(Call lastCall) {
    const Turn turn(*this);
    if (device_ == nullptr) {
      return -1;
    }
    const int result = lastCall(*device_);
    device_->Close();
    device_.reset();
    return result;
  }

  /// The reader's read: waits while requests are queued, then reads one
  /// input report as HidDevice::ReadInputReport does. Returns -1 once the
  /// device is closed.
  int ReadReport(uint8_t* report, size_t size, int timeoutMs) override;

 private:
  // A request's turn: the reader lets it go first.
  class Turn {
   public:
    explicit Turn(DeviceAccess& access) : access_(access) {
      ++access_.waiting_;
      access_.mutex_.lock();
      --access_.waiting_;
    }
    ~Turn() { access_.mutex_.unlock(); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    DeviceAccess& access_;
  };

  std::mutex mutex_;
  std::atomic<int> waiting_{0};
  std::unique_ptr<HidDevice> device_;  // null once closed
};

}  // namespace hidbridge

#endif
