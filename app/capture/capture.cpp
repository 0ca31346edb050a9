// SPDX-License-Identifier: Apache-2.0
#include "capture/capture.h"

#include <algorithm>
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
      framer_([this](const uint8_t* bytes, uint32_t count, const BlockMoment& moment) {
        Report(bytes, count, moment);
      }) {
  if (options_.dedupe.count() > 0) {
    repeats_ = std::make_unique<RepeatFilter>(options_.dedupe,
                                              [this](const EndedHold& hold) { TellHold(hold); });
  }
}

CaptureClock::time_point Capture::Now() const {
  return options_.now ? options_.now() : CaptureClock::now();
}

BlockMoment Capture::MomentNow() const {
  return BlockMoment{std::chrono::system_clock::now(), Now()};
}

void Capture::Report(const uint8_t* bytes, uint32_t count, const BlockMoment& moment) {
  if (repeats_ && repeats_->Repeats(bytes, count, moment)) {
    return;
  }
  EmitBlock(BlockEvent{serial_.c_str(), bytes, count, moment.shown, options_.timestamps});
}

void Capture::TellHold(const EndedHold& hold) {
  EmitHeld(HeldEvent{serial_.c_str(), hold.bytes, hold.count, hold.reported.shown, hold.repeats,
                     hold.held});
}

void Capture::Finish() {
  Flush();
  if (repeats_) {
    repeats_->End();
  }
}

Capture::Outcome Capture::Read(uint32_t request) {
  request = std::clamp<uint32_t>(request, 1, kReadBufferSize);
  // A block still gathering may yet repeat the held one: it decides.
  if (repeats_ && !framer_.Pending()) {
    repeats_->EndIfOver(Now());
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
  const BlockMoment moment = MomentNow();
  if (options_.frameGap.count() <= 0) {
    Report(readBuffer_.get(), count, moment);
  } else {
    framer_.Add(readBuffer_.get(), count, moment);
  }
  return Outcome::kBytes;
}

void Capture::Flush() { framer_.Flush(); }
