// SPDX-License-Identifier: Apache-2.0
#include "modes/station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "bridge_harness.h"
#include "fake_bridge.h"
#include "library/connection.h"
#include "modes/sweep.h"
#include "output/output.h"
#include "text/timestamp.h"

namespace {

using Bytes = std::vector<uint8_t>;

using harness::AddBridge;
using harness::BlockLines;
using harness::ConnectedLines;

std::string Report(const std::string& serial, uint8_t byte) { return BlockLines(serial, {byte}); }

std::deque<fake::Read> Quiet(size_t count) {
  return std::deque<fake::Read>(count, fake::Read{HID_UART_READ_TIMED_OUT, {}, {}});
}

size_t Reads() { return fake::CallsStartingWith("Read ").size(); }

// Calls of an operation ("Read ", "Close ") on the handles of the bridge at
// a position of State().bridges.
size_t CallsOn(size_t bridge, const std::string& operation) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  size_t count = 0;
  for (const std::string& call : fake::CallsStartingWith(operation + "handle=")) {
    const size_t handle = std::stoul(call.substr(call.find('=') + 1));
    if (handle <= fake::State().openedBridge.size() &&
        fake::State().openedBridge[handle - 1] == bridge) {
      ++count;
    }
  }
  return count;
}

// The station as the program runs it: its events through the output queue.
std::string WatchQueued(const StationOptions& options) {
  testing::internal::CaptureStdout();
  QueueOutput();
  WatchStation(options);
  FinishOutput();
  return testing::internal::GetCapturedStdout();
}

// The events of a run that concern one bridge, in order: its reports (each
// whole, with what stands before the header) and the lines that name it.
std::string Of(const std::string& serial, const std::string& output) {
  std::string found;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    end = end == std::string::npos ? output.size() : end + 1;
    const std::string line = output.substr(at, end - at);
    const size_t header = line.find(">>>[DATA FROM " + serial + ",");
    if (header != std::string::npos && header == line.find(">>>")) {
      for (int more = 0; more < 4 && end < output.size(); ++more) {
        end = output.find('\n', end) + 1;
      }
      found += output.substr(at, end - at);
    } else if (line.find(" " + serial + "\n") != std::string::npos ||
               line.find(" " + serial + ":") != std::string::npos) {
      found += line;
    }
    at = end;
  }
  return found;
}

class StationTest : public testing::Test {
 protected:
  void SetUp() override { harness::Reset(); }
  // Every handle opened was closed once, when the station returned.
  void TearDown() override { EXPECT_EQ(fake::HandleProblems(), ""); }
};

TEST_F(StationTest, EachBridgeIsReadByAThreadOfItsOwnThatNeverWaitsForAnother) {
  AddBridge("A", {{0x12, {0xA1}, {}}, {0x12, {}, {}}, {0x00, {0xA2}, {}}});
  AddBridge("B", {{0x12, {0xB1}, {}}, {0x12, {0xB2}, {}}, {0x12, {}, {}}});
  AddBridge("A", Quiet(10));  // the same serial string again: left alone
  // A's reads block until B has read all it had: were both read by one
  // thread, or did a reader wait for the other, this would never end.
  fake::State().afterCall = [](const std::string& call) {
    if (call.rfind("Read handle=1 ", 0) == 0 && CallsOn(0, "Read ") == 1) {
      while (CallsOn(1, "Read ") < 3) {
        fake::Lock().unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        fake::Lock().lock();
      }
    }
  };
  fake::State().bridges[0].reads.insert(fake::State().bridges[0].reads.end(), 5000, {0x12, {}, {}});
  fake::State().bridges[1].reads.insert(fake::State().bridges[1].reads.end(), 5000, {0x12, {}, {}});
  StationOptions options;
  options.round = std::chrono::milliseconds(1);
  options.survey = std::chrono::hours(1);
  options.stopRequested = [] { return CallsOn(0, "Read ") >= 4 && CallsOn(1, "Read ") >= 4; };
  const std::string output = WatchQueued(options);
  fake::State().afterCall = nullptr;
  // The second A is told, once, and left alone.
  const std::string shared =
      "Not read: A: 2 bridges share this serial string; only the first listed is read\n";
  EXPECT_NE(
      output.find("\nNumber of connected CP2110 HID devices = 3\n" + shared + ConnectedLines("A")),
      std::string::npos);
  EXPECT_EQ(Of("A", output), shared + "Connected to A\n" + Report("A", 0xA1) + Report("A", 0xA2));
  EXPECT_EQ(Of("B", output), "Connected to B\n" + Report("B", 0xB1) + Report("B", 0xB2));
  EXPECT_EQ(fake::CallsStartingWith("Open").size(), 2u);
  // The connection's time-out, then the round for every read, set once.
  for (size_t handle : {size_t{1}, size_t{2}}) {
    EXPECT_EQ(fake::CallsStartingWith("SetTimeouts handle=" + std::to_string(handle)),
              (std::vector<std::string>{harness::TimeoutsCall(handle),
                                        harness::TimeoutsCall(handle, options.round)}));
  }
}

