// SPDX-License-Identifier: Apache-2.0
#include "capture/capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "bridge_harness.h"
#include "capture/bridge_reader.h"
#include "capture/read_plan.h"
#include "fake_bridge.h"
#include "library/connection.h"
#include "output/events.h"

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// Every read takes this long on the capture's clock.
constexpr milliseconds kReadTime{10};

Bytes Counting(uint8_t first, size_t count) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<uint8_t>(first + i);
  }
  return bytes;
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

fake::Read Quiet() { return {HID_UART_READ_TIMED_OUT, {}, {}}; }
fake::Read Got(Bytes bytes) { return {HID_UART_READ_TIMED_OUT, std::move(bytes), {}}; }

// Connects one bridge S1 with these reads and steps a reader of it on the
// test's thread, each read taking readTime on the capture's clock, until a
// read fails or the reads run out; then `end` ends the capture, told whether
// the last read failed. Returns what the reader printed.
std::string Stepped(const std::deque<fake::Read>& reads, ReaderOptions options,
                    milliseconds readTime, const std::function<void(Capture&, bool)>& end) {
  fake::Reset();
  fake::AddBridge("S1", reads);
  testing::internal::CaptureStdout();
  const bool connected = ConnectBySerial("S1");
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(connected);
  CaptureClock::time_point now{};
  options.capture.now = [&now] { return now; };
  // The reader keeps a reference to its options.
  BridgeReader reader(ConnectedDevice.handle, "S1", options);
  testing::internal::CaptureStdout();
  bool failed = false;
  while (!failed && !fake::State().bridges[0].reads.empty()) {
    now += readTime;
    failed = !reader.Step();
  }
  end(reader.capture(), failed);
  return testing::internal::GetCapturedStdout();
}

ReaderOptions Framed(milliseconds gap, milliseconds dedupe) {
  ReaderOptions options;
  options.capture.frameGap = gap;
  options.capture.dedupe = dedupe;
  return options;
}

struct Case {
  std::string name;
  milliseconds gap;
  std::deque<fake::Read> reads;  // read until one fails or they run out; then a stop
  std::vector<Bytes> blocks;     // the blocks reported, in order
  bool failed;                   // the last read failed
  milliseconds dedupe{0};
};

// The blocks a reader reports; a stop at the end reports what is pending.
void ExpectBlocks(const Case& c) {
  SCOPED_TRACE(c.name);
  bool failed = false;
  const std::string output =
      Stepped(c.reads, Framed(c.gap, c.dedupe), kReadTime, [&failed](Capture& capture, bool last) {
        failed = last;
        if (!failed) {
          capture.Flush();
        }
        EXPECT_FALSE(capture.Pending());
      });
  std::string expected;
  for (const Bytes& block : c.blocks) {
    expected += harness::BlockLines("S1", block);
  }
  EXPECT_EQ(output, expected);
  EXPECT_EQ(failed, c.failed);
}

