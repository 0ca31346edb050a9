#include "uart_receiver.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "cp2110_reports.h"

namespace hidbridge {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, rounded up so that a wait never ends
// just before it, and bounded to what the timed read accepts.
int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) {
    return 0;
  }
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

}  // namespace

uint32_t UartReceiver::TakeKept(uint8_t* buffer, uint32_t room) {
  const auto n = static_cast<uint32_t>(std::min<size_t>(room, kept_.size()));
  std::copy_n(kept_.begin(), n, buffer);
  kept_.erase(kept_.begin(), kept_.begin() + n);
  return n;
}

HID_UART_STATUS UartReceiver::Read(ReportSource& source, uint8_t* buffer, uint32_t wanted,
                                   uint32_t timeoutMs, uint32_t* got) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  uint32_t filled = TakeKept(buffer, wanted);
  *got = filled;
  if (filled == wanted) {
    return HID_UART_SUCCESS;
  }
  if (failed_) {
    return filled > 0 ? HID_UART_READ_TIMED_OUT : HID_UART_READ_ERROR;
  }

  uint8_t report[kMaxReportSize];
  for (;;) {
    const int waitMs = MillisecondsUntil(deadline);
    const int size = source.ReadReport(report, sizeof report, waitMs);
    if (size < 0) {
      failed_ = true;
      return filled > 0 ? HID_UART_READ_TIMED_OUT : HID_UART_READ_ERROR;
    }
    if (size == 0) {
      if (waitMs == 0) {
        return HID_UART_READ_TIMED_OUT;
      }
      continue;
    }
    const DataPayload data = DataOf(report, static_cast<size_t>(size));
    const auto fits = static_cast<uint32_t>(std::min<size_t>(data.size, wanted - filled));
    std::copy_n(data.bytes, fits, buffer + filled);
    kept_.insert(kept_.end(), data.bytes + fits, data.bytes + data.size);
    filled += fits;
    *got = filled;
    if (filled == wanted) {
      return HID_UART_SUCCESS;
    }
  }
}

}  // namespace hidbridge
