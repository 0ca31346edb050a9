#include "sweep.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "block_report.h"
#include "connection.h"
#include "device_text.h"
#include "hid_uart.h"
#include "output.h"
#include "timestamp.h"

namespace {

// One set of values for both libraries, not reset in between, and zero at
// first, so that a failing call never prints uninitialised memory.
struct LibraryVersion {
  uint8_t major;
  uint8_t minor;
  HID_UART_BOOL release;
};

void PrintVersion(const char* library, const LibraryVersion& version) {
  Print("%s: Version %d.%d (%s)\n", library, version.major, version.minor,
        version.release != 0 ? "Release" : "Debug");
}

}  // namespace

void ReportLibraryVersions() {
  LibraryVersion version{};
  HidUart_GetLibraryVersion(&version.major, &version.minor, &version.release);
  PrintVersion("SLABHIDtoUART.dll", version);
  HidUart_GetHidLibraryVersion(&version.major, &version.minor, &version.release);
  PrintVersion("SLABHIDDevice.dll", version);
  FlushOutput();
}

namespace {

// Bytes to report after a read, or nothing when the bridge can no longer be
// read: any status other than success and the read time-out, one outside the
// library's range included. A count beyond the request never reaches past
// the buffer.
std::optional<uint32_t> BlockCount(HID_UART_STATUS status, uint32_t bytesRead) {
  if (status != HID_UART_SUCCESS && status != HID_UART_READ_TIMED_OUT) {
    return std::nullopt;
  }
  return std::min(bytesRead, kReadSize);
}

// More serial strings than any machine can attach bridges; a library claiming
// billions of them cannot make the sweep exhaust memory.
constexpr size_t kMaxSerials = 1 << 16;

void CaptureBlocks(const char* serial, bool timestamps) {
  uint8_t buffer[kReadSize];
  HID_UART_STATUS status = HID_UART_SUCCESS;
  while (ReadAndReport(ConnectedDevice.handle, serial, buffer, timestamps, &status) >= 0) {
  }
}

}  // namespace

int ReadAndReport(HID_UART_DEVICE handle, const char* serial, uint8_t* buffer, bool timestamps,
                  HID_UART_STATUS* status) {
  // Zero before every read, so that a library claiming more bytes than it
  // placed shows zeros, never the stack's contents nor bytes of an earlier
  // read as if they had just arrived.
  std::fill_n(buffer, kReadSize, uint8_t{0});
  uint32_t bytesRead = 0;
  *status = HidUart_Read(handle, buffer, kReadSize, &bytesRead);
  const std::optional<uint32_t> blockCount = BlockCount(*status, bytesRead);
  if (!blockCount) {
    return -1;
  }
  const int count = static_cast<int>(*blockCount);
  if (count > 0) {
    if (timestamps) {
      ReportBlock(serial, buffer, count, LocalTimestamp(std::chrono::system_clock::now()).text);
    } else {
      ReportBlock(serial, buffer, count);
    }
  }
  return count;
}

std::vector<std::string> CollectSerials(uint32_t count) {
  std::vector<std::string> serials;
  for (uint32_t index = 0; index < count; ++index) {
    DeviceString serial{};
    if (HidUart_GetString(index, 0, 0, serial, HID_UART_GET_SERIAL_STR) != HID_UART_SUCCESS) {
      continue;
    }
    TerminateDeviceString(serial);
    if (serials.size() < kMaxSerials) {
      serials.emplace_back(serial);
    }
  }
  return serials;
}

// The serial strings are all taken before any bridge is read, because a
// bridge unplugged during its capture moves the later ones down an index:
// walking indexes afterwards would pass them over.
void SweepDevices(bool timestamps) {
  ReportLibraryVersions();

  uint32_t count = 0;
  if (HidUart_GetNumDevices(&count, 0, 0) != HID_UART_SUCCESS) {
    return;
  }
  Print("Number of connected CP2110 HID devices = %u\n", count);
  FlushOutput();

  for (const std::string& serial : CollectSerials(count)) {
    if (!ConnectBySerial(serial.c_str())) {
      continue;
    }
    CaptureBlocks(serial.c_str(), timestamps);
    HidUart_Close(ConnectedDevice.handle);
  }
}
