// SPDX-License-Identifier: Apache-2.0
#include "uart_receiver.h"

#include <algorithm>
#include <chrono>

#include "cp2110_reports.h"

namespace hidbridge {

bool UartReceiver::Deliver(const uint8_t* report, size_t size) {
  const DataPayload data = DataOf(report, size);
  if (data.size == 0) {
    return true;
  }
  bool kept = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) {
      return false;
    }
    if (data.size > capacity_ - held_.size()) {
      // Keeping a later byte after a lost one would corrupt the stream: the
      // bytes held stay whole, and the reads that follow them fail.
      overrun_ = true;
      ended_ = true;
    } else {
      held_.insert(held_.end(), data.bytes, data.bytes + data.size);
      kept = true;
    }
  }
  arrived_.notify_all();
  return kept;
}

void UartReceiver::End() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  arrived_.notify_all();
}

HID_UART_STATUS UartReceiver::Read(uint8_t* buffer, uint32_t wanted, uint32_t timeoutMs,
                                   uint32_t* got) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_until(lock, deadline, [&] { return ended_ || held_.size() >= wanted; });
  const auto taken = static_cast<uint32_t>(std::min<size_t>(wanted, held_.size()));
  std::copy_n(held_.begin(), taken, buffer);
  held_.erase(held_.begin(), held_.begin() + taken);
  *got = taken;
  if (taken == wanted) {
    return HID_UART_SUCCESS;
  }
  return taken > 0 || !ended_ ? HID_UART_READ_TIMED_OUT : HID_UART_READ_ERROR;
}

size_t UartReceiver::Held() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return held_.size();
}

bool UartReceiver::Overrun() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return overrun_;
}

void DrainReports(ReportSource& source, UartReceiver& receiver, const std::atomic<bool>& stop) {
  uint8_t report[kMaxReportSize];
  while (!stop.load()) {
    const int size = source.ReadReport(report, sizeof report, kDrainPollMs);
    if (size == ReportSource::kInterrupted || size == 0) {
      continue;
    }
    if (size < 0 || !receiver.Deliver(report, static_cast<size_t>(size))) {
      break;
    }
  }
  receiver.End();
}

}  // namespace hidbridge
