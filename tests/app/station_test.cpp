#include "station.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "fake_bridge.h"
#include "sweep.h"
#include "timestamp.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Connected(const std::string& serial) {
  return "Vendor ID = 10C4, Product ID = EA80\nPart Number = 10, Version = 1\n"
         "Path = fake/0\nManufacturer = Maker\nProduct = Bridge\nConnected to " +
         serial + "\n";
}

std::string Report(const std::string& serial, uint8_t byte) {
  char text[160];
  std::snprintf(text, sizeof text,
                ">>>[DATA FROM %s, 1 BYTE]\n  0x%02X\n  HEX (64-bit): %016X\n"
                "  Decimal (10 Digits): 0000000000\n<<<\n",
                serial.c_str(), byte, byte);
  return text;
}

std::deque<fake::Read> Quiet(size_t count) {
  return std::deque<fake::Read>(count, fake::Read{HID_UART_READ_TIMED_OUT, {}, {}});
}

fake::Bridge& AddBridge(const std::string& serial, std::deque<fake::Read> reads) {
  fake::State().bridges.emplace_back();
  fake::Bridge& bridge = fake::State().bridges.back();
  bridge.serial = serial;
  bridge.reads = std::move(reads);
  return bridge;
}

size_t Reads() { return fake::CallsStartingWith("Read ").size(); }

// Runs the station, listing the bridges before every round, until `reads`
// reads have been made; events[N] runs right after the Nth read. Returns what
// it printed after the two version lines.
std::string Watch(size_t reads, std::map<size_t, std::function<void()>> events = {}) {
  fake::State().afterCall = [events](const std::string& call) {
    const auto event = events.find(Reads());
    if (call.rfind("Read ", 0) == 0 && event != events.end()) {
      event->second();
    }
  };
  StationOptions options;
  options.round = std::chrono::milliseconds(1);
  options.survey = std::chrono::milliseconds(0);
  options.stopRequested = [reads] { return Reads() >= reads; };
  testing::internal::CaptureStdout();
  WatchStation(options);
  const std::string output = testing::internal::GetCapturedStdout();
  return output.substr(output.find('\n', output.find('\n') + 1) + 1);
}

// Every handle opened was closed once, when the station returned.
void ExpectEveryHandleClosedOnce() {
  std::map<size_t, int> once;
  for (size_t handle = 1; handle <= fake::State().openedBridge.size(); ++handle) {
    once[handle] = 1;
  }
  EXPECT_EQ(fake::State().closes, once);
}

class StationTest : public testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    ConnectedDevice = ConnectedDeviceRecord{};
  }
  void TearDown() override { ExpectEveryHandleClosedOnce(); }
};

TEST_F(StationTest, ReadsEveryBridgeInTurnWithTheRoundShared) {
  AddBridge("A", {{0x12, {0xA1}, {}}, {0x12, {}, {}}, {0x00, {0xA2}, {}}});
  AddBridge("B", {{0x12, {0xB1}, {}}, {0x12, {0xB2}, {}}, {0x12, {}, {}}});
  fake::State().bridges[0].reads.insert(fake::State().bridges[0].reads.end(), 10, {0x12, {}, {}});
  fake::State().bridges[1].reads.insert(fake::State().bridges[1].reads.end(), 10, {0x12, {}, {}});
  AddBridge("A", Quiet(10));  // the same serial string again: left alone
  EXPECT_EQ(Watch(8), "Number of connected CP2110 HID devices = 3\n" + Connected("A") +
                          Connected("B") + Report("A", 0xA1) + Report("B", 0xB1) +
                          Report("B", 0xB2) + Report("A", 0xA2));
  EXPECT_EQ(fake::CallsStartingWith("Open").size(), 2u);
  // The connections' 200 ms, then 1 ms each once both are connected.
  EXPECT_EQ(fake::CallsStartingWith("SetTimeouts"),
            (std::vector<std::string>{"SetTimeouts handle=1 read=200 write=2000 -> 0x00",
                                      "SetTimeouts handle=2 read=200 write=2000 -> 0x00",
                                      "SetTimeouts handle=1 read=1 write=2000 -> 0x00",
                                      "SetTimeouts handle=2 read=1 write=2000 -> 0x00"}));
}

