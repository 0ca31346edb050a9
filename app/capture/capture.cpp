// SPDX-License-Identifier: Apache-2.0
#include "capture/capture.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "output/events.h"

namespace {

bool Readable(HID_UART_STATUS status) {
  return status == HID_UART_SUCCESS || status == HID_UART_READ_TIMED_OUT;
}

}  // namespace

// An unframed block is one read, and the buffers that keep blocks hold it.
static_assert(kReadBufferSize <= kMaxBlockSize);

Capture::Capture(HID_UART_DEVICE handle, std::string serial, const CaptureOptions& options)
    : handle_(handle),
      serial_(std::move(serial)),
      options_(options),
      readBuffer_(std::make_unique<uint8_t[]>(kReadBufferSize)),
      pending_(std::make_unique<uint8_t[]>(kMaxBlockSize)) {}

CaptureClock::time_point Capture::Now() const {
  return options_.now ? options_.now() : CaptureClock::now();
}

Capture::Moment Capture::MomentNow() const {
  return Moment{std::chrono::system_clock::now(), Now()};
}

bool Capture::Repeats(const uint8_t* bytes, uint32_t count, CaptureClock::time_point at) {
  if (!previous_) {
    previous_ = std::make_unique<uint8_t[]>(kMaxBlockSize);
  } else if (count == previousSize_ && std::memcmp(bytes, previous_.get(), count) == 0 &&
             at - previousAt_ < options_.dedupe) {
    previousAt_ = at;
    return true;
  }
  std::memcpy(previous_.get(), bytes, count);
  previousSize_ = count;
  previousAt_ = at;
  return false;
}

void Capture::Report(const uint8_t* bytes, uint32_t count, const Moment& moment) {
  if (options_.dedupe.count() > 0) {
    // The previous block is still what was held until Repeats says
    // otherwise.
    const bool same =
        previous_ && count == previousSize_ && std::memcmp(bytes, previous_.get(), count) == 0;
    if (!same || moment.at - previousAt_ >= options_.dedupe) {
      EndHold();
    }
    if (Repeats(bytes, count, moment.at)) {
      ++repeats_;
      return;
    }
    reportedMoment_ = moment;
  }
  EmitBlock(BlockEvent{serial_.c_str(), bytes, count, moment.shown, options_.timestamps});
}

void Capture::EndHold() {
  if (repeats_ == 0) {
    return;
  }
  EmitHeld(HeldEvent{serial_.c_str(), previous_.get(), previousSize_, reportedMoment_.shown,
                     repeats_, previousAt_ - reportedMoment_.at});
  repeats_ = 0;
}

void Capture::Finish() {
  Flush();
  EndHold();
}

Capture::Outcome Capture::Read(uint32_t request) {
  request = std::clamp<uint32_t>(request, 1, kReadBufferSize);
  // A block still gathering may yet repeat the held one: it decides.
  if (repeats_ > 0 && pendingSize_ == 0 && Now() - previousAt_ >= options_.dedupe) {
    EndHold();
  }
  // Zeroed before every read, so that a library claiming more bytes than it
  // placed shows zeros, never bytes of an earlier read as if they had just
  // arrived. The read never writes where pending bytes wait.
  std::fill_n(readBuffer_.get(), request, uint8_t{0});
  uint32_t bytesRead = 0;
  status_ = HidUart_Read(handle_, readBuffer_.get(), request, &bytesRead);
  if (!Readable(status_)) {
    // What came before the failure is whole as far as anyone can tell; what
    // the failing read placed may be anything.
    Finish();
    return Outcome::kFailed;
  }
  const uint32_t count = std::min(bytesRead, request);
  if (count == 0) {
    return Outcome::kQuiet;
  }
  const Moment moment = MomentNow();
  if (options_.frameGap.count() <= 0) {
    Report(readBuffer_.get(), count, moment);
    return Outcome::kBytes;
  }
  uint32_t taken = 0;
  while (taken < count) {
    if (pendingSize_ == 0) {
      pendingMoment_ = moment;
    }
    const uint32_t part = std::min(Room(), count - taken);
    std::memcpy(pending_.get() + pendingSize_, readBuffer_.get() + taken, part);
    pendingSize_ += part;
    taken += part;
    if (pendingSize_ == kMaxBlockSize) {
      Flush();
    }
  }
  return Outcome::kBytes;
}

void Capture::Flush() {
  if (pendingSize_ == 0) {
    return;
  }
  Report(pending_.get(), pendingSize_, pendingMoment_);
  pendingSize_ = 0;
}
