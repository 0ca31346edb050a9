// SPDX-License-Identifier: Apache-2.0
#include "hidapi_device.h"

#include <hidapi.h>

#include <cerrno>

#include "device_strings.h"

namespace hidbridge {
namespace {

class HidapiDevice : public HidDevice {
 public:
  explicit HidapiDevice(hid_device* device) : device_(device) {}

  int ReadInputReport(uint8_t* report, size_t size, int timeoutMs) override {
    errno = 0;
    const int result = hid_read_timeout(device_, report, size, hungUp_ ? -1 : timeoutMs);
    if (result >= 0 || hungUp_) {
      return result;
    }
    if (errno == EINTR) {
      return ReportSource::kInterrupted;
    }
#if defined(__linux__)
    // hidapi reports the hang-up (a failure with errno untouched, from the
    // poll's result) before the reports the kernel still holds for this
    // reader. Once the device is gone a blocking read never blocks: it hands
    // out what is queued, then fails. So the reports that arrived before the
    // unplug are still delivered.
    if (errno == 0) {
      hungUp_ = true;
      return hid_read_timeout(device_, report, size, -1);
    }
#endif
    return result;
  }

  bool SendFeatureReport(const uint8_t* report, size_t size) override {
    return hid_send_feature_report(device_, report, size) >= 0;
  }

  int GetFeatureReport(uint8_t* report, size_t size) override {
    return hid_get_feature_report(device_, report, size);
  }

  void Close() override {
    const std::lock_guard<std::mutex> lock(HidapiLock());
    hid_close(device_);
    device_ = nullptr;
  }

 private:
  hid_device* device_;
  bool hungUp_ = false;
};

}  // namespace

std::mutex& HidapiLock() {
  static std::mutex lock;
  return lock;
}

HID_UART_STATUS OpenHidapiDevice(const std::string& path, std::unique_ptr<HidDevice>* opened) {
  hid_device* device = nullptr;
  int openError = 0;
  {
    const std::lock_guard<std::mutex> lock(HidapiLock());
    errno = 0;
    device = hid_open_path(path.c_str());
    openError = errno;
  }
  if (device == nullptr) {
    return OpenFailureStatus(openError);
  }
  *opened = std::make_unique<HidapiDevice>(device);
  return HID_UART_SUCCESS;
}

}  // namespace hidbridge