// Bridges that fail, leave and come back, against one healthy bridge H.
struct Comings {
  const char* name;
  std::deque<fake::Read> reads;  // of bridge X, whose first open may fail
  HID_UART_STATUS openStatus;
  std::map<size_t, std::function<void()>> events;  // by read of the run
  size_t reads_;
  std::string expected;  // after H's connection
  size_t opensOfX;
};

fake::Bridge& X() { return fake::State().bridges[1]; }
void Detach() { X().attached = false; }
void Attach() {
  X().attached = true;
  X().failures.clear();
}

TEST_F(StationTest, BridgesThatFailLeaveAndComeBack) {
  const std::string xConnected = Connected("X");
  const Comings cases[] = {
      {"a failed connection is not retried until the bridge was detached",
       Quiet(50),
       HID_UART_DEVICE_ACCESS_ERROR,
       {{5, Detach}, {8, Attach}},
       12,
       "Error: X: Device access error\n" + xConnected,
       2},
      {"a bridge unplugged and plugged in again is connected again",
       {{0x12, {0x01}, {}}},
       HID_UART_SUCCESS,
       {{4,
         [] {
           Detach();
           X().reads = Quiet(50);
         }},
        {7, Attach}},
       12,
       xConnected + Report("X", 0x01) + "Disconnected from X: Device I/O failed\n" + xConnected,
       2},
      {"reads that fail twice with nothing between hold the bridge until detached",
       {{0x10, {}, {}}, {0x10, {0x55}, {}}, {0x12, {0x66}, {}}},
       HID_UART_SUCCESS,
       {{9, Detach}, {10, Attach}},
       14,
       xConnected + "Disconnected from X: Read error\n" + xConnected +
           "Disconnected from X: Read error\n" + xConnected + Report("X", 0x66) +
           "Disconnected from X: Device I/O failed\n",
       3},
      {"a byte read between two failures earns another connection",
       {{0x10, {}, {}}, {0x12, {0x77}, {}}, {0x14, {}, {}}, {0x14, {}, {}}},
       HID_UART_SUCCESS,
       {},
       14,
       xConnected + "Disconnected from X: Read error\n" + xConnected + Report("X", 0x77) +
           "Disconnected from X: Device I/O failed\n" + xConnected +
           "Disconnected from X: Device I/O failed\n",
       3},
  };
  for (const Comings& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    AddBridge("H", Quiet(50));
    AddBridge("X", c.reads);
    if (c.openStatus != HID_UART_SUCCESS) {
      X().failures["GetPartNumber"] = c.openStatus;
    }
    const std::string output = Watch(c.reads_, c.events);
    EXPECT_EQ(output, "Number of connected CP2110 HID devices = 2\n" + Connected("H") + c.expected);
    size_t opens = 0;
    for (size_t bridge : fake::State().openedBridge) {
      opens += bridge == 1 ? 1 : 0;
    }
    EXPECT_EQ(opens, c.opensOfX);
    ExpectEveryHandleClosedOnce();
  }
}

std::string Block(const std::string& serial, const Bytes& bytes) {
  std::string hex;
  uint64_t value = 0;
  for (uint8_t byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    hex += digits;
    value = (value << 8) | byte;
  }
  char text[200];
  std::snprintf(text, sizeof text,
                ">>>[DATA FROM %s, %zu BYTE]\n  0x%s\n  HEX (64-bit): %016llX\n"
                "  Decimal (10 Digits): %010llu\n<<<\n",
                serial.c_str(), bytes.size(), hex.c_str(), static_cast<unsigned long long>(value),
                static_cast<unsigned long long>((value >> 16) & 0xFFFFFFFFu));
  return text;
}

