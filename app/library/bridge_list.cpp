// SPDX-License-Identifier: Apache-2.0
#include "library/bridge_list.h"

#include <algorithm>

#include "hid_uart.h"
#include "output/events.h"
#include "text/device_text.h"

void ReportLibraryVersions() {
  // One set of values for both libraries, not reset in between, and zero at
  // first, so that a failing call never shows uninitialised memory.
  LibraryVersion version{};
  HidUart_GetLibraryVersion(&version.major, &version.minor, &version.release);
  const LibraryVersion library = version;
  HidUart_GetHidLibraryVersion(&version.major, &version.minor, &version.release);
  EmitStart(library, version);
}

std::vector<std::string> CollectSerials(uint32_t count) {
  std::vector<std::string> serials;
  for (uint32_t index = 0; index < std::min(count, kMaxBridgeIndexes); ++index) {
    DeviceString serial{};
    if (HidUart_GetString(index, 0, 0, serial, HID_UART_GET_SERIAL_STR) != HID_UART_SUCCESS) {
      continue;
    }
    TerminateDeviceString(serial);
    serials.emplace_back(serial);
  }
  return serials;
}
