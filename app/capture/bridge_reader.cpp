// SPDX-License-Identifier: Apache-2.0
#include "capture/bridge_reader.h"

#include <algorithm>
#include <utility>

#include "library/connection.h"
#include "output/events.h"
#include "platform/thread_signals.h"

BridgeReader::BridgeReader(HID_UART_DEVICE handle, std::string serial, const ReaderOptions& options)
    : options_(options),
      capture_(handle, std::move(serial), options.capture),
      readTimeout_(kConnectionReadTimeout) {
  if (options.capture.frameGap.count() > 0) {
    plan_.emplace(options.capture.frameGap);
  }
  lastDelivery_ = Now();
}

BridgeReader::~BridgeReader() {
  Stop();
  Join();
}

CaptureClock::time_point BridgeReader::Now() const {
  return options_.capture.now ? options_.capture.now() : CaptureClock::now();
}

// A bridge that refuses keeps the time-out it had: its reads wait longer or
// shorter than planned, which makes reports later or wakes it more, no more.
void BridgeReader::SetReadTimeout(std::chrono::milliseconds timeout) {
  if (timeout == readTimeout_) {
    return;
  }
  HidUart_SetTimeouts(capture_.handle(), static_cast<uint32_t>(timeout.count()),
                      static_cast<uint32_t>(kConnectionWriteTimeout.count()));
  readTimeout_ = timeout;
}

bool BridgeReader::Step() {
  const ReadPlan::Read next =
      plan_ ? plan_->Next() : ReadPlan::Read{true, options_.unframedTimeout};
  SetReadTimeout(next.timeout);
  const Capture::Outcome outcome = capture_.Read(next.many ? capture_.Room() : 1);
  if (outcome == Capture::Outcome::kFailed) {
    if (options_.tellDisconnection) {
      EmitDisconnected(capture_.serial().c_str(), capture_.status());
    }
    return false;
  }
  const bool gotBytes = outcome == Capture::Outcome::kBytes;
  if (gotBytes) {
    delivered_ = true;
  } else {
    ++quietReads_;
  }
  if (options_.silentAfter.count() > 0) {
    const CaptureClock::time_point now = Now();
    const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(now - lastDelivery_);
    if (gotBytes) {
      if (silent_) {
        EmitSilence(capture_.serial().c_str(), quiet, false);
        silent_ = false;
      }
      lastDelivery_ = now;
    } else if (!silent_ && quiet >= options_.silentAfter) {
      EmitSilence(capture_.serial().c_str(), quiet, true);
      silent_ = true;
    }
  }
  if (plan_ && plan_->After(gotBytes)) {
    capture_.Flush();
  }
  return true;
}

void BridgeReader::Run() {
  std::optional<CaptureClock::time_point> stopBy;
  for (;;) {
    if (stop_) {
      if (!capture_.Pending()) {
        break;
      }
      const CaptureClock::time_point now = Now();
      if (!stopBy) {
        stopBy = now + std::min(options_.capture.frameGap, kLongestStopWait) + kStopGrace;
      } else if (now >= *stopBy) {
        break;
      }
    }
    const auto start = std::chrono::steady_clock::now();
    const uint32_t readsBefore = quietReads_;
    if (!Step()) {
      failed_ = true;
      break;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    if (quietReads_ != readsBefore && took * 2 < readTimeout_) {
      // A library whose reads return at once with nothing would make this a
      // busy loop, and could not prove any silence: the read is given its
      // time, in whole milliseconds (Windows rounds a shorter sleep to none).
      std::this_thread::sleep_for(
          std::chrono::ceil<std::chrono::milliseconds>(readTimeout_ - took));
    }
  }
  capture_.Finish();
  ended_ = true;
}

void BridgeReader::Start() {
  thread_ = StartQuietThread([this] { Run(); });
}

void BridgeReader::Join() {
  if (thread_.joinable()) {
    thread_.join();
  }
}
