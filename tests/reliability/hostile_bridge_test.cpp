// SPDX-License-Identifier: Apache-2.0
// A bridge library that misbehaves: strings with no end or with control
// bytes, bridges that come and go between two calls, and serial strings
// shared by two bridges. Nothing may be read outside a buffer (the sanitizer
// builds run these too) and the output must follow the program's rules.
// Read counts above the request are tested with the capture
// (tests/app/capture_test.cpp), through which every read goes.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bridge_harness.h"
#include "fake_bridge.h"

namespace {

using harness::AddBridge;
using harness::BlockLines;
using harness::ConnectedLines;
using harness::CountLine;
using harness::IdentityLines;
using harness::Shown;
using harness::Sweep;

const std::vector<uint8_t> kFrame = {0x12, 0x34, 0x56, 0x78, 0x9A};

// Runs fn after the nth call whose text starts with prefix.
std::function<void(const std::string&)> After(const std::string& prefix, int nth,
                                              std::function<void()> fn) {
  auto seen = std::make_shared<int>(0);
  return [=](const std::string& call) {
    if (call.rfind(prefix, 0) == 0 && ++*seen == nth) {
      fn();
    }
  };
}

void Unplug(size_t position) { fake::State().bridges[position].attached = false; }

class HostileBridgeTest : public testing::Test {
 protected:
  void SetUp() override { harness::Reset(); }
  void TearDown() override {
    EXPECT_EQ(fake::HandleProblems(), "") << "every handle opened is closed exactly once";
  }
};

TEST_F(HostileBridgeTest, StringsWithNoEndAreCutWithinTheirBuffer) {
  // Serial and identity strings that fill all 260 bytes, control bytes near
  // the cut.
  const std::string tail = "\x1B[2J\x07\x7F";
  const std::string serial = std::string(250, 'S') + tail + std::string(20, 'T');
  fake::Bridge& bridge = AddBridge(serial);
  bridge.unterminatedStrings = true;
  for (auto& [kind, text] : bridge.strings) {
    text = std::string(252, static_cast<char>('a' + kind)) + tail + std::string(10, 'Z');
  }
  bridge.reads = {{HID_UART_READ_TIMED_OUT, kFrame, {}}};
  const auto& s = bridge.strings;
  const std::string expected =
      CountLine(1) +
      ConnectedLines(serial,
                     IdentityLines(s.at(HID_UART_GET_VID_STR), s.at(HID_UART_GET_PID_STR),
                                   s.at(HID_UART_GET_PATH_STR), s.at(HID_UART_GET_MANUFACTURER_STR),
                                   s.at(HID_UART_GET_PRODUCT_STR))) +
      BlockLines(serial, kFrame);
  EXPECT_EQ(Sweep(), expected);
  EXPECT_EQ(Shown(serial), std::string(250, 'S') + "\\x1B[2J\\x07\\x7FTTT")
      << "the test's own model cuts at 259 bytes";

  // Two serials that differ only beyond the cut are one serial to the
  // program: both visits open the first bridge.
  harness::Reset();
  AddBridge(std::string(259, 'D') + "1").unterminatedStrings = true;
  AddBridge(std::string(259, 'D') + "2").unterminatedStrings = true;
  Sweep();
  EXPECT_EQ(fake::CallsStartingWith("Open index=0").size(), 2u);
  EXPECT_TRUE(fake::CallsStartingWith("Open index=1").empty());
}

TEST_F(HostileBridgeTest, FailingStringCallsThatStillWriteAreHandledAsFailures) {
  const std::string junk = "\x1B]0;owned\x07" + std::string(260, 'J');
  // The sweep's serial fetch fails but fills the buffer: the index is skipped.
  fake::Bridge& skipped = AddBridge("S0");
  skipped.failuresOnCall["GetString"][1] = HID_UART_DEVICE_IO_FAILED;
  skipped.junkOnFailure = junk;
  // Identity calls fail but fill the buffer: the lines show what the calls
  // left, escaped and cut, never beyond the buffer.
  fake::Bridge& connected = AddBridge("S1");
  connected.failures["GetOpenedString"] = HID_UART_DEVICE_IO_FAILED;
  connected.junkOnFailure = junk;
  EXPECT_EQ(Sweep(),
            CountLine(2) + ConnectedLines("S1", IdentityLines(junk, junk, junk, junk, junk)));
  EXPECT_TRUE(fake::CallsStartingWith("Open index=0").empty());
}

TEST_F(HostileBridgeTest, ControlBytesAreEscapedWhileSerialsAreMatchedRaw) {
  std::string everyByte;
  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    everyByte += static_cast<char>(byte);
  }
  fake::Bridge& bridge = AddBridge(everyByte);
  for (auto& [kind, text] : bridge.strings) {
    text = std::to_string(kind) + everyByte;
  }
  bridge.reads = {{HID_UART_READ_TIMED_OUT, kFrame, {}}};
  const auto& s = bridge.strings;
  EXPECT_EQ(Sweep(), CountLine(1) +
                         ConnectedLines(everyByte, IdentityLines(s.at(1), s.at(2), s.at(3), s.at(5),
                                                                 s.at(6))) +
                         BlockLines(everyByte, kFrame));

