// SPDX-License-Identifier: Apache-2.0
#include "uart_receiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "cp2110_reports.h"

namespace hidbridge {
namespace {

std::vector<uint8_t> Sequence(size_t size, uint8_t first = 0) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>(first + i);
  }
  return bytes;
}

std::vector<uint8_t> DataReport(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> report{static_cast<uint8_t>(bytes.size())};
  report.insert(report.end(), bytes.begin(), bytes.end());
  return report;
}

struct Result {
  HID_UART_STATUS status;
  std::vector<uint8_t> bytes;
};

Result ReadOnce(UartReceiver& receiver, uint32_t wanted, uint32_t timeoutMs = 0) {
  std::vector<uint8_t> buffer(wanted + 8, 0xEE);
  uint32_t got = 12345;
  const HID_UART_STATUS status = receiver.Read(buffer.data(), wanted, timeoutMs, &got);
  EXPECT_LE(got, wanted);
  // Nothing is written past the request.
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + wanted, buffer.end()),
            std::vector<uint8_t>(8, 0xEE));
  return {status, std::vector<uint8_t>(buffer.begin(), buffer.begin() + got)};
}

// What one step of a case does to the receiver, and what a read then gives.
struct Step {
  enum Kind { kDeliver, kRaw, kEnd, kRead } kind;
  std::vector<uint8_t> bytes;  // kDeliver: data bytes; kRaw: a whole report
  uint32_t wanted = 0;         // kRead
  HID_UART_STATUS status = HID_UART_SUCCESS;
  std::vector<uint8_t> expected = {};  // kRead
};

