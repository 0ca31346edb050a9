// SPDX-License-Identifier: Apache-2.0
#include "modes/sweep.h"

#include <string>
#include <thread>

#include "capture/bridge_reader.h"
#include "capture/capture.h"
#include "hid_uart.h"
#include "library/bridge_list.h"
#include "library/connection.h"
#include "output/events.h"
#include "output/output.h"

namespace {

bool Stopping(const SweepOptions& options) {
  return options.stopRequested && options.stopRequested();
}

// Reads the bridge just connected until it fails or a stop is requested.
// Returns false on a stop.
bool CaptureBlocks(const std::string& serial, const SweepOptions& options) {
  Capture capture(ConnectedDevice.handle, serial, options.capture);
  while (!Stopping(options)) {
    if (capture.Read() == Capture::Outcome::kFailed) {
      return true;
    }
  }
  capture.Finish();
  return false;
}

// The same, framed: a reader thread of its own reads the bridge, as in
// station mode, so that the gap is proven by the bridge's reads alone.
bool CaptureFramedBlocks(const std::string& serial, const SweepOptions& options) {
  ReaderOptions readerOptions;
  readerOptions.capture = options.capture;
  BridgeReader reader(ConnectedDevice.handle, serial, readerOptions);
  reader.Start();
  while (!reader.Ended() && !Stopping(options)) {
    std::this_thread::sleep_for(kReaderLookInterval);
  }
  reader.Stop();
  reader.Join();
  return reader.Failed();
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

  const bool framed = options.capture.frameGap.count() > 0;
  for (const std::string& serial : CollectSerials(count)) {
    if (Stopping(options)) {
      break;
    }
    if (!ConnectBySerial(serial.c_str())) {
      continue;
    }
    const bool goOn =
        framed ? CaptureFramedBlocks(serial, options) : CaptureBlocks(serial, options);
    HidUart_Close(ConnectedDevice.handle);
    EmitClosed(serial.c_str());
    if (!goOn) {
      break;
    }
  }
  FlushOutput();
}
