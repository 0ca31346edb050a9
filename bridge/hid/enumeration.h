// SPDX-License-Identifier: Apache-2.0
// The bridges attached now, as hidapi lists them, and the strings that
// identify each one.
#ifndef KESTRUNE_BRIDGE_HID_ENUMERATION_H
#define KESTRUNE_BRIDGE_HID_ENUMERATION_H

#include <cstdint>
#include <string>
#include <vector>

#include "hid_uart.h"

namespace hidbridge {

/// What identifies one bridge: the strings HidUart_GetString and
/// HidUart_GetOpenedString hand out.
struct Identity {
  std::string vendorId;
  std::string productId;
  std::string path;
  std::string serial;
  std::string manufacturer;
  std::string product;
};

/// The field of identity that a string kind (HID_UART_GET_*_STR) names;
/// null for any other kind.
const std::string* IdentityField(const Identity& identity, uint32_t kind);

/// Appends the attached bridges matching the filters to *bridges, in the
/// order the system lists them. A filter of 0 stands for the chip's default
/// identifier. A device with several top-level collections is listed once
/// per collection; it is one bridge, so each path is kept once. Returns
/// false, with nothing appended, when hidapi cannot start.
bool Enumerate(uint16_t vid, uint16_t pid, std::vector<Identity>* bridges);

/// The bridge at an index among those attached now: HID_UART_SUCCESS with
/// *found set; HID_UART_DEVICE_NOT_FOUND when fewer are attached;
/// HID_UART_DEVICE_ACCESS_ERROR when they cannot be listed.
HID_UART_STATUS FindAttached(uint32_t deviceNum, uint16_t vid, uint16_t pid, Identity* found);

}  // namespace hidbridge

#endif
