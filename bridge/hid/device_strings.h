// SPDX-License-Identifier: Apache-2.0
// Identity strings as the library hands them to its callers, and the status
// a failed open maps to.
#ifndef KESTRUNE_BRIDGE_HID_DEVICE_STRINGS_H
#define KESTRUNE_BRIDGE_HID_DEVICE_STRINGS_H

#include <cstdint>
#include <string>

#include "hid_uart.h"

namespace hidbridge {

/// UTF-8 form of a wide string from the operating system; null gives "".
/// Code points that UTF-8 cannot carry become '?'.
std::string WideToUtf8(const wchar_t* text);

/// Copies text into a caller's device string of HID_UART_DEVICE_STRLEN bytes,
/// NUL included. A longer text is cut at a character boundary, so the result
/// is never a broken UTF-8 sequence.
void CopyDeviceString(const std::string& text, char* deviceString);

/// Status for an open that failed with this errno: access denied and a node
/// that vanished are told apart, anything else is an access error.
HID_UART_STATUS OpenFailureStatus(int error);

}  // namespace hidbridge

#endif
