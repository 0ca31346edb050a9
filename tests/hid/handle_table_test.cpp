// SPDX-License-Identifier: Apache-2.0
// The handle table, an opened bridge and its device access, against a device
// in memory. Run under ThreadSanitizer too (label threads).
#include "handle_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device_access.h"
#include "opened_bridge.h"

namespace hidbridge {
namespace {

// What a device went through, kept beyond its life.
struct DeviceLog {
  std::atomic<int> closes{0};
  std::atomic<int> callsAfterClose{0};
  // Calls on the device that began while another was still in it: hidapi
  // keeps per-device state its calls rewrite unlocked, so there must be none.
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
};

constexpr int kFail = -1;  // in a script: the device fails from there on

// Input reports from a script (a size, kFail or ReportSource::kInterrupted
// per read), then silence or, after kFail, failure for every call. A script
// that starts with kFail is a device unplugged before the first call.
class MemoryDevice : public HidDevice {
 public:
  MemoryDevice(std::shared_ptr<DeviceLog> log, std::deque<int> script)
      : log_(std::move(log)),
        script_(std::move(script)),
        failed_(!script_.empty() && script_.front() == kFail) {}
  int ReadInputReport(uint8_t* report, size_t size, int timeoutMs) override {
    const InCall call(*log_);
    Use();
    if (failed_) {
      return kFail;
    }
    if (script_.empty()) {
      // A quiet line: the device's own wait, not the test's synchronisation.
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs > 0 ? 1 : 0));
      return 0;
    }
    const int next = script_.front();
    script_.pop_front();
    failed_ = next == kFail;
    for (int i = 0; i < next && static_cast<size_t>(i) < size; ++i) {
      report[i] = static_cast<uint8_t>(i == 0 ? next - 1 : i);  // a data report
    }
    return next;
  }
  bool SendFeatureReport(const uint8_t*, size_t) override {
    const InCall call(*log_);
    Use();
    return !failed_;
  }
  int GetFeatureReport(uint8_t*, size_t) override {
    const InCall call(*log_);
    Use();
    return failed_ ? kFail : 3;
  }
  void Close() override {
    const InCall call(*log_);
    Use();
    closed_ = true;
    ++log_->closes;
  }

 private:
  struct InCall {
    explicit InCall(DeviceLog& log) : log_(log) { log_.overlaps += log_.inside++ != 0 ? 1 : 0; }
    ~InCall() { --log_.inside; }
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;
    DeviceLog& log_;
  };
  void Use() { log_->callsAfterClose += closed_ ? 1 : 0; }
  std::shared_ptr<DeviceLog> log_;
  std::deque<int> script_;
  bool failed_ = false;
  bool closed_ = false;
};

std::shared_ptr<OpenedBridge> Open(const std::shared_ptr<DeviceLog>& log, std::deque<int> script) {
  return std::make_shared<OpenedBridge>(std::make_unique<MemoryDevice>(log, std::move(script)),
                                        Identity{});
}

