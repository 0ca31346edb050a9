// SPDX-License-Identifier: Apache-2.0
#include "modes/sweep.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_bridge.h"
#include "library/connection.h"

namespace {

constexpr const char* kVersionLines =
    "SLABHIDtoUART.dll: Version 6.14 (Release)\n"
    "SLABHIDDevice.dll: Version 1.9 (Debug)\n";

std::string ConnectedLines(const std::string& serial) {
  return "Vendor ID = 10C4, Product ID = EA80\nPart Number = 10, Version = 1\n"
         "Path = fake/0\nManufacturer = Maker\nProduct = Bridge\nConnected to " +
         serial + "\n";
}

std::string FiveByteTag(const std::string& serial) {
  return ">>>[DATA FROM " + serial +
         ", 5 BYTE]\n  0x123456789A\n  HEX (64-bit): 000000123456789A\n"
         "  Decimal (10 Digits): 0001193046\n<<<\n";
}

const std::vector<uint8_t> kFrame = {0x12, 0x34, 0x56, 0x78, 0x9A};

class SweepTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    ConnectedDevice = ConnectedDeviceRecord{};
  }

  static fake::Bridge& AddBridge(const std::string& serial) {
    fake::State().bridges.emplace_back();
    fake::State().bridges.back().serial = serial;
    return fake::State().bridges.back();
  }

  static std::string Sweep() {
    testing::internal::CaptureStdout();
    SweepDevices();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(SweepTest, VersionLinesShowWhatTheCallsLeftStartingFromZero) {
  fake::State().numDevicesStatus = {0x14};
  fake::State().libraryVersionStatus = 0x14;
  EXPECT_EQ(Sweep(),
            "SLABHIDtoUART.dll: Version 0.0 (Debug)\nSLABHIDDevice.dll: Version 1.9 (Debug)\n");

  fake::Reset();
  fake::State().numDevicesStatus = {0x14};
  fake::State().hidVersionStatus = 0x01;
  EXPECT_EQ(
      Sweep(),
      "SLABHIDtoUART.dll: Version 6.14 (Release)\nSLABHIDDevice.dll: Version 6.14 (Release)\n")
      << "the second call's values are not reset after the first";
}

TEST_F(SweepTest, EndsSilentlyWhenTheCountCannotBeHad) {
  fake::State().numDevicesStatus = {0xFF};
  AddBridge("S1");
  EXPECT_EQ(Sweep(), kVersionLines);
  EXPECT_TRUE(fake::CallsStartingWith("GetString").empty());
}

TEST_F(SweepTest, NoBridgeAttached) {
  EXPECT_EQ(Sweep(), std::string(kVersionLines) + "Number of connected CP2110 HID devices = 0\n");
}

TEST_F(SweepTest, ReportsEveryNonEmptyBlockUntilAReadFails) {
  fake::Bridge& bridge = AddBridge("S1");
  bridge.reads = {{0x12, kFrame, {}}, {0x12, {}, {}}, {0x00, kFrame, {}}};
  EXPECT_EQ(Sweep(), std::string(kVersionLines) + "Number of connected CP2110 HID devices = 1\n" +
                         ConnectedLines("S1") + FiveByteTag("S1") + FiveByteTag("S1"));
  EXPECT_EQ(fake::CallsStartingWith("Read handle=1 request=1000").size(), 4u);
  EXPECT_EQ(fake::State().closes[1], 1) << "the handle is closed once its loop ends";
}

TEST_F(SweepTest, AFailingReadEndsTheLoopWithoutReportingItsBytes) {
  const HID_UART_STATUS endings[] = {0x01, 0x10, 0x11,  0x13, 0x14,  0x15,
                                     0x7F, 0xFF, 0x100, -1,   -0x12, INT32_MIN};
  for (HID_UART_STATUS status : endings) {
    fake::Reset();
    fake::Bridge& first = AddBridge("S1");
    first.reads = {{status, kFrame, {}}, {0x12, kFrame, {}}};
    AddBridge("S2").reads = {{0x12, {0xAB}, {}}};
    const std::string output = Sweep();
    EXPECT_EQ(output.find("DATA FROM S1"), std::string::npos) << "status " << status;
    EXPECT_NE(output.find(">>>[DATA FROM S2, 1 BYTE]"), std::string::npos)
        << "status " << status << ": the sweep goes on with the next index";
    EXPECT_EQ(fake::CallsStartingWith("Read handle=1").size(), 1u) << "status " << status;
  }
}

TEST_F(SweepTest, ACountAboveTheRequestNeverReachesPastTheBuffer) {
  std::vector<uint8_t> full(1000, 0x5A);
  fake::Bridge& bridge = AddBridge("S1");
  bridge.reads = {{0x12, full, 5000u}, {0x00, full, UINT32_MAX}};
  std::string hex;
  for (int i = 0; i < 1000; ++i) {
    hex += "5A";
  }
  const std::string block = ">>>[DATA FROM S1, 1000 BYTE]\n  0x" + hex +
                            "\n  HEX (64-bit): 5A5A5A5A5A5A5A5A\n"
                            "  Decimal (10 Digits): 1515870810\n<<<\n";
  EXPECT_EQ(Sweep(), std::string(kVersionLines) + "Number of connected CP2110 HID devices = 1\n" +
                         ConnectedLines("S1") + block + block);
}

TEST_F(SweepTest, SkipsIndexesWhoseSerialOrConnectionFails) {
  AddBridge("S0").failures["GetString"] = 0x14;
  AddBridge("S1").failures["Open"] = 0x15;
  AddBridge("S2").readBackBaud = 4800;
  AddBridge("S3").reads = {{0x12, kFrame, {}}};
  EXPECT_EQ(Sweep(), std::string(kVersionLines) +
                         "Number of connected CP2110 HID devices = 4\n"
                         "Error: Device access error\n"
                         "Failed to connect to S2: Invalid parameter\nNot Connected\n" +
                         ConnectedLines("S3") + FiveByteTag("S3"));
  // Handle 1 is S2's, closed by its failure report; handle 2 is S3's.
  EXPECT_EQ(fake::State().closes, (std::map<size_t, int>{{1, 1}, {2, 1}}));
}

TEST_F(SweepTest, TwoBridgesWithOneSerialAreBothReadThroughTheFirst) {
  AddBridge("S1").reads = {{0x12, kFrame, {}}, {0x14, {}, {}}, {0x12, {0xAB}, {}}};
  AddBridge("S1").reads = {{0x12, {0xCD}, {}}};
  const std::string output = Sweep();
  EXPECT_EQ(fake::CallsStartingWith("Open"),
            (std::vector<std::string>{"Open index=0 vid=0 pid=0 handle=1 -> 0x00",
                                      "Open index=0 vid=0 pid=0 handle=2 -> 0x00"}));
  EXPECT_NE(output.find("  0xAB\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("  0xCD\n"), std::string::npos) << output;
}

}  // namespace
