// SPDX-License-Identifier: Apache-2.0
#include "bridge_harness.h"

#include <gtest/gtest.h>

#include <map>

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
  static const std::map<int64_t, std::string> kKnown = {
      {0x00, "Success"},
      {0x01, "Device not found"},
      {0x02, "Invalid handle"},
      {0x03, "Invalid device object"},
      {0x04, "Invalid parameter"},
      {0x05, "Invalid request length"},
      {0x10, "Read error"},
      {0x11, "Write error"},
      {0x12, "Read timed out"},
      {0x13, "Write timed out"},
      {0x14, "Device I/O failed"},
      {0x15, "Device access error"},
      {0x16, "Device not supported"},
      {0xFF, "Unknown error"},
  };
  const auto found = kKnown.find(status);
  return found == kKnown.end() ? "Unknown status" : found->second;
}

std::string IdentityLines(const std::string& vendorId, const std::string& productId,
                          const std::string& path, const std::string& manufacturer,
                          const std::string& product) {
  return "Vendor ID = " + Shown(vendorId) + ", Product ID = " + Shown(productId) +
         "\nPart Number = 10, Version = 1\nPath = " + Shown(path) +
         "\nManufacturer = " + Shown(manufacturer) + "\nProduct = " + Shown(product) + "\n";
}

std::string ConnectedLines(const std::string& serial, const std::string& identity) {
  return identity + "Connected to " + Shown(serial) + "\n";
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
         " write=" + std::to_string(kConnectionWriteTimeout.count()) + " -> 0x00";
}

}  // namespace harness