// Framing in the station, on a clock that advances 1 ms with every read.
TEST_F(StationTest, FramesEachBridgeAndReportsWhatIsPendingBeforeItEnds) {
  const fake::Read quiet{0x12, {}, {}};
  struct FramingCase {
    const char* name;
    std::deque<fake::Read> a, b;
    size_t reads;
    std::string expected;  // after the connections
  };
  const FramingCase cases[] = {
      {"tags cut by reads are whole, each bridge on its own",
       {{0x12, {0x12, 0x34}, {}},
        {0x12, {0x56}, {}},
        quiet,
        quiet,
        quiet,
        quiet,
        quiet,
        quiet,
        quiet,
        quiet,
        {0x12, {0x01}, {}}},
       {quiet, {0x12, {0xB1, 0xB2}, {}}, {0x12, {0xB3}, {}}},
       30,
       Block("A", {0x12, 0x34, 0x56}) + Block("B", {0xB1, 0xB2, 0xB3}) + Block("A", {0x01})},
      {"a block pending at a failed read comes before the disconnection",
       {{0x12, {0x12, 0x34}, {}}, {0x14, {0x99}, {}}},
       Quiet(40),
       30,
       Block("A", {0x12, 0x34}) + "Disconnected from A: Device I/O failed\n"},
      {"a stop reports every pending block",
       {{0x12, {0xA1}, {}}},
       {quiet, {0x12, {0xB1}, {}}},
       4,
       Block("A", {0xA1}) + Block("B", {0xB1})},
  };
  for (const FramingCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    AddBridge("A", c.a);
    AddBridge("B", c.b);
    fake::State().bridges[0].reads.insert(fake::State().bridges[0].reads.end(), 40, quiet);
    fake::State().bridges[1].reads.insert(fake::State().bridges[1].reads.end(), 40, quiet);
    StationOptions options;
    options.capture.frameGap = std::chrono::milliseconds(4);
    options.capture.now = [] {
      return CaptureClock::time_point(std::chrono::milliseconds(static_cast<long>(Reads())));
    };
    options.survey = std::chrono::hours(1);
    const size_t reads = c.reads;
    options.stopRequested = [reads] { return Reads() >= reads; };
    testing::internal::CaptureStdout();
    WatchStation(options);
    const std::string output = testing::internal::GetCapturedStdout();
    const std::string connected =
        "Number of connected CP2110 HID devices = 2\n" + Connected("A") + Connected("B");
    ASSERT_EQ(output.rfind(connected), output.find("Number"));
    EXPECT_EQ(output.substr(output.find(connected) + connected.size()), c.expected);
    ExpectEveryHandleClosedOnce();
  }
}

// Nothing is read while the bridges are listed, so a listing waits while a
// block is pending, but no longer than another interval. The capture clock
// advances 1 ms a read; the interval of 400 ms is real time.
TEST_F(StationTest, ListingsWaitForPendingBlocksButNotForever) {
  struct ListingCase {
    const char* name;
    bool neverQuiet;  // every read brings a byte, so a block is always pending
  };
  const ListingCase cases[] = {{"a tag pending holds the listing back until reported", false},
                               {"a line never quiet is listed after another interval", true}};
  for (const ListingCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    fake::Bridge& bridge = AddBridge("A", {{0x12, {0x12}, {}}});
    bridge.reads.insert(bridge.reads.end(), 40, fake::Read{0x12, {}, {}});
    // Reads made before the first listing after the connection.
    size_t readsBeforeListing = 0;
    const bool neverQuiet = c.neverQuiet;
    fake::State().afterCall = [&readsBeforeListing, neverQuiet](const std::string& call) {
      if (call.rfind("GetNumDevices", 0) == 0 && Reads() > 0 && readsBeforeListing == 0) {
        readsBeforeListing = Reads();
      } else if (call.rfind("Read ", 0) == 0 && neverQuiet) {
        fake::State().bridges[0].reads.push_front(fake::Read{0x12, {0x01}, {}});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      } else if (call.rfind("Read ", 0) == 0 && Reads() == 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(450));
      }
    };
    StationOptions options;
    options.capture.frameGap = std::chrono::milliseconds(4);
    options.capture.now = [] {
      return CaptureClock::time_point(std::chrono::milliseconds(static_cast<long>(Reads())));
    };
    options.survey = std::chrono::milliseconds(400);
    options.stopRequested = [&readsBeforeListing] {
      return readsBeforeListing > 0 || Reads() >= 5000;
    };
    testing::internal::CaptureStdout();
    WatchStation(options);
    fake::State().afterCall = nullptr;
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_GT(readsBeforeListing, 0u);
    if (c.neverQuiet) {
      // Well before a block of 1000 bytes is complete.
      EXPECT_LT(readsBeforeListing, 1000u);
    } else {
      // The read at 1 ms brought the tag, the one at 5 ms proved the gap.
      EXPECT_GE(readsBeforeListing, 5u);
      EXPECT_NE(output.find(Block("A", {0x12})), std::string::npos);
    }
    ExpectEveryHandleClosedOnce();
  }
}