// With a gap, a read that brings bytes starts the gathering, the next quiet
// read starts the proof, and a second quiet read proves the gap.
TEST(BridgeReader, GathersBlocksUntilTheLineIsQuietForTheGap) {
  const Bytes tag = {0x12, 0x34, 0x56, 0x78, 0x9A};
  const Bytes other = {0x01, 0x02, 0x03, 0x04, 0x05};
  const Bytes six = Counting(0x40, 600);
  const Case cases[] = {
      {"without a gap each read is a block, as it comes",
       milliseconds(0),
       {Got({0x12, 0x34, 0x56}), Quiet(), Got({0x78, 0x9A})},
       {{0x12, 0x34, 0x56}, {0x78, 0x9A}},
       false},
      {"a tag split over two reads is one block",
       milliseconds(20),
       {Got({0x12, 0x34, 0x56}), Got({0x78, 0x9A}), Quiet(), Quiet(), Quiet()},
       {tag},
       false},
      {"two tags with a quiet gap between them are two blocks",
       milliseconds(20),
       {Got(tag), Quiet(), Quiet(), Got(other), Quiet(), Quiet()},
       {tag, other},
       false},
      {"a quiet spell shorter than the gap joins what comes either side",
       milliseconds(20),
       {Got(tag), Quiet(), Got(other), Quiet(), Quiet()},
       {Join(tag, other)},
       false},
      {"every 1000 bytes gathered are reported at once; the rest starts the next block",
       milliseconds(20),
       {Got(six), Got(six), Got(six), Quiet(), Quiet()},
       {Join(six, Bytes(six.begin(), six.begin() + 400)),
        Join(Bytes(six.begin() + 400, six.end()), six)},
       false},
      {"a full read is one block of 1000 bytes",
       milliseconds(20),
       {{HID_UART_SUCCESS, Counting(0, 1000), {}}, Quiet(), Quiet()},
       {Counting(0, 1000)},
       false},
      {"a failing read reports what was pending, not its own bytes",
       milliseconds(20),
       {Got({0x12, 0x34, 0x56}), {HID_UART_DEVICE_IO_FAILED, {0x78, 0x9A}, {}}, Got(other)},
       {{0x12, 0x34, 0x56}},
       true},
      {"a failing read without a gap reports nothing of its own",
       milliseconds(0),
       {Got(tag), {HID_UART_READ_ERROR, {0x78}, {}}},
       {tag},
       true},
      {"a stop reports what is pending",
       milliseconds(20),
       {Got(tag), Quiet(), Quiet(), Got(other)},
       {tag, other},
       false},
      {"a byte during the proof joins the block and gathering starts again",
       milliseconds(45),
       {Got(tag), Quiet(), Got({0x01}), Got({0x02, 0x03}), Quiet(), Quiet(), Quiet()},
       {Join(tag, {0x01, 0x02, 0x03})},
       false},
      {"a tag held in the field is reported once, and again after it was away",
       milliseconds(20),
       {Got(tag),   Quiet(), Quiet(), Got(tag), Quiet(),  Quiet(), Got(tag), Quiet(), Quiet(),
        Got(other), Quiet(), Quiet(), Got(tag), Quiet(),  Quiet(), Quiet(),  Quiet(), Quiet(),
        Quiet(),    Quiet(), Quiet(), Quiet(),  Got(tag), Quiet(), Quiet()},
       {tag, other, tag, tag},
       false,
       milliseconds(100)},
      {"repeats left out count as the previous block: a tag held long stays out",
       milliseconds(20),
       {Got(tag), Quiet(), Quiet(), Quiet(), Quiet(), Quiet(), Got(tag), Quiet(), Quiet(), Quiet(),
        Quiet(), Quiet(), Got(tag), Quiet(), Quiet()},
       {tag},
       false,
       milliseconds(75)},
      {"without framing every read is compared on its own",
       milliseconds(0),
       {Got({0x12, 0x34}), Got({0x12, 0x34}), Got({0x56}), Got({0x12, 0x34})},
       {{0x12, 0x34}, {0x56}, {0x12, 0x34}},
       false,
       milliseconds(50)},
  };
  for (const Case& c : cases) {
    ExpectBlocks(c);
  }
}

