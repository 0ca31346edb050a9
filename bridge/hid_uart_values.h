// SPDX-License-Identifier: Apache-2.0
// The values of the bridge library interface as C++ code on either side of it
// uses them: the UART setting as one record with its range check, and the text
// of a USB identifier. The codes and limits themselves are hid_uart.h's.
#ifndef KESTRUNE_BRIDGE_HID_UART_VALUES_H
#define KESTRUNE_BRIDGE_HID_UART_VALUES_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "hid_uart.h"

namespace hiduart {

/// The five values of HidUart_SetUartConfig and HidUart_GetUartConfig.
struct UartSetting {
  uint32_t baudRate;
  uint8_t dataBits;
  uint8_t parity;
  uint8_t stopBits;
  uint8_t flowControl;
};

constexpr bool operator==(const UartSetting& a, const UartSetting& b) {
  return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.parity == b.parity &&
         a.stopBits == b.stopBits && a.flowControl == b.flowControl;
}

constexpr bool operator!=(const UartSetting& a, const UartSetting& b) { return !(a == b); }

/// True when the baud rate is within the UART's range and every other field
/// holds one of its codes.
constexpr bool IsValid(const UartSetting& setting) {
  return setting.baudRate >= HID_UART_MIN_BAUD_RATE && setting.baudRate <= HID_UART_MAX_BAUD_RATE &&
         setting.dataBits <= HID_UART_EIGHT_DATA_BITS && setting.parity <= HID_UART_SPACE_PARITY &&
         setting.stopBits <= HID_UART_LONG_STOP_BIT &&
         setting.flowControl <= HID_UART_RTS_CTS_FLOW_CONTROL;
}

/// A USB identifier as the vendor and product ID strings give it: four
/// upper-case hex digits.
inline std::string UsbIdText(uint16_t id) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
  return text;
}

}  // namespace hiduart

#endif