// In station mode every line about one bridge names it, and with timestamps
// the line that says what happened starts with the time; the sweep's lines
// stay as they are.
TEST_F(StationTest, LinesNameTheirBridgeAndStartWithTheTimeOfTheirEvent) {
  struct LinesCase {
    const char* name;
    bool station;
    bool timestamps;
    std::string expected;  // after the count; "T " where a time stands
  };
  const std::string identity =
      "Vendor ID = 10C4, Product ID = EA80\nPart Number = 10, Version = 1\n"
      "Path = fake/0\nManufacturer = Maker\nProduct = Bridge\n";
  const LinesCase cases[] = {
      {"station mode names the bridge of a failed connection", true, false,
       identity +
           "Connected to A\nError: B: Device access error\n"
           "Failed to connect to C: Invalid parameter\nNot Connected\n" +
           Report("A", 0xA1) + "Disconnected from A: Device I/O failed\n"},
      {"station mode with timestamps", true, true,
       identity +
           "T Connected to A\nT Error: B: Device access error\n"
           "T Failed to connect to C: Invalid parameter\nNot Connected\nT " +
           Report("A", 0xA1) + "T Disconnected from A: Device I/O failed\n"},
      {"the sweep's lines are unchanged, with timestamps too", false, true,
       identity + "Connected to A\nT " + Report("A", 0xA1) +
           "Error: Device access error\nFailed to connect to C: Invalid parameter\n"
           "Not Connected\n"},
  };
  for (const LinesCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    AddBridge("A", {{0x12, {0xA1}, {}}, {0x14, {}, {}}});
    AddBridge("B", {}).failures["Open"] = HID_UART_DEVICE_ACCESS_ERROR;
    AddBridge("C", {}).readBackBaud = 4800;
    StationOptions options;
    options.capture.timestamps = c.timestamps;
    options.survey = std::chrono::hours(1);
    options.stopRequested = [] { return Reads() >= 2; };
    const std::string before = LocalTimestamp(std::chrono::system_clock::now()).text;
    testing::internal::CaptureStdout();
    if (c.station) {
      WatchStation(options);
    } else {
      SweepDevices(SweepOptions{options.capture, {}});
    }
    std::string output = testing::internal::GetCapturedStdout();
    const std::string after = LocalTimestamp(std::chrono::system_clock::now()).text;
    output = output.substr(output.find("Number"));
    output = output.substr(output.find('\n') + 1);
    // Each time is that of its event: within the run, never before the one
    // printed above it.
    const std::regex stamp(R"(^\S+T\S+[+-]\d\d:\d\d )", std::regex::multiline);
    std::string previous = before;
    for (auto found = std::sregex_iterator(output.begin(), output.end(), stamp);
         found != std::sregex_iterator(); ++found) {
      std::string time = found->str();
      time.pop_back();
      EXPECT_LE(previous, time);
      EXPECT_LE(time, after);
      previous = time;
    }
    EXPECT_EQ(std::regex_replace(output, stamp, "T "), c.expected);
  }
}

TEST_F(StationTest, ReadsThatReturnAtOnceDoNotMakeABusyLoop) {
  AddBridge("A", Quiet(100000));
  StationOptions options;
  options.round = std::chrono::milliseconds(100);
  options.survey = std::chrono::milliseconds(1000);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  options.stopRequested = [end] { return std::chrono::steady_clock::now() >= end; };
  testing::internal::CaptureStdout();
  WatchStation(options);
  testing::internal::GetCapturedStdout();
  // Each round is stretched to the 100 ms its read should have waited.
  EXPECT_LE(Reads(), 5u);
}

}  // namespace
