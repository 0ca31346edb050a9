// SPDX-License-Identifier: Apache-2.0
#include "modes/listing.h"

#include <algorithm>

#include "hid_uart.h"
#include "library/library_path.h"
#include "output/events.h"
#include "output/output.h"
#include "text/device_text.h"

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
