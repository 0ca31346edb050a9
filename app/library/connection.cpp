// SPDX-License-Identifier: Apache-2.0
#include "library/connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "library/bridge_list.h"
#include "output/events.h"

ConnectedDeviceRecord ConnectedDevice{};

namespace {

// Identity strings in the order they are fetched.
struct IdentityField {
  uint32_t kind;
  DeviceString ConnectedDeviceRecord::*field;
};

constexpr IdentityField kIdentityFields[] = {
    {HID_UART_GET_VID_STR, &ConnectedDeviceRecord::vendorIdText},
    {HID_UART_GET_PID_STR, &ConnectedDeviceRecord::productIdText},
    {HID_UART_GET_PRODUCT_STR, &ConnectedDeviceRecord::product},
    {HID_UART_GET_MANUFACTURER_STR, &ConnectedDeviceRecord::manufacturer},
    {HID_UART_GET_PATH_STR, &ConnectedDeviceRecord::path},
};

// Index of the first attached bridge whose serial string equals serial.
bool FindBridge(const char* serial, uint32_t* index) {
  uint32_t count = 0;
  if (HidUart_GetNumDevices(&count, 0, 0) != HID_UART_SUCCESS) {
    return false;
  }
  for (uint32_t i = 0; i < std::min(count, kMaxBridgeIndexes); ++i) {
    DeviceString candidate{};
    if (HidUart_GetString(i, 0, 0, candidate, HID_UART_GET_SERIAL_STR) != HID_UART_SUCCESS) {
      continue;
    }
    TerminateDeviceString(candidate);
    if (std::strcmp(candidate, serial) == 0) {
      *index = i;
      return true;
    }
  }
  return false;
}

bool ReportError(const char* serial, HID_UART_STATUS status) {
  EmitConnectFailed(serial, status, ConnectFailure::kError);
  return false;
}

// A handle that was opened but will not be read is closed before the report.
bool CloseAndReportError(const char* serial, HID_UART_DEVICE handle, HID_UART_STATUS status) {
  HidUart_Close(handle);
  return ReportError(serial, status);
}

bool CloseAndReportFailure(const char* serial, HID_UART_DEVICE handle, HID_UART_STATUS status) {
  HidUart_Close(handle);
  EmitConnectFailed(serial, status, ConnectFailure::kNotConnected);
  return false;
}

void FetchIdentity(ConnectedDeviceRecord& device) {
  for (const IdentityField& identity : kIdentityFields) {
    DeviceString& text = device.*identity.field;
    // Cleared first, so that a failing call shows an empty field and never
    // the string of a bridge connected earlier.
    std::memset(text, 0, sizeof text);
    HidUart_GetOpenedString(device.handle, text, identity.kind);
    TerminateDeviceString(text);
  }
}

}  // namespace

bool ConnectBySerial(const char* serial, ConnectedDeviceRecord& device) {
  uint32_t index = 0;
  if (!FindBridge(serial, &index)) {
    return ReportError(serial, HID_UART_DEVICE_NOT_FOUND);
  }

  HID_UART_STATUS status = HidUart_Open(&device.handle, index, 0, 0);
  if (status != HID_UART_SUCCESS) {
    return ReportError(serial, status);
  }
  status = HidUart_GetPartNumber(device.handle, &device.partNumber, &device.version);
  if (status != HID_UART_SUCCESS) {
    return CloseAndReportError(serial, device.handle, status);
  }
  status =
      HidUart_SetUartConfig(device.handle, kConnectionLineSetting.baudRate,
                            kConnectionLineSetting.dataBits, kConnectionLineSetting.parity,
                            kConnectionLineSetting.stopBits, kConnectionLineSetting.flowControl);
  if (status != HID_UART_SUCCESS) {
    return CloseAndReportError(serial, device.handle, status);
  }

  // Zero is never the expected baud rate, so a library that reports success
  // without filling the values fails the comparison.
  hiduart::UartSetting readBack{};
  status = HidUart_GetUartConfig(device.handle, &readBack.baudRate, &readBack.dataBits,
                                 &readBack.parity, &readBack.stopBits, &readBack.flowControl);
  if (status != HID_UART_SUCCESS) {
    return CloseAndReportFailure(serial, device.handle, status);
  }
  if (readBack != kConnectionLineSetting) {
    return CloseAndReportFailure(serial, device.handle, HID_UART_INVALID_PARAMETER);
  }
  status = HidUart_SetTimeouts(device.handle, static_cast<uint32_t>(kConnectionReadTimeout.count()),
                               static_cast<uint32_t>(kConnectionWriteTimeout.count()));
  if (status != HID_UART_SUCCESS) {
    return CloseAndReportFailure(serial, device.handle, status);
  }

  FetchIdentity(device);
  EmitConnected(serial, device);
  return true;
}

bool ConnectBySerial(const char* serial) { return ConnectBySerial(serial, ConnectedDevice); }
