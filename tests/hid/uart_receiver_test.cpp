#include "uart_receiver.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "cp2110_reports.h"

namespace hidbridge {
namespace {

// Hands out scripted input reports; once they run out it answers "nothing
// arrived", or fails when the script says the device is gone.
class ScriptedSource : public ReportSource {
 public:
  void Data(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> report{static_cast<uint8_t>(bytes.size())};
    report.insert(report.end(), bytes.begin(), bytes.end());
    reports_.push_back(report);
  }
  void Raw(const std::vector<uint8_t>& report) { reports_.push_back(report); }
  void Unplug() { unplugged_ = true; }

  int ReadReport(uint8_t* report, size_t size, int timeoutMs) override {
    ++calls;
    waits.push_back(timeoutMs);
    if (reports_.empty()) {
      return unplugged_ ? -1 : 0;
    }
    const std::vector<uint8_t> next = reports_.front();
    reports_.pop_front();
    const size_t n = std::min(size, next.size());
    std::copy_n(next.begin(), n, report);
    return static_cast<int>(n);
  }

  int calls = 0;
  std::vector<int> waits;

 private:
  std::deque<std::vector<uint8_t>> reports_;
  bool unplugged_ = false;
};

std::vector<uint8_t> Sequence(size_t size, uint8_t first = 0) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(first + i);
  }
  return bytes;
}

struct Result {
  HID_UART_STATUS status;
  std::vector<uint8_t> bytes;
};

Result ReadOnce(UartReceiver& receiver, ScriptedSource& source, uint32_t wanted,
                uint32_t timeoutMs = 0) {
  std::vector<uint8_t> buffer(wanted + 8, 0xEE);
  uint32_t got = 12345;
  const HID_UART_STATUS status = receiver.Read(source, buffer.data(), wanted, timeoutMs, &got);
  EXPECT_LE(got, wanted);
  // Nothing is written past the request.
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + wanted, buffer.end()),
            std::vector<uint8_t>(8, 0xEE));
  return {status, std::vector<uint8_t>(buffer.begin(), buffer.begin() + got)};
}

TEST(UartReceiver, QuietLineTimesOutWithNothing) {
  ScriptedSource source;
  UartReceiver receiver;
  const Result result = ReadOnce(receiver, source, 1000);
  EXPECT_EQ(result.status, HID_UART_READ_TIMED_OUT);
  EXPECT_TRUE(result.bytes.empty());
}

TEST(UartReceiver, GathersReportsUntilTheTimeOut) {
  ScriptedSource source;
  source.Data({0x12, 0x34});
  source.Data({0x56, 0x78, 0x9A});
  UartReceiver receiver;
  const Result result = ReadOnce(receiver, source, 1000);
  EXPECT_EQ(result.status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(result.bytes, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A}));
}

TEST(UartReceiver, FilledRequestReturnsAtOnce) {
  ScriptedSource source;
  source.Data(Sequence(3));
  source.Data(Sequence(2, 3));
  UartReceiver receiver;
  const Result result = ReadOnce(receiver, source, 5, 60000);
  EXPECT_EQ(result.status, HID_UART_SUCCESS);
  EXPECT_EQ(result.bytes, Sequence(5));
  EXPECT_EQ(source.calls, 2);
}

TEST(UartReceiver, BytesThatDoNotFitAreKeptInOrderForTheNextRead) {
  ScriptedSource source;
  source.Data(Sequence(63));
  UartReceiver receiver;
  EXPECT_EQ(ReadOnce(receiver, source, 10).bytes, Sequence(10));
  EXPECT_EQ(receiver.Pending(), 53u);
  // Served from what was kept, without waiting on the device.
  const int callsBefore = source.calls;
  const Result second = ReadOnce(receiver, source, 20, 60000);
  EXPECT_EQ(second.status, HID_UART_SUCCESS);
  EXPECT_EQ(second.bytes, Sequence(20, 10));
  EXPECT_EQ(source.calls, callsBefore);
  // Kept bytes come before newer reports.
  source.Data({0xF0, 0xF1});
  const Result third = ReadOnce(receiver, source, 1000);
  std::vector<uint8_t> expected = Sequence(33, 30);
  expected.insert(expected.end(), {0xF0, 0xF1});
  EXPECT_EQ(third.bytes, expected);
  EXPECT_EQ(receiver.Pending(), 0u);
}

TEST(UartReceiver, LongStreamInReportsOfEverySizeArrivesWhole) {
  ScriptedSource source;
  std::vector<uint8_t> sent;
  for (size_t k = 0; sent.size() < 100000; ++k) {
    std::vector<uint8_t> bytes = Sequence(1 + (k * 37) % 63, static_cast<uint8_t>(sent.size()));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    source.Data(bytes);
  }
  UartReceiver receiver;
  std::vector<uint8_t> received;
  for (;;) {
    const Result result = ReadOnce(receiver, source, 1000);
    received.insert(received.end(), result.bytes.begin(), result.bytes.end());
    if (result.status == HID_UART_READ_TIMED_OUT) {
      break;
    }
    ASSERT_EQ(result.status, HID_UART_SUCCESS);
    ASSERT_EQ(result.bytes.size(), 1000u);
  }
  EXPECT_EQ(received, sent);
}

TEST(UartReceiver, ReportsOtherThanDataAreSkipped) {
  ScriptedSource source;
  source.Raw({kUartConfigReportId, 1, 2, 3});
  source.Raw({0x00, 9, 9});
  source.Data({0x42});
  UartReceiver receiver;
  EXPECT_EQ(ReadOnce(receiver, source, 1000).bytes, (std::vector<uint8_t>{0x42}));
}

TEST(UartReceiver, UnpluggedBridgeFailsAtOnce) {
  ScriptedSource source;
  source.Unplug();
  UartReceiver receiver;
  const Result result = ReadOnce(receiver, source, 1000, 60000);
  EXPECT_EQ(result.status, HID_UART_READ_ERROR);
  EXPECT_TRUE(result.bytes.empty());
  // And keeps failing without touching the device again.
  EXPECT_EQ(ReadOnce(receiver, source, 1000, 60000).status, HID_UART_READ_ERROR);
  EXPECT_EQ(source.calls, 1);
}

TEST(UartReceiver, BytesBeforeAnUnplugAreDeliveredBeforeTheFailure) {
  ScriptedSource source;
  source.Data(Sequence(40));
  source.Unplug();
  UartReceiver receiver;
  const Result first = ReadOnce(receiver, source, 30, 60000);
  EXPECT_EQ(first.status, HID_UART_SUCCESS);
  EXPECT_EQ(first.bytes, Sequence(30));
  const Result second = ReadOnce(receiver, source, 1000, 60000);
  EXPECT_EQ(second.status, HID_UART_READ_TIMED_OUT);
  EXPECT_EQ(second.bytes, Sequence(10, 30));
  EXPECT_EQ(ReadOnce(receiver, source, 1000, 60000).status, HID_UART_READ_ERROR);
}

TEST(UartReceiver, WaitsNoLongerThanTheTimeOut) {
  ScriptedSource source;
  UartReceiver receiver;
  ReadOnce(receiver, source, 1000, 200);
  ASSERT_FALSE(source.waits.empty());
  for (const int wait : source.waits) {
    EXPECT_GE(wait, 0);
    EXPECT_LE(wait, 200);
  }
  EXPECT_GT(source.waits.front(), 0);
  EXPECT_EQ(source.waits.back(), 0);
}

}  // namespace
}  // namespace hidbridge
