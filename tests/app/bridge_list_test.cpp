// SPDX-License-Identifier: Apache-2.0
#include "library/bridge_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bridge_harness.h"
#include "fake_bridge.h"
#include "modes/listing.h"
#include "output/events.h"

namespace {

// The fake bridge is linked into the tests, so no library file is loaded.
constexpr const char* kLibraryLines =
    "Bridge library: not known\n"
    "Library version: 6.14 (Release)\n"
    "HID library version: 1.9 (Debug)\n";

std::string Listed(OutputFormat format = OutputFormat::kHuman) {
  SetOutputFormat(format);
  testing::internal::CaptureStdout();
  ListBridges();
  SetOutputFormat(OutputFormat::kHuman);
  return testing::internal::GetCapturedStdout();
}

using fake::AddBridge;

size_t Count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++found;
  }
  return found;
}

TEST(ListBridges, EachAnswerOfTheLibraryIsShownOnItsLine) {
  struct Case {
    const char* name;
    std::function<void()> script;
    std::string lines;
  };
  const std::string fields =
      "  Vendor ID = 10C4\n  Product ID = EA80\n  Path = fake/0\n  Manufacturer = Maker\n"
      "  Product = Bridge\n";
  const Case cases[] = {
      {"no bridge", [] {}, std::string(kLibraryLines) + "Bridges: 0\n"},
      {"versions and count not given",
       [] {
         fake::State().libraryVersionStatus = 0x14;
         fake::State().hidVersionStatus = 0x42;
         fake::State().numDevicesStatus = {0x01};
         AddBridge("S1");
       },
       "Bridge library: not known\nLibrary version: not given (Device I/O failed)\n"
       "HID library version: not given (Unknown status)\nBridges: not given (Device not found)\n"},
      {"two bridges",
       [] {
         AddBridge("S1");
         AddBridge("S2").strings[HID_UART_GET_PATH_STR] = "fake/1";
       },
       std::string(kLibraryLines) + "Bridges: 2\nBridge 0: serial \"S1\"\n" + fields +
           "Bridge 1: serial \"S2\"\n  Vendor ID = 10C4\n  Product ID = EA80\n  Path = fake/1\n"
           "  Manufacturer = Maker\n  Product = Bridge\n"},
      {"fetches that fail leave their junk unshown, and the listing goes on",
       [] {
         fake::Bridge& bridge = AddBridge("S1");
         bridge.failuresOnCall["GetString"] = {{1, 0x14}, {4, 0x16}};
         bridge.junkOnFailure = "JUNK";
         AddBridge("S2");
       },
       std::string(kLibraryLines) +
           "Bridges: 2\nBridge 0: serial not given (Device I/O failed)\n  Vendor ID = 10C4\n"
           "  Product ID = EA80\n  Path: not given (Device not supported)\n"
           "  Manufacturer = Maker\n  Product = Bridge\nBridge 1: serial \"S2\"\n" +
           fields},
      {"an index gone since the count is one line",
       [] {
         fake::State().claimedCount = 2;
         AddBridge("S1");
       },
       std::string(kLibraryLines) + "Bridges: 2\nBridge 0: serial \"S1\"\n" + fields +
           "Bridge 1: serial not given (Device not found)\n"},
      {"strings without their NUL end within their buffer",
       [] { AddBridge("S1").unterminatedStrings = true; },
       std::string(kLibraryLines) + "Bridges: 1\nBridge 0: serial \"S1" +
           std::string(HID_UART_DEVICE_STRLEN - 3, 'U') + "\"\n  Vendor ID = 10C4" +
           std::string(HID_UART_DEVICE_STRLEN - 5, 'U') + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    c.script();
    const std::string listed = Listed();
    if (c.lines.find("UUU") != std::string::npos) {
      EXPECT_EQ(listed.substr(0, c.lines.size()), c.lines);
    } else {
      EXPECT_EQ(listed, c.lines);
    }
    // Nothing is opened, nothing set.
    for (const std::string& call : fake::State().calls) {
      EXPECT_TRUE(call.rfind("GetLibraryVersion", 0) == 0 ||
                  call.rfind("GetHidLibraryVersion", 0) == 0 ||
                  call.rfind("GetNumDevices", 0) == 0 || call.rfind("GetString", 0) == 0)
          << call;
    }
  }
}

TEST(ListBridges, ACountOfBillionsListsOnlyTheFirstIndexes) {
  fake::Reset();
  fake::State().claimedCount = 4000000000u;
  AddBridge("S1");
  const std::string listed = Listed();
  EXPECT_NE(listed.find("Bridges: 4000000000 (only the first 1024 are listed)\n"),
            std::string::npos);
  EXPECT_EQ(Count(listed, "\nBridge "), kMaxListedBridges);
  EXPECT_NE(listed.find("\nBridge 1023: serial not given (Device not found)\n"), std::string::npos);
  // Six strings of the one bridge, then one for each index that is not there.
  EXPECT_EQ(fake::CallsStartingWith("GetString").size(), 6 + (kMaxListedBridges - 1));

  fake::Reset();
  fake::State().claimedCount = 4000000000u;
  const std::string json = Listed(OutputFormat::kJsonLines);
  EXPECT_EQ(Count(json, "{\"event\":\"bridge\""), kMaxListedBridges);
  EXPECT_NE(json.find(",\"bridges\":4000000000}\n"), std::string::npos);
}

// A library claiming more bridges than any machine attaches (billions, say):
// the sweep asks about the first indexes only, reads the bridge there and
// ends, rather than asking for ever.
TEST(SweepDevices, ACountAboveTheBoundAsksAboutTheFirstIndexesOnly) {
  harness::Reset();
  fake::State().claimedCount = 2 * kMaxBridgeIndexes;
  AddBridge("S1", {fake::Read{HID_UART_SUCCESS, {0x12, 0x34}, {}}});
  const std::string swept = harness::Sweep();
  EXPECT_NE(swept.find("Number of connected CP2110 HID devices = " +
                       std::to_string(2 * kMaxBridgeIndexes) + "\n"),
            std::string::npos);
  EXPECT_NE(swept.find(">>>[DATA FROM S1, 2 BYTE]\n"), std::string::npos);
  // The serial strings once, then the bridge looked up again to connect it.
  EXPECT_EQ(fake::CallsStartingWith("GetString").size(), kMaxBridgeIndexes + 1);
  EXPECT_EQ(fake::HandleProblems(), "");
}

TEST(ListBridges, ALibraryPathIsShownWholeWithItsControlBytesEscaped) {
  ListedLibrary library{};
  library.path = "/opt/" + std::string(300, 'd') + "/a\x1B[2J\xFF/libSLABHIDtoUART.so";
  library.bridges.value = 0;
  testing::internal::CaptureStdout();
  EmitListedLibrary(library);
  const std::string human = testing::internal::GetCapturedStdout();
  EXPECT_EQ(human.substr(0, human.find('\n')),
            "Bridge library: /opt/" + std::string(300, 'd') + "/a\\x1B[2J\xFF/libSLABHIDtoUART.so");

  SetOutputFormat(OutputFormat::kJsonLines);
  testing::internal::CaptureStdout();
  EmitListedLibrary(library);
  SetOutputFormat(OutputFormat::kHuman);
  const std::string json = testing::internal::GetCapturedStdout();
  EXPECT_NE(json.find("/a\\u001B[2J\xEF\xBF\xBD/libSLABHIDtoUART.so\",\"pathHex\":\""),
            std::string::npos)
      << json;
}

}  // namespace
