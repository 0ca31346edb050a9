// SPDX-License-Identifier: Apache-2.0
// The handles the operations hand out, and the opened bridge behind each.
#ifndef KESTRUNE_BRIDGE_HID_HANDLE_TABLE_H
#define KESTRUNE_BRIDGE_HID_HANDLE_TABLE_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "hid_uart.h"
#include "opened_bridge.h"

namespace hidbridge {

/// Handles are numbers, never addresses, so that a handle used after its
/// close is recognised as invalid instead of reaching freed memory or
/// another bridge. The table's lock is held only to add, look up or take out
/// a handle; each bridge guards its own state, and a caller that found a
/// bridge keeps it alive until its call ends, even if a close takes it out
/// meanwhile. Safe to use from any number of threads.
class HandleTable {
 public:
  /// Adds an opened bridge. Returns its handle: never null, never one that
  /// was handed out before.
  HID_UART_DEVICE Add(std::shared_ptr<OpenedBridge> bridge);

  /// The bridge open under handle; null when the handle is not open (null,
  /// never handed out, or closed already).
  std::shared_ptr<OpenedBridge> Find(HID_UART_DEVICE handle) const;

  /// Takes the bridge out of the table, then closes it (OpenedBridge::Close)
  /// and returns its status; HID_UART_INVALID_HANDLE when the handle is not
  /// open, as for the second of two closes, even at once.
  HID_UART_STATUS Close(HID_UART_DEVICE handle);

 private:
  mutable std::mutex mutex_;
  std::map<uintptr_t, std::shared_ptr<OpenedBridge>> bridges_;
  uintptr_t nextHandle_ = 1;
};

}  // namespace hidbridge

#endif
