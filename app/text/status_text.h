// SPDX-License-Identifier: Apache-2.0
// Texts of the bridge library's status codes, as printed in failure lines.
#ifndef KESTRUNE_APP_STATUS_TEXT_H
#define KESTRUNE_APP_STATUS_TEXT_H

#include <string>

#include "hid_uart.h"

/// The text of a status code: one of the library's known codes, or
/// "Unknown status" for every other value, in or out of 0x00..0xFF.
std::string StatusText(HID_UART_STATUS code);

#endif
