// SPDX-License-Identifier: Apache-2.0
#include "sweep_harness.h"

#include <gtest/gtest.h>

#include "library/connection.h"
#include "modes/sweep.h"

namespace harness {

const char* const kVersionLines =
    "SLABHIDtoUART.dll: Version 6.14 (Release)\n"
    "SLABHIDDevice.dll: Version 1.9 (Debug)\n";

void Reset() {
  fake::Reset();
  ConnectedDevice = ConnectedDeviceRecord{};
}

fake::Bridge& AddBridge(const std::string& serial) {
  fake::State().bridges.emplace_back();
  fake::State().bridges.back().serial = serial;
  return fake::State().bridges.back();
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

std::string ConnectedLines(const std::string& serial, const std::string& vendorId,
                           const std::string& productId, const std::string& path,
                           const std::string& manufacturer, const std::string& product) {
  return "Vendor ID = " + Shown(vendorId) + ", Product ID = " + Shown(productId) +
         "\nPart Number = 10, Version = 1\nPath = " + Shown(path) +
         "\nManufacturer = " + Shown(manufacturer) + "\nProduct = " + Shown(product) +
         "\nConnected to " + Shown(serial) + "\n";
}

std::string BlockLines(const std::string& serial, const std::vector<uint8_t>& bytes) {
  return reports::Report(Shown(serial), bytes);
}

std::string HandleProblems() {
  const fake::Library& library = fake::State();
  std::string problems;
  for (const auto& [handle, closes] : library.closes) {
    if (handle == 0 || handle > library.openedBridge.size()) {
      problems += "closed handle " + std::to_string(handle) + ", which was never opened; ";
    } else if (closes != 1) {
      problems +=
          "closed handle " + std::to_string(handle) + " " + std::to_string(closes) + " times; ";
    }
  }
  for (size_t handle = 1; handle <= library.openedBridge.size(); ++handle) {
    if (library.closes.count(handle) == 0) {
      problems += "never closed handle " + std::to_string(handle) + "; ";
    }
  }
  return problems;
}

}  // namespace harness
