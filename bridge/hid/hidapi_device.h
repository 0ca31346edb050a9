// SPDX-License-Identifier: Apache-2.0
// HidDevice over hidapi: the device access of the library as built.
#ifndef KESTRUNE_BRIDGE_HID_HIDAPI_DEVICE_H
#define KESTRUNE_BRIDGE_HID_HIDAPI_DEVICE_H

#include <memory>
#include <mutex>
#include <string>

#include "hid_device.h"
#include "hid_uart.h"

namespace hidbridge {

/// hidapi keeps global state while it lists, opens and closes devices: every
/// hid_init, hid_enumerate, hid_open_path and hid_close is made under this
/// lock, so none of them ever overlap, whatever the caller does.
std::mutex& HidapiLock();

/// Opens the HID device at a path hidapi listed. Returns HID_UART_SUCCESS
/// with *opened set; else the status OpenFailureStatus gives for the
/// system's error (access denied, vanished node, other access errors), with
/// *opened untouched.
HID_UART_STATUS OpenHidapiDevice(const std::string& path, std::unique_ptr<HidDevice>* opened);

}  // namespace hidbridge

#endif
