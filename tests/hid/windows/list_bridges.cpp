// SPDX-License-Identifier: Apache-2.0
// Lists the bridges the bridge library beside it sees: the count, then one
// serial string a line. The VM test under wine waits with it until the
// system has found every virtual bridge before the program is started.
#include <cstdio>

#include "hid_uart.h"

int main() {
  uint32_t count = 0;
  if (HidUart_GetNumDevices(&count, 0, 0) != HID_UART_SUCCESS) {
    std::printf("no count\n");
    return 1;
  }
  std::printf("%u\n", count);
  for (uint32_t i = 0; i < count; ++i) {
    char serial[HID_UART_DEVICE_STRLEN] = {};
    if (HidUart_GetString(i, 0, 0, serial, HID_UART_GET_SERIAL_STR) == HID_UART_SUCCESS) {
      serial[HID_UART_DEVICE_STRLEN - 1] = '\0';
      std::printf("%s\n", serial);
    }
  }
  return 0;
}
