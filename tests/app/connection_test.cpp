// SPDX-License-Identifier: Apache-2.0
#include "library/connection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bridge_harness.h"
#include "fake_bridge.h"

namespace {

using harness::AddBridge;

class ConnectBySerialTest : public testing::Test {
 protected:
  void SetUp() override { harness::Reset(); }

  // Output of one connection attempt; its result goes to *connected.
  static std::string Connect(const char* serial, bool* connected) {
    testing::internal::CaptureStdout();
    *connected = ConnectBySerial(serial);
    return testing::internal::GetCapturedStdout();
  }
};

// A setting read back that differs in any field; every step failing with
// every status is in tests/reliability/fault_matrix_test.cpp.
TEST_F(ConnectBySerialTest, ASettingReadBackThatDiffersIsRefusedAndItsHandleClosed) {
  const struct {
    const char* name;
    std::function<void(fake::Bridge&)> differ;
  } cases[] = {
      {"baud rate", [](fake::Bridge& b) { b.readBackBaud = 4800; }},
      {"data bits", [](fake::Bridge& b) { b.readBackDataBits = 2; }},
      {"parity", [](fake::Bridge& b) { b.readBackParity = 2; }},
      {"stop bits", [](fake::Bridge& b) { b.readBackStopBits = 1; }},
      {"flow control", [](fake::Bridge& b) { b.readBackFlowControl = 1; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    c.differ(AddBridge("S1"));
    bool connected = true;
    EXPECT_EQ(Connect("S1", &connected),
              "Failed to connect to S1: Invalid parameter\nNot Connected\n");
    EXPECT_FALSE(connected);
    EXPECT_EQ(fake::HandleProblems(), "");
  }
}

TEST_F(ConnectBySerialTest, ABridgeThatCannotBeFoundIsNotOpened) {
  const struct {
    const char* name;
    std::function<void()> setUp;
  } cases[] = {
      {"no such serial", [] { fake::State().bridges[0].serial = "S2"; }},
      {"serial differs in case", [] { fake::State().bridges[0].serial = "s1"; }},
      {"serial is a longer string", [] { fake::State().bridges[0].serial = "S10"; }},
      {"serial cannot be had", [] { fake::State().bridges[0].failures["GetString"] = 0x14; }},
      {"count call fails", [] { fake::State().numDevicesStatus = {0x14}; }},
      {"unplugged", [] { fake::State().bridges.clear(); }},
  };
  for (const auto& c : cases) {
    fake::Reset();
    AddBridge("S1");
    c.setUp();
    bool connected = true;
    EXPECT_EQ(Connect("S1", &connected), "Error: Device not found\n") << "case: " << c.name;
    EXPECT_FALSE(connected) << "case: " << c.name;
    EXPECT_TRUE(fake::CallsStartingWith("Open").empty()) << "case: " << c.name;
  }
}

TEST_F(ConnectBySerialTest, PassesTheFixedSettingTimeoutsAndStringKindsInOrder) {
  AddBridge("S1");
  bool connected = false;
  EXPECT_EQ(Connect("S1", &connected), harness::ConnectedLines("S1"));
  ASSERT_TRUE(connected);
  // Nothing closed: the handle is handed over.
  const std::vector<std::string> expected = {
      "GetNumDevices vid=0 pid=0 -> 0x00",
      "GetString index=0 vid=0 pid=0 kind=4 -> 0x00",
      "Open index=0 vid=0 pid=0 handle=1 -> 0x00",
      "GetPartNumber handle=1 -> 0x00",
      harness::SettingCall(1),
      "GetUartConfig handle=1 -> 0x00",
      harness::TimeoutsCall(1),
      "GetOpenedString handle=1 kind=1 -> 0x00",
      "GetOpenedString handle=1 kind=2 -> 0x00",
      "GetOpenedString handle=1 kind=6 -> 0x00",
      "GetOpenedString handle=1 kind=5 -> 0x00",
      "GetOpenedString handle=1 kind=3 -> 0x00",
  };
  EXPECT_EQ(fake::State().calls, expected);
  EXPECT_EQ(ConnectedDevice.handle, reinterpret_cast<HID_UART_DEVICE>(1));
}

TEST_F(ConnectBySerialTest, TheFirstOfTwoBridgesWithOneSerialIsOpened) {
  AddBridge("S0");
  AddBridge("S1");
  AddBridge("S1");
  bool connected = false;
  Connect("S1", &connected);
  EXPECT_TRUE(connected);
  EXPECT_EQ(fake::CallsStartingWith("Open"),
            std::vector<std::string>{"Open index=1 vid=0 pid=0 handle=1 -> 0x00"});
}

TEST_F(ConnectBySerialTest, AFailedStringNeverShowsAnEarlierBridgesValue) {
  AddBridge("S0");
  AddBridge("S1").failures["GetOpenedString"] = 0x14;
  bool connected = false;
  Connect("S0", &connected);
  ASSERT_TRUE(connected);
  EXPECT_EQ(Connect("S1", &connected),
            harness::ConnectedLines("S1", harness::IdentityLines("", "", "", "", "")));
}

TEST_F(ConnectBySerialTest, HostileStringsAreCutToTheirBufferAndEscaped) {
  fake::Bridge& bridge = AddBridge("S1");
  bridge.strings[HID_UART_GET_MANUFACTURER_STR] = "Evil\x1B]0;owned\x07\r\n";
  bridge.strings[HID_UART_GET_PRODUCT_STR] = std::string(300, 'P');
  bool connected = false;
  const std::string output = Connect("S1", &connected);
  EXPECT_NE(output.find("Manufacturer = Evil\\x1B]0;owned\\x07\\x0D\\x0A\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("Product = " + std::string(259, 'P') + "\n"), std::string::npos) << output;

  // Strings that fill the whole buffer with no end at all.
  fake::Reset();
  const std::string serial(259, 'S');
  AddBridge(serial + "X").unterminatedStrings = true;
  Connect(serial.c_str(), &connected);
  EXPECT_TRUE(connected) << "a serial cut to its buffer still matches";
}

}  // namespace
