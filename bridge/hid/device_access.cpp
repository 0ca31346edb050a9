// SPDX-License-Identifier: Apache-2.0
#include "device_access.h"

#include <thread>

namespace hidbridge {

int DeviceAccess::ReadReport(uint8_t* report, size_t size, int timeoutMs) {
  while (waiting_.load() > 0) {
    std::this_thread::yield();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  return device_ != nullptr ? device_->ReadInputReport(report, size, timeoutMs) : -1;
}

}  // namespace hidbridge