fake::Bridge& X() { return fake::State().bridges[1]; }
void Detach() { X().attached = false; }
void Attach() {
  X().attached = true;
  X().failures.clear();
}

// Bridges that fail, leave and come back, against one healthy bridge H that
// goes on being read. What X does is keyed to the calls that concern it
// (its closes, the listings after them), never to the timing of threads.
TEST_F(StationTest, BridgesThatFailLeaveAndComeBack) {
  const std::string xConnected = "Connected to X\n";
  struct Comings {
    const char* name;
    std::deque<fake::Read> reads;  // of bridge X, whose first open may fail
    HID_UART_STATUS openStatus;
    // Calls of GetNumDevices (the count at the start, each connection's
    // look-up and each listing) at which X is unplugged, and then plugged in
    // again; 0: never.
    size_t detachAt, attachAt;
    size_t closesOfX;      // the station is stopped after this many
    std::string expected;  // of X
    size_t opensOfX;
  };
  const Comings cases[] = {
      {"a failed connection is not retried until the bridge was detached", Quiet(5000),
       HID_UART_DEVICE_ACCESS_ERROR, 5, 7, 0, "Error: X: Device access error\n" + xConnected, 2},
      {"a bridge unplugged and plugged in again is connected again",
       {{0x12, {0x01}, {}}},
       HID_UART_SUCCESS,
       0,
       0,
       2,
       xConnected + Report("X", 0x01) + "Disconnected from X: Device I/O failed\n" + xConnected +
           "Disconnected from X: Device I/O failed\n",
       2},
      {"reads that fail twice with nothing between hold the bridge until detached",
       {{0x10, {}, {}}, {0x10, {0x55}, {}}, {0x12, {0x66}, {}}},
       HID_UART_SUCCESS,
       0,
       0,
       3,
       xConnected + "Disconnected from X: Read error\n" + xConnected +
           "Disconnected from X: Read error\n" + xConnected + Report("X", 0x66) +
           "Disconnected from X: Device I/O failed\n",
       3},
      {"a byte read between two failures earns another connection",
       {{0x10, {}, {}}, {0x12, {0x77}, {}}, {0x14, {}, {}}, {0x14, {}, {}}},
       HID_UART_SUCCESS,
       0,
       0,
       3,
       xConnected + "Disconnected from X: Read error\n" + xConnected + Report("X", 0x77) +
           "Disconnected from X: Device I/O failed\n" + xConnected +
           "Disconnected from X: Device I/O failed\n",
       3},
  };
  for (const Comings& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    AddBridge("H", Quiet(100000));
    AddBridge("X", c.reads);
    if (c.openStatus != HID_UART_SUCCESS) {
      X().failures["GetPartNumber"] = c.openStatus;
    }
    // A bridge held is plugged out and in again once its second close has
    // been made: two listings later.
    size_t listings = 0;
    size_t detachAt = c.detachAt;
    size_t attachAt = c.attachAt;
    fake::State().afterCall = [&](const std::string& call) {
      if (call.rfind("Close ", 0) == 0 && CallsOn(1, "Close ") == 2 && c.closesOfX == 3) {
        detachAt = listings + 1;
        attachAt = listings + 2;
      }
      if (call.rfind("GetNumDevices", 0) == 0) {
        ++listings;
        if (listings == detachAt) {
          Detach();
        } else if (listings == attachAt) {
          Attach();
        }
      }
    };
    StationOptions options;
    options.round = std::chrono::milliseconds(1);
    options.survey = std::chrono::milliseconds(0);
    const size_t closes = c.closesOfX;
    options.stopRequested = [closes] {
      return closes > 0 ? CallsOn(1, "Close ") >= closes : CallsOn(1, "Read ") >= 1;
    };
    const std::string output = WatchQueued(options);
    fake::State().afterCall = nullptr;
    EXPECT_NE(output.find("\nNumber of connected CP2110 HID devices = 2\n" + ConnectedLines("H")),
              std::string::npos);
    EXPECT_EQ(Of("H", output), "Connected to H\n");
    EXPECT_EQ(Of("X", output), c.expected);
    size_t opens = 0;
    for (size_t bridge : fake::State().openedBridge) {
      opens += bridge == 1 ? 1 : 0;
    }
    EXPECT_EQ(opens, c.opensOfX);
    EXPECT_EQ(fake::HandleProblems(), "");
  }
}

