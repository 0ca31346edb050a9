// SPDX-License-Identifier: Apache-2.0
#include "opened_bridge.h"

#include <utility>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include "cp2110_requests.h"

namespace hidbridge {

OpenedBridge::OpenedBridge(std::unique_ptr<HidDevice> device, Identity identity)
    : identity_(std::move(identity)), access_(std::move(device)) {
  StartReader();
}

OpenedBridge::~OpenedBridge() {
  if (!closed_) {
    Close();
  }
}

void OpenedBridge::StartReader() {
#if !defined(_WIN32)
  // Signals are for the program's own threads: the reader never sees one,
  // so no wait of it is ever cut short.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
#endif
  reader_ = std::thread([this] { DrainReports(access_, receiver_, stopReading_); });
#if !defined(_WIN32)
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
}

void OpenedBridge::SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) {
  const std::lock_guard<std::mutex> lock(settingsMutex_);
  readTimeoutMs_ = readTimeoutMs;
  writeTimeoutMs_ = writeTimeoutMs;
}

HID_UART_STATUS OpenedBridge::Read(uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  uint32_t timeoutMs = 0;
  {
    const std::lock_guard<std::mutex> lock(settingsMutex_);
    timeoutMs = readTimeoutMs_;
  }
  return receiver_.Read(buffer, wanted, timeoutMs, got);
}

HID_UART_STATUS OpenedBridge::Close() {
  closed_ = true;
  stopReading_ = true;
  if (reader_.joinable()) {
    reader_.join();
  }
  // An unplugged bridge cannot be told to stop; it is released all the same.
  const int disabled =
      access_.Close([](HidDevice& device) { return SetUartEnabled(device, false) ? 0 : -1; });
  return disabled == 0 ? HID_UART_SUCCESS : HID_UART_DEVICE_IO_FAILED;
}

}  // namespace hidbridge
