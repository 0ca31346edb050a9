// SPDX-License-Identifier: Apache-2.0
#include "enumeration.h"

#include <hidapi.h>

#include <mutex>
#include <set>

#include "cp2110_reports.h"
#include "device_strings.h"
#include "hidapi_device.h"

namespace hidbridge {

const std::string* IdentityField(const Identity& identity, uint32_t kind) {
  switch (kind) {
    case HID_UART_GET_VID_STR:
      return &identity.vendorId;
    case HID_UART_GET_PID_STR:
      return &identity.productId;
    case HID_UART_GET_PATH_STR:
      return &identity.path;
    case HID_UART_GET_SERIAL_STR:
      return &identity.serial;
    case HID_UART_GET_MANUFACTURER_STR:
      return &identity.manufacturer;
    case HID_UART_GET_PRODUCT_STR:
      return &identity.product;
    default:
      return nullptr;
  }
}

bool Enumerate(uint16_t vid, uint16_t pid, std::vector<Identity>* bridges) {
  const std::lock_guard<std::mutex> lock(HidapiLock());
  if (hid_init() != 0) {
    return false;
  }
  hid_device_info* list =
      hid_enumerate(vid != 0 ? vid : kDefaultVendorId, pid != 0 ? pid : kDefaultProductId);
  std::set<std::string> seen;
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    if (info->path == nullptr || !seen.insert(info->path).second) {
      continue;
    }
    bridges->push_back(
        Identity{hiduart::UsbIdText(info->vendor_id), hiduart::UsbIdText(info->product_id),
                 info->path, WideToUtf8(info->serial_number), WideToUtf8(info->manufacturer_string),
                 WideToUtf8(info->product_string)});
  }
  hid_free_enumeration(list);
  return true;
}

HID_UART_STATUS FindAttached(uint32_t deviceNum, uint16_t vid, uint16_t pid, Identity* found) {
  std::vector<Identity> bridges;
  if (!Enumerate(vid, pid, &bridges)) {
    return HID_UART_DEVICE_ACCESS_ERROR;
  }
  if (deviceNum >= bridges.size()) {
    return HID_UART_DEVICE_NOT_FOUND;
  }
  *found = bridges[deviceNum];
  return HID_UART_SUCCESS;
}

}  // namespace hidbridge