// Framing in the station: each bridge's blocks are decided by its own reads,
// whatever the other bridges do, and a stop completes what is arriving.
TEST_F(StationTest, FramesEachBridgeOnItsOwnAndCompletesBlocksAtAStop) {
  const fake::Read quiet{0x12, {}, {}};
  struct FramingCase {
    const char* name;
    std::deque<fake::Read> a, b;
    bool aEndless;  // every read of A brings a byte: its block never ends by itself
    std::string expectedA, expectedB;  // after "Connected to"
  };
  const FramingCase cases[] = {
      {"tags cut by reads are whole, each bridge on its own",
       {{0x12, {0x12, 0x34}, {}}, {0x12, {0x56}, {}}, quiet, quiet, {0x12, {0x01}, {}}},
       {quiet, {0x12, {0xB1, 0xB2}, {}}, {0x12, {0xB3}, {}}},
       false,
       BlockLines("A", {0x12, 0x34, 0x56}) + BlockLines("A", {0x01}),
       BlockLines("B", {0xB1, 0xB2, 0xB3})},
      {"a block pending at a failed read comes before the disconnection",
       {{0x12, {0x12, 0x34}, {}}, {0x14, {0x99}, {}}},
       {},
       false,
       BlockLines("A", {0x12, 0x34}) + "Disconnected from A: Device I/O failed\n",
       ""},
      {"a block still arriving at a stop is completed before the end, every other one too",
       {},
       {{0x12, {0xB1}, {}}},
       true,
       "",
       BlockLines("B", {0xB1})},
  };
  for (const FramingCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    AddBridge("A", c.a);
    AddBridge("B", c.b);
    const bool endless = c.aEndless;
    for (fake::Bridge& bridge : fake::State().bridges) {
      bridge.reads.insert(bridge.reads.end(), 100, quiet);
    }
    fake::State().afterCall = [endless](const std::string& call) {
      if (endless && call.rfind("Read handle=1 ", 0) == 0) {
        // A byte a millisecond, as on a line.
        fake::State().bridges[0].reads.push_front({0x12, {0xA5}, {}});
        fake::Lock().unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        fake::Lock().lock();
      }
    };
    StationOptions options;
    options.capture.frameGap = std::chrono::milliseconds(4);
    options.survey = std::chrono::hours(1);
    options.stopRequested = [endless] {
      // A sending for a while; else every scripted read taken, or A gone.
      const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
      const auto& bridges = fake::State().bridges;
      if (endless) {
        return CallsOn(0, "Read ") > 20;
      }
      return fake::State().openedBridge.size() >= 2 &&
             (CallsOn(0, "Close ") > 0 ||
              (bridges[0].reads.size() <= 100 && bridges[1].reads.size() <= 100));
    };
    const std::string output = WatchQueued(options);
    fake::State().afterCall = nullptr;
    const std::string ofA = Of("A", output);
    if (c.aEndless) {
      // One block, of A's bytes only, ended by the stop's grace, not cut.
      const size_t bytes = std::count(ofA.begin(), ofA.end(), '\n') == 6
                               ? std::stoul(ofA.substr(ofA.find(", ") + 2))
                               : 0;
      ASSERT_GT(bytes, 20u) << ofA;
      EXPECT_EQ(ofA, "Connected to A\n" + BlockLines("A", Bytes(bytes, 0xA5)));
    } else {
      EXPECT_EQ(ofA, "Connected to A\n" + c.expectedA);
    }
    EXPECT_EQ(Of("B", output), "Connected to B\n" + c.expectedB);
    EXPECT_EQ(fake::HandleProblems(), "");
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
    // After the count; "T " where a time stands. In station mode, by
    // bridge, each in the order of its events.
    std::map<std::string, std::string> expected;
  };
  const std::string identity = harness::IdentityLines();
  const LinesCase cases[] = {
      {"station mode names the bridge of a failed connection",
       true,
       false,
       {{"A", "Connected to A\n" + Report("A", 0xA1) + "Disconnected from A: Device I/O failed\n"},
        {"B", "Error: B: Device access error\n"},
        {"C", "Failed to connect to C: Invalid parameter\n"}}},
      {"station mode with timestamps",
       true,
       true,
       {{"A",
         "T Connected to A\nT " + Report("A", 0xA1) + "T Disconnected from A: Device I/O failed\n"},
        {"B", "T Error: B: Device access error\n"},
        {"C", "T Failed to connect to C: Invalid parameter\n"}}},
      {"the sweep's lines are unchanged, with timestamps too",
       false,
       true,
       {{"", identity + "Connected to A\nT " + Report("A", 0xA1) +
                 "Error: Device access error\nFailed to connect to C: Invalid parameter\n"
                 "Not Connected\n"}}},
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
    // Once A's reads are done and C's connection has failed (its handle closed).
    options.stopRequested = [] { return Reads() >= 2 && CallsOn(2, "Close ") >= 1; };
    const std::string before = LocalTimestamp(std::chrono::system_clock::now()).text;
    std::string output;
    if (c.station) {
      output = WatchQueued(options);
    } else {
      testing::internal::CaptureStdout();
      SweepDevices(SweepOptions{options.capture, {}});
      output = testing::internal::GetCapturedStdout();
    }
    const std::string after = LocalTimestamp(std::chrono::system_clock::now()).text;
    output = output.substr(output.find("Number"));
    output = output.substr(output.find('\n') + 1);
    const std::regex stamp(R"(^\S+T\S+[+-]\d\d:\d\d )", std::regex::multiline);
    for (const auto& [serial, expected] : c.expected) {
      SCOPED_TRACE(serial);
      const std::string lines = serial.empty() ? output : Of(serial, output);
      // Each time is that of its event: within the run, never before the
      // one printed above it for the same bridge.
      std::string previous = before;
      for (auto found = std::sregex_iterator(lines.begin(), lines.end(), stamp);
           found != std::sregex_iterator(); ++found) {
        std::string time = found->str();
        time.pop_back();
        EXPECT_LE(previous, time);
        EXPECT_LE(time, after);
        previous = time;
      }
      EXPECT_EQ(std::regex_replace(lines, stamp, "T "), expected);
    }
    if (c.station) {
      // A connection's lines leave together, the identity first.
      EXPECT_NE(std::regex_replace(output, stamp, "T ")
                    .find(identity + (c.timestamps ? "T " : "") + "Connected to A\n"),
                std::string::npos);
    }
  }
}

TEST_F(StationTest, ReadsThatReturnAtOnceDoNotMakeABusyLoop) {
  AddBridge("A", Quiet(100000));
  StationOptions options;
  options.round = std::chrono::milliseconds(100);
  options.survey = std::chrono::milliseconds(1000);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  options.stopRequested = [end] { return std::chrono::steady_clock::now() >= end; };
  WatchQueued(options);
  // Each read is stretched to the 100 ms it should have waited.
  EXPECT_LE(Reads(), 5u);
}

}  // namespace
