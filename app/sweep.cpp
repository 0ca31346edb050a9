#include "sweep.h"

#include <string>

#include "bridge_list.h"
#include "capture.h"
#include "connection.h"
#include "events.h"
#include "hid_uart.h"
#include "output.h"

namespace {

constexpr uint32_t kWriteTimeoutMs = 2000;

bool Stopping(const SweepOptions& options) {
  return options.stopRequested && options.stopRequested();
}

// Reads the bridge just connected until it fails or a stop is requested.
// Returns false on a stop.
bool CaptureBlocks(const std::string& serial, const SweepOptions& options) {
  if (options.capture.frameGap.count() > 0) {
    // Reads short enough to see the gap; a bridge that refuses keeps the
    // connection's time-out, which only makes the gap that holds longer.
    HidUart_SetTimeouts(
        ConnectedDevice.handle,
        static_cast<uint32_t>(FramingReadTimeout(options.capture.frameGap, 1).count()),
        kWriteTimeoutMs);
  }
  Capture capture(ConnectedDevice.handle, serial, options.capture);
  while (!Stopping(options)) {
    if (capture.Read() == Capture::Outcome::kFailed) {
      return true;
    }
  }
  capture.Flush();
  return false;
}

}  // namespace

// The serial strings are all taken before any bridge is read, because a
// bridge unplugged during its capture moves the later ones down an index:
// walking indexes afterwards would pass them over.
void SweepDevices(const SweepOptions& options) {
  ReportLibraryVersions();

  uint32_t count = 0;
  if (HidUart_GetNumDevices(&count, 0, 0) != HID_UART_SUCCESS) {
    return;
  }
  EmitCount(count);

  for (const std::string& serial : CollectSerials(count)) {
    if (Stopping(options)) {
      break;
    }
    if (!ConnectBySerial(serial.c_str())) {
      continue;
    }
    const bool goOn = CaptureBlocks(serial, options);
    HidUart_Close(ConnectedDevice.handle);
    if (!goOn) {
      break;
    }
  }
  FlushOutput();
}
