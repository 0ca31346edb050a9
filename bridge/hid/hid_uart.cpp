// SPDX-License-Identifier: Apache-2.0
// The twelve bridge operations over hidapi's hidraw backend: CP2110 bridges
// are found, opened and read through the kernel's HID interface, with no
// closed library anywhere. Listing is in enumeration.cpp, the device access
// in hidapi_device.cpp and device_access.h, an opened bridge and its reader
// in opened_bridge.cpp, the handles in handle_table.cpp.
#include "hid_uart.h"

#include <hidapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cp2110_reports.h"
#include "cp2110_requests.h"
#include "device_strings.h"
#include "enumeration.h"
#include "handle_table.h"
#include "hidapi_device.h"
#include "opened_bridge.h"

namespace {

using namespace hidbridge;

// Never destroyed: a bridge still open when the process ends keeps its
// reader to the last.
HandleTable& Bridges() {
  static auto* table = new HandleTable;
  return *table;
}

HID_UART_STATUS ReportVersion(uint8_t major, uint8_t minor, HID_UART_BOOL isRelease,
                              uint8_t* outMajor, uint8_t* outMinor, HID_UART_BOOL* release) {
  if (outMajor == nullptr || outMinor == nullptr || release == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  *outMajor = major;
  *outMinor = minor;
  *release = isRelease;
  return HID_UART_SUCCESS;
}

#ifdef NDEBUG
constexpr HID_UART_BOOL kReleaseBuild = 1;
#else
constexpr HID_UART_BOOL kReleaseBuild = 0;
#endif

}  // namespace

extern "C" {

HID_UART_STATUS HidUart_GetLibraryVersion(uint8_t* major, uint8_t* minor, HID_UART_BOOL* release) {
  return ReportVersion(KESTRUNE_VERSION_MAJOR, KESTRUNE_VERSION_MINOR, kReleaseBuild, major, minor,
                       release);
}

HID_UART_STATUS HidUart_GetHidLibraryVersion(uint8_t* major, uint8_t* minor,
                                             HID_UART_BOOL* release) {
  const hid_api_version* version = hid_version();
  return ReportVersion(static_cast<uint8_t>(version->major), static_cast<uint8_t>(version->minor),
                       1, major, minor, release);
}

HID_UART_STATUS HidUart_GetNumDevices(uint32_t* numDevices, uint16_t vid, uint16_t pid) {
  if (numDevices == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  std::vector<Identity> bridges;
  if (!Enumerate(vid, pid, &bridges)) {
    return HID_UART_DEVICE_ACCESS_ERROR;
  }
  *numDevices = static_cast<uint32_t>(bridges.size());
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetString(uint32_t deviceNum, uint16_t vid, uint16_t pid,
                                  char* deviceString, uint32_t options) {
  if (deviceString == nullptr || IdentityField(Identity{}, options) == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  Identity bridge;
  const HID_UART_STATUS status = FindAttached(deviceNum, vid, pid, &bridge);
  if (status != HID_UART_SUCCESS) {
    return status;
  }
  CopyDeviceString(*IdentityField(bridge, options), deviceString);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_Open(HID_UART_DEVICE* device, uint32_t deviceNum, uint16_t vid,
                             uint16_t pid) {
  if (device == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  Identity identity;
  const HID_UART_STATUS status = FindAttached(deviceNum, vid, pid, &identity);
  if (status != HID_UART_SUCCESS) {
    return status;
  }
  std::unique_ptr<HidDevice> opened;
  const HID_UART_STATUS openStatus = OpenHidapiDevice(identity.path, &opened);
  if (openStatus != HID_UART_SUCCESS) {
    return openStatus;
  }
  // The UART carries data only while enabled.
  if (!SetUartEnabled(*opened, true) || !PurgeReceived(*opened)) {
    opened->Close();
    return HID_UART_DEVICE_IO_FAILED;
  }
  *device = Bridges().Add(std::make_shared<OpenedBridge>(std::move(opened), std::move(identity)));
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                      uint8_t* version) {
  const std::shared_ptr<OpenedBridge> bridge = Bridges().Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (partNumber == nullptr || version == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kMaxReportSize];
  const int size = bridge->access().Request(
      [&](HidDevice& d) { return GetFeature(d, kVersionReportId, report); });
  if (size < 0 || !DecodeVersion(report, static_cast<size_t>(size), partNumber, version)) {
    return HID_UART_DEVICE_IO_FAILED;
  }
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate, uint8_t dataBits,
                                      uint8_t parity, uint8_t stopBits, uint8_t flowControl) {
  const std::shared_ptr<OpenedBridge> bridge = Bridges().Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  const hiduart::UartSetting config{baudRate, dataBits, parity, stopBits, flowControl};
  if (!hiduart::IsValid(config)) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kUartConfigReportSize];
  EncodeUartConfig(config, report);
  const int sent = bridge->access().Request(
      [&](HidDevice& d) { return d.SendFeatureReport(report, sizeof report) ? 0 : -1; });
  return sent == 0 ? HID_UART_SUCCESS : HID_UART_DEVICE_IO_FAILED;
}

HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate, uint8_t* dataBits,
                                      uint8_t* parity, uint8_t* stopBits, uint8_t* flowControl) {
  const std::shared_ptr<OpenedBridge> bridge = Bridges().Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (baudRate == nullptr || dataBits == nullptr || parity == nullptr || stopBits == nullptr ||
      flowControl == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kMaxReportSize];
  hiduart::UartSetting config{};
  const int size = bridge->access().Request(
      [&](HidDevice& d) { return GetFeature(d, kUartConfigReportId, report); });
  if (size < 0 || !DecodeUartConfig(report, static_cast<size_t>(size), &config)) {
    return HID_UART_DEVICE_IO_FAILED;
  }
  *baudRate = config.baudRate;
  *dataBits = config.dataBits;
  *parity = config.parity;
  *stopBits = config.stopBits;
  *flowControl = config.flowControl;
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_SetTimeouts(HID_UART_DEVICE device, uint32_t readTimeout,
                                    uint32_t writeTimeout) {
  const std::shared_ptr<OpenedBridge> bridge = Bridges().Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  bridge->SetTimeouts(readTimeout, writeTimeout);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                        uint32_t options) {
  const std::shared_ptr<OpenedBridge> bridge = Bridges().Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  const std::string* field = IdentityField(bridge->identity(), options);
  if (deviceString == nullptr || field == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  CopyDeviceString(*field, deviceString);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_Read(HID_UART_DEVICE device, uint8_t* buffer, uint32_t numBytesToRead,
                             uint32_t* numBytesRead) {
  const std::shared_ptr<OpenedBridge> bridge = Bridges().Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (buffer == nullptr || numBytesRead == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  *numBytesRead = 0;
  if (numBytesToRead == 0) {
    return HID_UART_INVALID_REQUEST_LENGTH;
  }
  return bridge->Read(buffer, numBytesToRead, numBytesRead);
}

HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device) { return Bridges().Close(device); }

}  // extern "C"
