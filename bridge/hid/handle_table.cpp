// SPDX-License-Identifier: Apache-2.0
#include "handle_table.h"

#include <utility>

namespace hidbridge {

HID_UART_DEVICE HandleTable::Add(std::shared_ptr<OpenedBridge> bridge) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const uintptr_t handle = nextHandle_++;
  bridges_.emplace(handle, std::move(bridge));
  return reinterpret_cast<HID_UART_DEVICE>(handle);
}

std::shared_ptr<OpenedBridge> HandleTable::Find(HID_UART_DEVICE handle) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = bridges_.find(reinterpret_cast<uintptr_t>(handle));
  return found == bridges_.end() ? nullptr : found->second;
}

HID_UART_STATUS HandleTable::Close(HID_UART_DEVICE handle) {
  std::shared_ptr<OpenedBridge> bridge;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = bridges_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == bridges_.end()) {
      return HID_UART_INVALID_HANDLE;
    }
    bridge = std::move(found->second);
    bridges_.erase(found);
  }
  return bridge->Close();
}

}  // namespace hidbridge