// A library that claims more bytes than a read asked for, or than it placed:
// no block reaches past the read's room, and bytes not placed show as zeros,
// never as bytes of an earlier read. Every read of the sweep and the station
// is made here, framed or not.
TEST(BridgeReader, ReadCountsAboveTheRequestOrWhatWasPlacedStayWithinTheBlock) {
  const Bytes full = Counting(0x03, 1000);
  const Bytes threeThenZeros = Join(Counting(1, 3), Bytes(997, 0));
  std::vector<Case> cases;
  for (uint32_t claimed : {1001u, 4096u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    for (HID_UART_STATUS status : {HID_UART_SUCCESS, HID_UART_READ_TIMED_OUT}) {
      // A full read, three bytes placed, then a failing read: each claims far
      // more; the failing one shows nothing.
      cases.push_back(
          {"claims " + std::to_string(claimed) + " with status " + std::to_string(status),
           milliseconds(0),
           {{status, full, claimed},
            {status, Counting(1, 3), claimed},
            {HID_UART_DEVICE_IO_FAILED, full, claimed}},
           {full, threeThenZeros},
           true});
    }
  }
  cases.push_back({"bytes placed beyond the count claimed never show in a later read",
                   milliseconds(0),
                   {{HID_UART_SUCCESS, Counting(1, 10), 4u}, {HID_UART_READ_TIMED_OUT, {}, 10u}},
                   {Counting(1, 4), Bytes(10, 0)},
                   false});
  cases.push_back(
      {"framed, a count beyond what was placed fills only the block's room, with zeros",
       milliseconds(20),
       {Got({0xAA, 0xBB, 0xCC}), {HID_UART_READ_TIMED_OUT, {0xDD}, 5000}, Quiet(), Quiet()},
       {Join(Bytes{0xAA, 0xBB, 0xCC, 0xDD}, Bytes(996, 0))},
       false});
  for (const Case& c : cases) {
    ExpectBlocks(c);
  }
}

// A reported block ("block HEX") or a held tag's count ("held HEX xN"), as
// the JSON lines give them.
std::vector<std::string> ReportedEvents(const std::string& output) {
  std::vector<std::string> events;
  const std::regex event(R"re("event":"(block|held)"[^\n]*?"hex":"([0-9A-F]*)"([^\n]*)\n)re");
  const std::regex repeats(R"re("repeats":([0-9]+))re");
  for (auto match = std::sregex_iterator(output.begin(), output.end(), event);
       match != std::sregex_iterator(); ++match) {
    std::smatch count;
    const std::string rest = (*match)[3].str();
    events.push_back((*match)[1].str() + " " + (*match)[2].str() +
                     (std::regex_search(rest, count, repeats) ? " x" + count[1].str() : ""));
  }
  return events;
}

TEST(BridgeReader, DedupeLeavesOutATagHeldInTheFieldAndTellsItsRepeatsWhenItLeaves) {
  const Bytes tag = {0x12, 0x34, 0x56, 0x78, 0x9A};
  const Bytes other = {0x00, 0x00, 0xBC, 0x61, 0x4E};
  // Reads come 10 ms apart; a tag takes two (its first byte, then the
  // rest), and two quiet reads prove its end; its time is that of its first
  // byte.
  const auto held = [](const Bytes& bytes, int quiet) {
    std::deque<fake::Read> reads{Got(bytes)};
    reads.insert(reads.end(), static_cast<size_t>(quiet), Quiet());
    return reads;
  };
  const auto join = [](std::initializer_list<std::deque<fake::Read>> parts) {
    std::deque<fake::Read> reads;
    for (const auto& part : parts) {
      reads.insert(reads.end(), part.begin(), part.end());
    }
    return reads;
  };
  const auto failing = [](std::deque<fake::Read> reads) {
    reads.push_back(fake::Read{HID_UART_DEVICE_IO_FAILED, {}, {}});
    return reads;
  };
  struct DedupeCase {
    const char* name;
    milliseconds gap;
    milliseconds dedupe;
    std::deque<fake::Read> reads;
    std::vector<std::string> events;  // to the end of the capture
  };
  const DedupeCase cases[] = {
      {"off: every block is reported",
       milliseconds(20),
       milliseconds(0),
       join({held(tag, 3), held(tag, 3)}),
       {"block 123456789A", "block 123456789A"}},
      {"a tag held, then another: the held one's count comes before the other",
       milliseconds(20),
       milliseconds(100),
       join({held(tag, 3), held(tag, 3), held(tag, 3), held(other, 3)}),
       {"block 123456789A", "held 123456789A x2", "block 0000BC614E"}},
      {"the first tag again after another is reported; nothing was held",
       milliseconds(20),
       milliseconds(100),
       join({held(tag, 3), held(other, 3), held(tag, 3)}),
       {"block 123456789A", "block 0000BC614E", "block 123456789A"}},
      {"each repeat counts from the previous one; a tag held to the end is told at the end",
       milliseconds(20),
       milliseconds(50),
       join({held(tag, 2), held(tag, 2), held(tag, 2), held(tag, 2), held(tag, 2)}),
       {"block 123456789A", "held 123456789A x4"}},
      {"a tag away for the dedupe time: its hold is told before it is reported again",
       milliseconds(20),
       milliseconds(50),
       join({held(tag, 2), held(tag, 2), held(tag, 8), held(tag, 2)}),
       {"block 123456789A", "held 123456789A x2", "block 123456789A"}},
      {"a hold whose time passes while the line is quiet is told then",
       milliseconds(20),
       milliseconds(50),
       join({held(tag, 2), held(tag, 8)}),
       {"block 123456789A", "held 123456789A x1"}},
      {"a block that only starts like the previous one is another",
       milliseconds(20),
       milliseconds(100),
       join({held(tag, 3), held(Bytes(tag.begin(), tag.begin() + 4), 3)}),
       {"block 123456789A", "block 12345678"}},
      {"without framing each read is compared",
       milliseconds(0),
       milliseconds(100),
       join({held(tag, 0), held(tag, 0), held(other, 0)}),
       {"block 123456789A", "held 123456789A x1", "block 0000BC614E"}},
      {"a failing read tells the hold before the disconnection",
       milliseconds(20),
       milliseconds(1000),
       failing(join({held(tag, 2), held(tag, 2)})),
       {"block 123456789A", "held 123456789A x1"}},
  };
  for (const DedupeCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderOptions options = Framed(c.gap, c.dedupe);
    options.tellDisconnection = true;
    SetOutputFormat(OutputFormat::kJsonLines);
    const std::string output = Stepped(c.reads, options, kReadTime, [](Capture& capture, bool) {
      capture.Finish();
      capture.Finish();
    });
    SetOutputFormat(OutputFormat::kHuman);
    EXPECT_EQ(ReportedEvents(output), c.events) << output;
    // The hold is told before the disconnection that ended it.
    EXPECT_EQ(output.find("\"held\"") != std::string::npos &&
                  output.find("\"disconnected\"") != std::string::npos &&
                  output.find("\"held\"") > output.find("\"disconnected\""),
              false)
        << output;
  }
}

// A reader that goes silent is told once, and again once it delivers; the
// reads here each take a quarter of a second on the capture's clock, and
// bytes of a tag are one read ('B'), a quiet read 'q'.
TEST(BridgeReader, ASilentReaderIsToldOnceAndAgainWhenItDelivers) {
  struct SilenceCase {
    const char* name;
    long silentAfterSeconds;
    const char* reads;
    std::vector<std::string> lines;  // the lines of silence, in order
  };
  const SilenceCase cases[] = {
      {"off", 0, "qqqqqqqqqqqq", {}},
      {"quiet from the start: once", 1, "qqqqqqqqqqqq", {"Silent: S1 for 1 s"}},
      {"just under the time: nothing", 1, "qqq", {}},
      {"counted from the last bytes", 1, "qqqBqqqBqqq", {}},
      {"silent, then delivering",
       1,
       "qqqqqqBqq",
       {"Silent: S1 for 1 s", "Delivering again: S1 after 1 s silent"}},
      {"silent again after delivering",
       1,
       "qqqqBqqqqqq",
       {"Silent: S1 for 1 s", "Delivering again: S1 after 1 s silent", "Silent: S1 for 1 s"}},
      {"a long silence is told by its length",
       2,
       "qqqqqqqqqqqqB",
       {"Silent: S1 for 2 s", "Delivering again: S1 after 3 s silent"}},
  };
  for (const SilenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::deque<fake::Read> reads;
    for (const char* read = c.reads; *read != '\0'; ++read) {
      reads.push_back(*read == 'B' ? Got({0x12, 0x34}) : Quiet());
    }
    ReaderOptions options = Framed(milliseconds(20), milliseconds(0));
    options.silentAfter = std::chrono::seconds(c.silentAfterSeconds);
    const std::string output = Stepped(reads, options, milliseconds(250), [](Capture&, bool) {});
    std::vector<std::string> lines;
    const std::regex line(R"re((Silent|Delivering again): [^\n]*)re");
    for (auto match = std::sregex_iterator(output.begin(), output.end(), line);
         match != std::sregex_iterator(); ++match) {
      lines.push_back(match->str());
    }
    EXPECT_EQ(lines, c.lines) << output;
  }
}

// The read plan alone: outcomes in ('B' bytes, 'Q' quiet), the reads it
// asks for ("1/250": one byte, 250 ms; "N/3": as many as fit, 3 ms), and
// after which outcomes a block is proven ended ('E').
TEST(ReadPlan, ProvesTheGapWithReadsThatReturnWhenABlockStartsOrEnds) {
  struct PlanCase {
    const char* name;
    long gapMs;
    const char* outcomes;
    const char* reads;
    const char* ends;
  };
  const PlanCase cases[] = {
      {"quiet while waiting", 20, "QQ", "1/250 1/250", ".."},
      {"a tag: gathered, then the rest of the gap proven by one byte", 20, "BBQQQ",
       "1/250 N/3 N/3 1/17 1/250", "...E."},
      {"a byte during the proof is gathered with what follows", 20, "BQBQQ",
       "1/250 N/3 1/17 N/3 1/17", "....E"},
      {"a gathering read that brings bytes goes on gathering", 20, "BBBBQQ",
       "1/250 N/3 N/3 N/3 N/3 1/17", ".....E"},
      {"a short gap gathers for a quarter of it", 8, "BQQ", "1/250 N/2 1/6", "..E"},
      {"the shortest gap still waits at least 1 ms each", 1, "BQQ", "1/250 N/1 1/1", "..E"},
      {"a long gap gathers for 3 ms and proves the rest", 1000, "BQQ", "1/250 N/3 1/997", "..E"},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReadPlan plan(milliseconds(c.gapMs));
    std::string reads;
    std::string ends;
    for (const char* outcome = c.outcomes; *outcome != '\0'; ++outcome) {
      const ReadPlan::Read next = plan.Next();
      reads += (reads.empty() ? "" : " ") + std::string(next.many ? "N/" : "1/") +
               std::to_string(next.timeout.count());
      ends += plan.After(*outcome == 'B') ? 'E' : '.';
    }
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(ends, c.ends);
  }
}

}  // namespace