TEST(HandleTable, EachHandleAnswersAsItsStateSays) {
  enum Handle { kZero, kNeverHandedOut, kOpen, kClosedBefore };
  struct Case {
    const char* name;
    Handle handle;
    std::deque<int> script;
    bool found;
    HID_UART_STATUS close;
    int closes;
  } const cases[] = {
      {"zero", kZero, {}, false, HID_UART_INVALID_HANDLE, 0},
      {"never handed out", kNeverHandedOut, {}, false, HID_UART_INVALID_HANDLE, 0},
      {"open", kOpen, {}, true, HID_UART_SUCCESS, 1},
      {"open, unplugged", kOpen, {kFail}, true, HID_UART_DEVICE_IO_FAILED, 1},
      {"closed before, its number not reused",
       kClosedBefore,
       {},
       false,
       HID_UART_INVALID_HANDLE,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandleTable table;
    const auto log = std::make_shared<DeviceLog>();
    HID_UART_DEVICE handle = table.Add(Open(log, c.script));
    if (c.handle == kClosedBefore) {
      EXPECT_EQ(table.Close(handle), HID_UART_SUCCESS);
      EXPECT_NE(table.Add(Open(std::make_shared<DeviceLog>(), {})), handle);
    }
    if (c.handle == kZero) {
      handle = nullptr;
    } else if (c.handle == kNeverHandedOut) {
      handle = reinterpret_cast<HID_UART_DEVICE>(reinterpret_cast<uintptr_t>(handle) + 1000);
    }
    EXPECT_EQ(table.Find(handle) != nullptr, c.found);
    EXPECT_EQ(table.Close(handle), c.close);
    EXPECT_EQ(table.Close(handle), HID_UART_INVALID_HANDLE) << "second close";
    EXPECT_EQ(table.Find(handle), nullptr);
    EXPECT_EQ(log->closes, c.closes);
    EXPECT_EQ(log->callsAfterClose, 0);
  }
}

TEST(HandleTable, ClosesAndRequestsRacingReadsNeverOverlapAndCloseEachDeviceOnce) {
  constexpr int kBridges = 4;
  HandleTable table;
  std::vector<std::shared_ptr<DeviceLog>> logs;
  std::vector<HID_UART_DEVICE> handles;
  for (int i = 0; i < kBridges; ++i) {
    logs.push_back(std::make_shared<DeviceLog>());
    handles.push_back(table.Add(Open(logs.back(), {5, 9, 2})));
    table.Find(handles.back())->SetTimeouts(1, 1);
  }
  std::atomic<bool> go{false};
  std::atomic<int> successes{0};
  std::atomic<int> invalid{0};
  std::vector<std::thread> threads;
  for (const HID_UART_DEVICE handle : handles) {
    for (int reader = 0; reader < 2; ++reader) {
      threads.emplace_back([&, handle] {
        while (!go) std::this_thread::yield();
        // Reads go on past the close with the bridge they found.
        for (auto bridge = table.Find(handle); bridge != nullptr; bridge = table.Find(handle)) {
          uint8_t buffer[4];
          uint32_t got = 0;
          while (bridge->Read(buffer, sizeof buffer, &got) != HID_UART_READ_ERROR) {
          }
        }
      });
    }
    // Feature requests while the readers read, as a caller's settings go.
    threads.emplace_back([&, handle] {
      while (!go) std::this_thread::yield();
      for (auto bridge = table.Find(handle); bridge != nullptr; bridge = table.Find(handle)) {
        bridge->access().Request([](HidDevice& device) {
          uint8_t report[8] = {};
          return device.GetFeatureReport(report, sizeof report);
        });
      }
    });
    for (int closer = 0; closer < 2; ++closer) {
      threads.emplace_back([&, handle] {
        while (!go) std::this_thread::yield();
        const HID_UART_STATUS status = table.Close(handle);
        (status == HID_UART_SUCCESS ? successes : invalid)++;
      });
    }
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(successes, kBridges);
  EXPECT_EQ(invalid, kBridges);
  for (const auto& log : logs) {
    EXPECT_EQ(log->closes, 1);
    EXPECT_EQ(log->callsAfterClose, 0);
    EXPECT_EQ(log->overlaps, 0) << "calls on one device overlapped";
  }
}

TEST(OpenedBridge, ReadsTheBytesBeforeADeviceErrorThenFail) {
  struct Case {
    const char* name;
    std::deque<int> script;
    uint32_t bytes;  // data bytes delivered before the failure
  } const cases[] = {
      {"at once", {kFail}, 0},
      {"after two reports", {3, 4, kFail}, 5},
      {"an interrupted wait resumed", {ReportSource::kInterrupted, 3, kFail}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto log = std::make_shared<DeviceLog>();
    OpenedBridge bridge(std::make_unique<MemoryDevice>(log, c.script), Identity{});
    bridge.SetTimeouts(60000, 0);  // a bound only: the failure ends the wait
    uint8_t buffer[16];
    uint32_t got = 99;
    EXPECT_EQ(bridge.Read(buffer, sizeof buffer, &got),
              c.bytes > 0 ? HID_UART_READ_TIMED_OUT : HID_UART_READ_ERROR);
    EXPECT_EQ(got, c.bytes);
    EXPECT_EQ(bridge.Read(buffer, sizeof buffer, &got), HID_UART_READ_ERROR);
    uint8_t report[64] = {};
    EXPECT_LT(bridge.access().Request(
                  [&](HidDevice& d) { return d.GetFeatureReport(report, sizeof report); }),
              0);
    EXPECT_EQ(bridge.Close(), HID_UART_DEVICE_IO_FAILED);
    EXPECT_EQ(bridge.access().Request([](HidDevice&) { return 7; }), -1) << "after the close";
    EXPECT_EQ(bridge.access().ReadReport(report, sizeof report, 0), -1);
    EXPECT_EQ(log->closes, 1);
    EXPECT_EQ(log->callsAfterClose, 0);
  }
}

}  // namespace
}  // namespace hidbridge
