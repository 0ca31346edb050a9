// SPDX-License-Identifier: Apache-2.0
#include "bridge_harness.h"

#include <gtest/gtest.h>

#include "library/connection.h"
#include "modes/sweep.h"

namespace harness {

const char* const kVersionLines =
    "SLABHIDtoUART.dll: Version 6.14 (Release)\n"
    "SLABHIDDevice.dll: Version 1.9 (Debug)\n";

std::string CountLine(int count) {
  return std::string(kVersionLines) +
         "Number of connected CP2110 HID devices = " + std::to_string(count) + "\n";
}

void Reset() {
  fake::Reset();
  ConnectedDevice = ConnectedDeviceRecord{};
}

std::string Sweep() {
  testing::internal::CaptureStdout();
  SweepDevices();
  return testing::internal::GetCapturedStdout();
}

std::string ExpectedStatusText(int64_t status) {
  switch (status) {
    case 0x00:
      return "Success";
    case 0x01:
      return "Device not found";
    case 0x02:
      return "Invalid handle";
    case 0x03:
      return "Invalid device object";
    case 0x04:
      return "Invalid parameter";
    case 0x05:
      return "Invalid request length";
    case 0x10:
      return "Read error";
    case 0x11:
      return "Write error";
    case 0x12:
      return "Read timed out";
    case 0x13:
      return "Write timed out";
    case 0x14:
      return "Device I/O failed";
    case 0x15:
      return "Device access error";
    case 0x16:
      return "Device not supported";
    case 0xFF:
      return "Unknown error";
    default:
      return "Unknown status";
  }
}

std::string IdentityLines(const std::string& vendorId, const std::string& productId,
                          const std::string& path, const std::string& manufacturer,
                          const std::string& product) {
  return "Vendor ID = " + Shown(vendorId) + ", Product ID = " + Shown(productId) +
         "\nPart Number = 10, Version = 1\nPath = " + Shown(path) +
         "\nManufacturer = " + Shown(manufacturer) + "\nProduct = " + Shown(product) + "\n";
}

std::string ConnectedLines(const std::string& serial, const std::string& vendorId,
                           const std::string& productId, const std::string& path,
                           const std::string& manufacturer, const std::string& product) {
  return IdentityLines(vendorId, productId, path, manufacturer, product) + "Connected to " +
         Shown(serial) + "\n";
}

std::string BlockLines(const std::string& serial, const std::vector<uint8_t>& bytes) {
  return reports::Report(Shown(serial), bytes);
}

std::string SettingCall(size_t handle) {
  return "SetUartConfig handle=" + std::to_string(handle) + " " +
         std::to_string(kLineSetting.baudRate) + " " + std::to_string(kLineSetting.dataBits) + " " +
         std::to_string(kLineSetting.parity) + " " + std::to_string(kLineSetting.stopBits) + " " +
         std::to_string(kLineSetting.flowControl) + " -> 0x00";
}

std::string TimeoutsCall(size_t handle, std::chrono::milliseconds readTimeout) {
  return "SetTimeouts handle=" + std::to_string(handle) +
         " read=" + std::to_string(readTimeout.count()) +
         " write=" + std::to_string(kConnectionWriteTimeout) + " -> 0x00";
}

}  // namespace harness