  // "A\x01" and the literal text A\x01 print alike, but each visit opens its
  // own bridge.
  harness::Reset();
  AddBridge("A\x01");
  AddBridge("A\\x01");
  const std::string output = Sweep();
  EXPECT_EQ(output, CountLine(2) + ConnectedLines("A\x01") + ConnectedLines("A\\x01"));
  EXPECT_EQ(fake::CallsStartingWith("Open").size(), 2u);
  EXPECT_EQ(fake::CallsStartingWith("Open index=1").size(), 1u);
}

TEST_F(HostileBridgeTest, BridgesThatVanishBetweenTwoCalls) {
  struct Case {
    const char* name;
    std::function<void()> setUp;  // bridges S0, S1, S2 are attached
    std::string output;           // after the count line
  };
  const Case cases[] = {
      {"between the count and the serial fetch: the others move down, the last index is gone",
       [] { fake::State().afterCall = After("GetNumDevices", 1, [] { Unplug(0); }); },
       ConnectedLines("S1") + BlockLines("S1", kFrame) + ConnectedLines("S2") +
           BlockLines("S2", kFrame)},
      {"between the serial fetch and the lookup: not found, and S1 is passed over",
       [] { fake::State().afterCall = After("GetString index=0", 1, [] { Unplug(0); }); },
       "Error: Device not found\n" + ConnectedLines("S2") + BlockLines("S2", kFrame)},
      {"between the lookup and the open: the open fails",
       [] { fake::State().afterCall = After("GetString index=2", 2, [] { Unplug(2); }); },
       ConnectedLines("S0") + BlockLines("S0", kFrame) + ConnectedLines("S1") +
           BlockLines("S1", kFrame) + "Error: Device not found\n"},
      {"between the open and the part number: the open handle is closed, the others still read",
       [] { fake::State().afterCall = After("Open", 1, [] { Unplug(0); }); },
       "Error: Device I/O failed\n" + ConnectedLines("S1") + BlockLines("S1", kFrame) +
           ConnectedLines("S2") + BlockLines("S2", kFrame)},
      {"between the time-outs and the identity strings: empty fields, reads fail",
       [] {
         fake::State().afterCall = After("GetOpenedString handle=1 kind=1", 1, [] { Unplug(0); });
       },
       ConnectedLines("S0", IdentityLines(fake::kVendorId, "", "", "", "")) + ConnectedLines("S1") +
           BlockLines("S1", kFrame) + ConnectedLines("S2") + BlockLines("S2", kFrame)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::Reset();
    for (const char* serial : {"S0", "S1", "S2"}) {
      AddBridge(serial).reads = {{HID_UART_READ_TIMED_OUT, kFrame, {}}};
    }
    c.setUp();
    EXPECT_EQ(Sweep(), CountLine(3) + c.output);
    EXPECT_EQ(fake::HandleProblems(), "");
  }
}

TEST_F(HostileBridgeTest, TheCountIsTakenOnceWhateverHappensLater) {
  // Shrinks: two bridges go once the first one's loop has ended; their serial
  // strings were taken before, so each is looked for and not found.
  for (const char* serial : {"S0", "S1", "S2"}) {
    AddBridge(serial).reads = {{HID_UART_READ_TIMED_OUT, kFrame, {}}};
  }
  fake::State().afterCall = After("Close", 1, [] { Unplug(1), Unplug(2); });
  EXPECT_EQ(Sweep(), CountLine(3) + ConnectedLines("S0") + BlockLines("S0", kFrame) +
                         "Error: Device not found\nError: Device not found\n");
  EXPECT_EQ(fake::CallsStartingWith("GetString index=2").size(), 1u);
  EXPECT_EQ(fake::HandleProblems(), "");

  // Grows at the end: the newcomer is never visited.
  harness::Reset();
  AddBridge("S0");
  AddBridge("LATE").attached = false;
  fake::State().afterCall =
      After("GetNumDevices", 1, [] { fake::State().bridges[1].attached = true; });
  EXPECT_EQ(Sweep(), CountLine(1) + ConnectedLines("S0"));
  EXPECT_TRUE(fake::CallsStartingWith("GetString index=1").empty());
  EXPECT_EQ(fake::HandleProblems(), "");

  // Grows in front: every bridge moves up one index; the serial strings were
  // taken before, so S1 is still found, and the newcomer is never visited.
  harness::Reset();
  AddBridge("NEW").attached = false;
  AddBridge("S0").reads = {{HID_UART_READ_TIMED_OUT, kFrame, {}}};
  AddBridge("S1");
  fake::State().afterCall = After("Close", 1, [] { fake::State().bridges[0].attached = true; });
  EXPECT_EQ(Sweep(),
            CountLine(2) + ConnectedLines("S0") + BlockLines("S0", kFrame) + ConnectedLines("S1"));
}

// Both visits of a serial string shared by two bridges open the first bridge
// that has it, as long as it is there.
TEST_F(HostileBridgeTest, TwoBridgesWithTheSameSerial) {
  const std::string refused = "Failed to connect to S1: Invalid parameter\nNot Connected\n";
  struct Case {
    const char* name;
    std::function<void()> setUp;  // adds the two bridges
    std::string output;           // after the count line
    size_t opensOfTheSecond;
  };
  const Case cases[] = {
      {"the first refuses the setting: both visits try it",
       [] {
         AddBridge("S1").readBackBaud = 4800;
         AddBridge("S1", {{HID_UART_READ_TIMED_OUT, kFrame, {}}});
       },
       refused + refused, 0},
      {"the first is read on both visits, the second never",
       [] {
         AddBridge("S1", {{HID_UART_READ_TIMED_OUT, kFrame, {}},
                          {HID_UART_DEVICE_IO_FAILED, {}, {}},
                          {HID_UART_READ_TIMED_OUT, {0xAB}, {}}});
         AddBridge("S1", {{HID_UART_READ_TIMED_OUT, {0xCD}, {}}});
       },
       ConnectedLines("S1") + BlockLines("S1", kFrame) + ConnectedLines("S1") +
           BlockLines("S1", {0xAB}),
       0},
      {"the first is unplugged when its loop ends: the second visit finds the second",
       [] {
         AddBridge("S1", {{HID_UART_READ_TIMED_OUT, kFrame, {}}}).unplugWhenDrained = true;
         AddBridge("S1", {{HID_UART_READ_TIMED_OUT, {0xCD}, {}}});
       },
       ConnectedLines("S1") + BlockLines("S1", kFrame) + ConnectedLines("S1") +
           BlockLines("S1", {0xCD}),
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::Reset();
    c.setUp();
    EXPECT_EQ(Sweep(), CountLine(2) + c.output);
    EXPECT_EQ(fake::CallsStartingWith("Open index=1").size(), 0u);
    size_t opensOfTheSecond = 0;
    for (size_t bridge : fake::State().openedBridge) {
      opensOfTheSecond += bridge == 1 ? 1 : 0;
    }
    EXPECT_EQ(opensOfTheSecond, c.opensOfTheSecond);
    EXPECT_EQ(fake::HandleProblems(), "");
  }
}

TEST_F(HostileBridgeTest, OddValuesFromSuccessfulCalls) {
  fake::Library& library = fake::State();
  library.libraryMajor = 255;
  library.libraryMinor = 0;
  library.libraryRelease = INT32_MIN;
  library.hidMajor = 0;
  library.hidMinor = 255;
  library.hidRelease = -1;
  fake::Bridge& odd = AddBridge("S1");
  odd.partNumber = 255;
  odd.version = 0;
  // Empty reads that succeed print nothing, then a frame, then a quiet line.
  odd.reads = {{HID_UART_SUCCESS, {}, {}},
               {HID_UART_READ_TIMED_OUT, {}, {}},
               {HID_UART_SUCCESS, kFrame, {}},
               {HID_UART_READ_TIMED_OUT, {}, 0u}};
  // A read-back that reports success without writing anything.
  AddBridge("S2").readBackWritesNothing = true;
  std::string connected = ConnectedLines("S1");
  connected.replace(connected.find("Part Number = 10, Version = 1"), 29,
                    "Part Number = 255, Version = 0");
  EXPECT_EQ(Sweep(),
            "SLABHIDtoUART.dll: Version 255.0 (Release)\n"
            "SLABHIDDevice.dll: Version 0.255 (Release)\n"
            "Number of connected CP2110 HID devices = 2\n" +
                connected + BlockLines("S1", kFrame) +
                "Failed to connect to S2: Invalid parameter\nNot Connected\n");
}

}  // namespace
