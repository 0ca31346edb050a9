// SPDX-License-Identifier: Apache-2.0
#include "bridge_list.h"

#include <algorithm>

#include "device_text.h"
#include "events.h"
#include "hid_uart.h"
#include "library_path.h"
#include "output.h"

namespace {

// More serial strings than any machine can attach bridges; a library claiming
// billions of them cannot make the program exhaust memory.
constexpr size_t kMaxSerials = 1 << 16;

}  // namespace

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
  for (uint32_t index = 0; index < count; ++index) {
    DeviceString serial{};
    if (HidUart_GetString(index, 0, 0, serial, HID_UART_GET_SERIAL_STR) != HID_UART_SUCCESS) {
      continue;
    }
    TerminateDeviceString(serial);
    if (serials.size() < kMaxSerials) {
      serials.emplace_back(serial);
    }
  }
  return serials;
}

void ListBridges() {
  ListedLibrary library{};
  library.path = BridgeLibraryPath();
  LibraryVersion& version = library.library.value;
  library.library.status =
      HidUart_GetLibraryVersion(&version.major, &version.minor, &version.release);
  LibraryVersion& hidVersion = library.hidLibrary.value;
  library.hidLibrary.status =
      HidUart_GetHidLibraryVersion(&hidVersion.major, &hidVersion.minor, &hidVersion.release);
  library.bridges.status = HidUart_GetNumDevices(&library.bridges.value, 0, 0);
  if (library.bridges.status == HID_UART_SUCCESS) {
    library.listed = std::min(library.bridges.value, kMaxListedBridges);
  }
  EmitListedLibrary(library);

  // Nobody reads the rest once standard output has failed for good.
  for (uint32_t index = 0; index < library.listed && !OutputFailed(); ++index) {
    ListedBridge bridge{};
    bridge.index = index;
    for (uint32_t kind :
         {HID_UART_GET_SERIAL_STR, HID_UART_GET_VID_STR, HID_UART_GET_PID_STR,
          HID_UART_GET_PATH_STR, HID_UART_GET_MANUFACTURER_STR, HID_UART_GET_PRODUCT_STR}) {
      Given<DeviceString>& text = bridge.strings[kind];
      text.status = HidUart_GetString(index, 0, 0, text.value, kind);
      TerminateDeviceString(text.value);
      if (kind == HID_UART_GET_SERIAL_STR && text.status == HID_UART_DEVICE_NOT_FOUND) {
        break;
      }
    }
    EmitListedBridge(bridge);
  }
}
