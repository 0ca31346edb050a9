// SPDX-License-Identifier: Apache-2.0
// Every step of the sweep and the connection failing with every status: the
// lines printed, the handles closed, and the sweep going on to the next
// bridge.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bridge_harness.h"
#include "fake_bridge.h"

namespace {

using harness::BlockLines;
using harness::ConnectedLines;
using harness::ExpectedStatusText;

enum class Step {
  kLibraryVersion,
  kHidLibraryVersion,
  kCount,         // the sweep's bridge count
  kSerialFetch,   // the sweep's fetch of the serial string
  kLookupCount,   // the count taken again to find the bridge
  kLookupSerial,  // the serial string fetched again to find the bridge
  kOpen,
  kPartNumber,
  kSetSetting,
  kGetSetting,
  kSetTimeouts,
  kIdentityString,
  kRead,
  kClose,
};

// Named in the order of Step.
const char* StepName(Step step) {
  static const char* const kNames[] = {"LibraryVersion", "HidLibraryVersion",
                                       "Count",          "SerialFetch",
                                       "LookupCount",    "LookupSerial",
                                       "Open",           "PartNumber",
                                       "SetSetting",     "GetSetting",
                                       "SetTimeouts",    "IdentityString",
                                       "Read",           "Close"};
  return kNames[static_cast<int>(step)];
}

const std::vector<uint8_t> kFirstFrame = {0x12, 0x34, 0x56, 0x78, 0x9A};
const std::vector<uint8_t> kLaterFrame = {0xDE, 0xAD};
const std::vector<uint8_t> kSecondBridgeFrame = {0xAB};

// Every status a library may give, and a few it must not but might.
std::vector<HID_UART_STATUS> Statuses() {
  std::vector<HID_UART_STATUS> statuses;
  for (HID_UART_STATUS status = 0x01; status <= 0xFF; ++status) {
    statuses.push_back(status);
  }
  for (HID_UART_STATUS odd : {0x100, 0x112, -1, -0x12, INT32_MIN, INT32_MAX}) {
    statuses.push_back(odd);
  }
  return statuses;
}

// Which of the five identity calls (in the order they are made: vendor ID,
// product ID, product, manufacturer, path) fails; varied with the status so
// that the matrix covers each of them.
int FailingIdentityCall(HID_UART_STATUS status) {
  return static_cast<int>(static_cast<uint32_t>(status) % 5) + 1;
}

// One test per step, every status in a loop: thousands of cases, a few
// processes.
class FaultMatrixTest : public testing::TestWithParam<Step> {};

// The two bridges: S1 suffers the fault, S2 is healthy and must still be
// visited. Each sends one frame and is then unplugged (reads fail with 0x14).
void Inject(Step step, HID_UART_STATUS status) {
  fake::Library& library = fake::State();
  harness::AddBridge("S1");
  harness::AddBridge("S2").reads = {{HID_UART_READ_TIMED_OUT, kSecondBridgeFrame, {}}};
  fake::Bridge& s1 = library.bridges[0];
  s1.reads = {{HID_UART_READ_TIMED_OUT, kFirstFrame, {}}};
  switch (step) {
    case Step::kLibraryVersion:
      library.libraryVersionStatus = status;
      break;
    case Step::kHidLibraryVersion:
      library.hidVersionStatus = status;
      break;
    case Step::kCount:
      library.numDevicesStatus = {status};
      break;
    case Step::kSerialFetch:
      s1.failuresOnCall["GetString"][1] = status;
      break;
    case Step::kLookupCount:
      library.numDevicesStatus = {HID_UART_SUCCESS, status};
      break;
    case Step::kLookupSerial:
      s1.failuresOnCall["GetString"][2] = status;
      break;
    case Step::kOpen:
      s1.failures["Open"] = status;
      break;
    case Step::kPartNumber:
      s1.failures["GetPartNumber"] = status;
      break;
    case Step::kSetSetting:
      s1.failures["SetUartConfig"] = status;
      break;
    case Step::kGetSetting:
      s1.failures["GetUartConfig"] = status;
      break;
    case Step::kSetTimeouts:
      s1.failures["SetTimeouts"] = status;
      break;
    case Step::kIdentityString:
      s1.failuresOnCall["GetOpenedString"][FailingIdentityCall(status)] = status;
      break;
    case Step::kRead:
      // The failing read still holds bytes; a later read would have more.
      s1.reads = {{status, kFirstFrame, {}}, {HID_UART_READ_TIMED_OUT, kLaterFrame, {}}};
      break;
    case Step::kClose:
      s1.failures["Close"] = status;
      break;
  }
}

std::string ExpectedVersionLines(Step step) {
  if (step == Step::kLibraryVersion) {
    // Nothing was written, so the values it started with show.
    return "SLABHIDtoUART.dll: Version 0.0 (Debug)\nSLABHIDDevice.dll: Version 1.9 (Debug)\n";
  }
  if (step == Step::kHidLibraryVersion) {
    // The first library's values, not reset in between.
    return "SLABHIDtoUART.dll: Version 6.14 (Release)\n"
           "SLABHIDDevice.dll: Version 6.14 (Release)\n";
  }
  return harness::kVersionLines;
}

std::string ExpectedFirstBridgeLines(Step step, HID_UART_STATUS status) {
  const std::string text = ExpectedStatusText(status);
  switch (step) {
    case Step::kSerialFetch:
      return "";
    case Step::kLookupCount:
    case Step::kLookupSerial:
      return "Error: Device not found\n";
    case Step::kOpen:
    case Step::kPartNumber:
    case Step::kSetSetting:
      return "Error: " + text + "\n";
    case Step::kGetSetting:
    case Step::kSetTimeouts:
      return "Failed to connect to S1: " + text + "\nNot Connected\n";
    case Step::kIdentityString: {
      std::string fields[] = {fake::kVendorId, fake::kProductId, fake::kProduct,
                              fake::kManufacturer, fake::kPath};
      fields[FailingIdentityCall(status) - 1].clear();
      return ConnectedLines("S1", harness::IdentityLines(fields[0], fields[1], fields[4], fields[3],
                                                         fields[2])) +
             BlockLines("S1", kFirstFrame);
    }
    case Step::kRead:
      if (status == HID_UART_READ_TIMED_OUT) {
        return ConnectedLines("S1") + BlockLines("S1", kFirstFrame) + BlockLines("S1", kLaterFrame);
      }
      return ConnectedLines("S1");
    default:
      return ConnectedLines("S1") + BlockLines("S1", kFirstFrame);
  }
}

bool FirstBridgeOpened(Step step) {
  switch (step) {
    case Step::kCount:
    case Step::kSerialFetch:
    case Step::kLookupCount:
    case Step::kLookupSerial:
    case Step::kOpen:
      return false;
    default:
      return true;
  }
}

TEST_P(FaultMatrixTest, PrintsWhatTheStepCallsForClosesWhatWasOpenedAndMovesOn) {
  const Step step = GetParam();
  for (const HID_UART_STATUS status : Statuses()) {
    SCOPED_TRACE(testing::Message() << StepName(step) << " fails with " << status);
    harness::Reset();
    Inject(step, status);

    const std::string output = harness::Sweep();

    std::string expected = ExpectedVersionLines(step);
    if (step != Step::kCount) {
      expected += "Number of connected CP2110 HID devices = 2\n" +
                  ExpectedFirstBridgeLines(step, status) + ConnectedLines("S2") +
                  BlockLines("S2", kSecondBridgeFrame);
    }
    EXPECT_EQ(output, expected);

    const size_t opens = step == Step::kCount ? 0 : FirstBridgeOpened(step) ? 2 : 1;
    EXPECT_EQ(fake::State().openedBridge.size(), opens);
    EXPECT_EQ(fake::HandleProblems(), "");
    if (step == Step::kRead) {
      EXPECT_EQ(fake::CallsStartingWith("Read handle=1 ").size(),
                status == HID_UART_READ_TIMED_OUT ? 3u : 1u)
          << "a failing read ends the loop at once";
    }
    if (step == Step::kCount) {
      EXPECT_EQ(fake::State().calls.size(), 3u) << "nothing is called after a failed count";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStepEveryStatus, FaultMatrixTest,
                         testing::Values(Step::kLibraryVersion, Step::kHidLibraryVersion,
                                         Step::kCount, Step::kSerialFetch, Step::kLookupCount,
                                         Step::kLookupSerial, Step::kOpen, Step::kPartNumber,
                                         Step::kSetSetting, Step::kGetSetting, Step::kSetTimeouts,
                                         Step::kIdentityString, Step::kRead, Step::kClose),
                         [](const testing::TestParamInfo<Step>& step) {
                           return std::string(StepName(step.param));
                         });

}  // namespace