Step Deliver(std::vector<uint8_t> bytes) { return {Step::kDeliver, std::move(bytes)}; }
Step Raw(std::vector<uint8_t> report) { return {Step::kRaw, std::move(report)}; }
Step End() { return {Step::kEnd, {}}; }
Step Read(uint32_t wanted, HID_UART_STATUS status, std::vector<uint8_t> expected) {
  return {Step::kRead, {}, wanted, status, std::move(expected)};
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(UartReceiver, HandsOutEveryByteInOrderThenTheFailure) {
  struct Case {
    const char* name;
    size_t capacity;
    std::vector<Step> steps;
  };
  const size_t big = UartReceiver::kDefaultCapacity;
  const Case cases[] = {
      {"a quiet line times out with nothing", big, {Read(1000, HID_UART_READ_TIMED_OUT, {})}},
      {"reports gather until the time-out",
       big,
       {Deliver({0x12, 0x34}), Deliver({0x56, 0x78, 0x9A}),
        Read(1000, HID_UART_READ_TIMED_OUT, {0x12, 0x34, 0x56, 0x78, 0x9A})}},
      {"a filled request succeeds, the rest waits in order for the next read",
       big,
       {Deliver(Sequence(63)), Read(10, HID_UART_SUCCESS, Sequence(10)),
        Read(20, HID_UART_SUCCESS, Sequence(20, 10)), Deliver({0xF0, 0xF1}),
        Read(1000, HID_UART_READ_TIMED_OUT, Join(Sequence(33, 30), {0xF0, 0xF1}))}},
      {"reports that carry no UART data add nothing",
       big,
       {Raw({kUartConfigReportId, 1, 2, 3}), Raw({0x00, 9, 9}), Raw({}), Deliver({0x42}),
        Read(1000, HID_UART_READ_TIMED_OUT, {0x42})}},
      {"a report shorter than its ID announces gives the bytes that are there",
       big,
       {Raw({5, 0xA1, 0xA2}), Read(1000, HID_UART_READ_TIMED_OUT, {0xA1, 0xA2})}},
      {"an unplugged bridge fails at once, and keeps failing",
       big,
       {End(), Read(1000, HID_UART_READ_ERROR, {}), Read(1000, HID_UART_READ_ERROR, {})}},
      {"bytes before an unplug are delivered before the failure",
       big,
       {Deliver(Sequence(40)), End(), Read(30, HID_UART_SUCCESS, Sequence(30)),
        Read(1000, HID_UART_READ_TIMED_OUT, Sequence(10, 30)),
        Read(1000, HID_UART_READ_ERROR, {})}},
      {"at the bound every byte held is kept; the report that does not fit ends the bridge",
       100,
       {Deliver(Sequence(60)), Deliver(Sequence(40, 60)), Deliver({0xEE}),
        Read(70, HID_UART_SUCCESS, Sequence(70)),
        Read(1000, HID_UART_READ_TIMED_OUT, Sequence(30, 70)),
        Read(1000, HID_UART_READ_ERROR, {})}},
      {"bytes that would pass the bound are refused, never dropped in the middle",
       100,
       {Deliver(Sequence(63)), Deliver(Sequence(38, 63)), Deliver({0xEE}),
        Read(1000, HID_UART_READ_TIMED_OUT, Sequence(63)), Read(1000, HID_UART_READ_ERROR, {})}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UartReceiver receiver(c.capacity);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const Step& step = c.steps[i];
      switch (step.kind) {
        case Step::kDeliver: {
          const std::vector<uint8_t> report = DataReport(step.bytes);
          receiver.Deliver(report.data(), report.size());
          break;
        }
        case Step::kRaw:
          receiver.Deliver(step.bytes.data(), step.bytes.size());
          break;
        case Step::kEnd:
          receiver.End();
          break;
        case Step::kRead: {
          const Result result = ReadOnce(receiver, step.wanted);
          EXPECT_EQ(result.status, step.status);
          EXPECT_EQ(result.bytes, step.expected);
          break;
        }
      }
    }
  }
}

TEST(UartReceiver, ReportsTheOverrunThatEndedIt) {
  UartReceiver receiver(10);
  const std::vector<uint8_t> report = DataReport(Sequence(11));
  EXPECT_FALSE(receiver.Deliver(report.data(), report.size()));
  EXPECT_TRUE(receiver.Overrun());
  EXPECT_EQ(receiver.Held(), 0u);
}

// Hands out scripted results; once they run out, the device is gone.
class ScriptedSource : public ReportSource {
 public:
  void Data(const std::vector<uint8_t>& bytes) { results_.push_back(DataReport(bytes)); }
  void Interrupt() { results_.push_back({}); }

  int ReadReport(uint8_t* report, size_t size, int timeoutMs) override {
    waits.push_back(timeoutMs);
    if (results_.empty()) {
      return -1;
    }
    const std::vector<uint8_t> next = results_.front();
    results_.pop_front();
    if (next.empty()) {
      return kInterrupted;
    }
    const size_t n = std::min(size, next.size());
    std::copy_n(next.begin(), n, report);
    return static_cast<int>(n);
  }

  std::vector<int> waits;

 private:
  std::deque<std::vector<uint8_t>> results_;
};

TEST(DrainReports, SignalsNeverEndTheBridgeAndEveryByteArrives) {
  ScriptedSource source;
  std::vector<uint8_t> sent;
  for (size_t k = 0; sent.size() < 100000; ++k) {
    const std::vector<uint8_t> bytes =
        Sequence(1 + (k * 37) % 63, static_cast<uint8_t>(sent.size()));
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    source.Data(bytes);
    if (k % 3 == 0) {
      source.Interrupt();
    }
  }
  UartReceiver receiver;
  const std::atomic<bool> stop{false};
  DrainReports(source, receiver, stop);
  for (const int wait : source.waits) {
    EXPECT_EQ(wait, kDrainPollMs);
  }

  std::vector<uint8_t> received;
  for (;;) {
    const Result result = ReadOnce(receiver, 1000);
    received.insert(received.end(), result.bytes.begin(), result.bytes.end());
    if (result.status != HID_UART_SUCCESS) {
      EXPECT_EQ(result.status,
                result.bytes.empty() ? HID_UART_READ_ERROR : HID_UART_READ_TIMED_OUT);
      if (result.status == HID_UART_READ_ERROR) {
        break;
      }
    }
  }
  EXPECT_EQ(received, sent);
}

TEST(DrainReports, AnOverrunStopsTheReader) {
  ScriptedSource source;
  source.Data(Sequence(8));
  source.Data(Sequence(8));
  source.Data(Sequence(8));
  UartReceiver receiver(10);
  const std::atomic<bool> stop{false};
  DrainReports(source, receiver, stop);
  // The third report was never asked for: the second did not fit.
  EXPECT_EQ(source.waits.size(), 2u);
  EXPECT_TRUE(receiver.Overrun());
  EXPECT_EQ(ReadOnce(receiver, 1000).bytes, Sequence(8));
  EXPECT_EQ(ReadOnce(receiver, 1000).status, HID_UART_READ_ERROR);
}

// A quiet device: every wait runs out, until the reader is told to stop.
class QuietSource : public ReportSource {
 public:
  int ReadReport(uint8_t*, size_t, int timeoutMs) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs) / 10);
    return 0;
  }
};

TEST(DrainReports, AReadWaitingOnAnotherThreadSeesBytesAndTheStop) {
  QuietSource source;
  UartReceiver receiver;
  std::atomic<bool> stop{false};
  std::thread reader([&] { DrainReports(source, receiver, stop); });

  // A read with a long time-out returns as soon as its request is filled.
  std::thread sender([&] {
    const std::vector<uint8_t> report = DataReport(Sequence(5));
    receiver.Deliver(report.data(), report.size());
  });
  const Result filled = ReadOnce(receiver, 5, 600000);
  sender.join();
  EXPECT_EQ(filled.status, HID_UART_SUCCESS);
  EXPECT_EQ(filled.bytes, Sequence(5));

  // Stopping the reader ends a read that waits, however long its time-out.
  std::thread stopper([&] { stop = true; });
  const Result ended = ReadOnce(receiver, 1000, 600000);
  stopper.join();
  reader.join();
  EXPECT_EQ(ended.status, HID_UART_READ_ERROR);
}

}  // namespace
}  // namespace hidbridge
