#include "capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "connection.h"
#include "fake_bridge.h"
#include "report_model.h"

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

struct Case {
  const char* name;
  milliseconds gap;
  std::deque<fake::Read> reads;  // read until one fails or they run out; then a stop
  std::vector<Bytes> blocks;     // the blocks reported, in order
  bool failed;                   // the last read failed
  milliseconds dedupe{0};
};

TEST(Capture, GathersBlocksUntilTheLineIsQuietForTheGap) {
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
      {"a count beyond what was placed shows zeros and leaves pending bytes alone",
       milliseconds(20),
       {Got({0xAA, 0xBB, 0xCC}), {HID_UART_READ_TIMED_OUT, {0xDD}, 5000}, Quiet(), Quiet()},
       {Join(Bytes{0xAA, 0xBB, 0xCC, 0xDD}, Bytes(996, 0)), Bytes(3, 0)},
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
      {"a gap longer than the reads' turn waits for enough quiet",
       milliseconds(45),
       {Got(tag), Quiet(), Quiet(), Quiet(), Quiet(), Got(other), Quiet(), Quiet(), Quiet(),
        Quiet(), Quiet()},
       {Join(tag, other)},
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
       {Got(tag), Quiet(), Quiet(), Quiet(), Quiet(), Quiet(), Quiet(), Got(tag), Quiet(), Quiet(),
        Quiet(), Quiet(), Quiet(), Quiet(), Got(tag), Quiet(), Quiet()},
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
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::State().bridges.emplace_back();
    fake::Bridge& bridge = fake::State().bridges.back();
    bridge.serial = "S1";
    bridge.reads = c.reads;
    const size_t scripted = c.reads.size();
    ASSERT_TRUE([] {
      testing::internal::CaptureStdout();
      const bool connected = ConnectBySerial("S1");
      testing::internal::GetCapturedStdout();
      return connected;
    }());

    CaptureClock::time_point now{};
    CaptureOptions options;
    options.frameGap = c.gap;
    options.dedupe = c.dedupe;
    options.now = [&now] { return now; };
    Capture capture(ConnectedDevice.handle, "S1", options);
    testing::internal::CaptureStdout();
    bool failed = false;
    for (size_t read = 0; read < scripted && !failed; ++read) {
      now += kReadTime;
      failed = capture.Read() == Capture::Outcome::kFailed;
    }
    if (!failed) {
      capture.Flush();
    }
    const std::string output = testing::internal::GetCapturedStdout();

    std::string expected;
    for (const Bytes& block : c.blocks) {
      expected += reports::Report("S1", block);
    }
    EXPECT_EQ(output, expected);
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(capture.Pending(), false);
    for (const std::string& call : fake::CallsStartingWith("Read ")) {
      EXPECT_NE(call.find(" request=1000 "), std::string::npos) << call;
    }
  }
}

TEST(Capture, ReadTimeoutsLetEveryBridgeBeReadTwicePerGap) {
  struct Turn {
    long gapMs;
    size_t bridges;
    long timeoutMs;
  };
  const Turn turns[] = {{20, 1, 10}, {20, 2, 5},     {20, 16, 1},      {20, 64, 1},
                        {1, 1, 1},   {1000, 1, 200}, {60000, 64, 200}, {20, 0, 10}};
  for (const Turn& t : turns) {
    EXPECT_EQ(FramingReadTimeout(milliseconds(t.gapMs), t.bridges).count(), t.timeoutMs)
        << t.gapMs << " ms, " << t.bridges << " bridges";
  }
}

}  // namespace
