// SPDX-License-Identifier: Apache-2.0
// Device strings as the program prints them.
//
// Serial and identity strings come from the bridge, so they are untrusted:
// a buffer may lack its terminating NUL, and a hostile device could send
// terminal control sequences to the operator's console.
#ifndef KESTRUNE_APP_DEVICE_TEXT_H
#define KESTRUNE_APP_DEVICE_TEXT_H

#include <string>
#include <string_view>

#include "hid_uart.h"

/// A device string buffer, as the bridge library fills it.
using DeviceString = char[HID_UART_DEVICE_STRLEN];

/// Forces the string to end within its buffer, whatever the library wrote.
void TerminateDeviceString(DeviceString& text);

/// A device string's bytes: up to its NUL, and never more than a device
/// string buffer holds.
std::string_view DeviceBytes(const char* text);

/// A device string made safe to print: each byte 0x01..0x1F and 0x7F is shown
/// as \xNN (two upper-case hex digits); every other byte stands unchanged.
struct PrintableText {
  char text[4 * HID_UART_DEVICE_STRLEN];
};

/// The printable form of a NUL-terminated string; a longer string than a
/// device string can hold is cut at HID_UART_DEVICE_STRLEN - 1 bytes.
PrintableText Printable(const char* text);

/// The same form for a text of any length that did not come from a bridge's
/// buffer, such as a file's path.
std::string PrintableString(std::string_view text);

#endif
