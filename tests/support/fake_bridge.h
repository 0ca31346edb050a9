// SPDX-License-Identifier: Apache-2.0
// An in-memory bridge library for the program's unit tests: every one of the
// twelve operations does what the test scripted and records the call.
#ifndef KESTRUNE_TESTS_FAKE_BRIDGE_H
#define KESTRUNE_TESTS_FAKE_BRIDGE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid_uart.h"
#include "hid_uart_values.h"

namespace fake {

/// One scripted result of HidUart_Read. Bytes beyond the request of a read
/// that succeeds or times out wait for the next read, as on a line; the read
/// then returns filled.
struct Read {
  HID_UART_STATUS status;
  std::vector<uint8_t> bytes;
  std::optional<uint32_t> reportedCount;  // a count other than bytes.size()
};

/// The identity strings of every bridge unless a test gives others.
inline constexpr const char* kVendorId = "10C4";
inline constexpr const char* kProductId = "EA80";
inline constexpr const char* kPath = "fake/0";
inline constexpr const char* kManufacturer = "Maker";
inline constexpr const char* kProduct = "Bridge";

struct Bridge {
  std::string serial;
  std::map<uint32_t, std::string> strings{{HID_UART_GET_VID_STR, kVendorId},
                                          {HID_UART_GET_PID_STR, kProductId},
                                          {HID_UART_GET_PATH_STR, kPath},
                                          {HID_UART_GET_MANUFACTURER_STR, kManufacturer},
                                          {HID_UART_GET_PRODUCT_STR, kProduct}};
  uint8_t partNumber = 10;
  uint8_t version = 1;
  // Read-back values; unset means what was written.
  std::optional<uint32_t> readBackBaud;
  std::optional<uint8_t> readBackDataBits, readBackParity, readBackStopBits, readBackFlowControl;
  // Status of every call of an operation, by name ("Open", "GetPartNumber"...).
  std::map<std::string, HID_UART_STATUS> failures;
  // Status of only the Nth call (from 1) of an operation on this bridge;
  // takes precedence over failures.
  std::map<std::string, std::map<int, HID_UART_STATUS>> failuresOnCall;
  // Reads in order; once they run out, reads fail with 0x14 (unplugged).
  std::deque<Read> reads;
  // Unplugged when the scripted reads have run out.
  bool unplugWhenDrained = false;
  // Raw bytes written by HidUart_GetOpenedString / HidUart_GetString, all
  // HID_UART_DEVICE_STRLEN of them, with no terminating NUL.
  bool unterminatedStrings = false;
  // Raw bytes that a failing HidUart_GetString / HidUart_GetOpenedString
  // still writes (at most HID_UART_DEVICE_STRLEN, no NUL added).
  std::optional<std::string> junkOnFailure;
  // HidUart_GetUartConfig succeeds without writing its out values.
  bool readBackWritesNothing = false;
  // An unplugged bridge is left out of enumeration (the bridges after it
  // move down one index) and every call on its handles fails with 0x14.
  bool attached = true;
  // Calls of each operation addressed to this bridge so far.
  std::map<std::string, int> callCounts;
};

struct Library {
  uint8_t libraryMajor = 6, libraryMinor = 14;
  HID_UART_BOOL libraryRelease = 1;
  uint8_t hidMajor = 1, hidMinor = 9;
  HID_UART_BOOL hidRelease = 0;
  HID_UART_STATUS libraryVersionStatus = 0, hidVersionStatus = 0;
  // Status of successive HidUart_GetNumDevices calls; 0 once they run out.
  std::deque<HID_UART_STATUS> numDevicesStatus;
  // A count HidUart_GetNumDevices gives instead of the bridges attached.
  std::optional<uint32_t> claimedCount;
  std::vector<Bridge> bridges;
  // Every call, e.g. "Open index=0 -> 0x00 handle=1".
  std::vector<std::string> calls;
  // Handle numbers (from 1) of opened bridges, and how often each was closed.
  std::vector<size_t> openedBridge;
  std::map<size_t, int> closes;
  // The UART setting written through each handle.
  std::map<size_t, hiduart::UartSetting> written;
  // Runs after every call with its recorded text, e.g. to unplug or attach
  // bridges between two calls of the program.
  std::function<void(const std::string& call)> afterCall;
};

/// The library state the twelve operations work on; Reset() starts afresh.
/// Every operation holds Lock() while it runs, so that threads of the
/// program may call them at once; a test that looks at State() while such
/// threads run holds it too.
Library& State();
std::recursive_mutex& Lock();
void Reset();

/// Calls recorded so far whose text starts with prefix.
std::vector<std::string> CallsStartingWith(const std::string& prefix);

/// Adds an attached bridge with that serial string and those reads; the
/// reference holds until the next bridge is added.
Bridge& AddBridge(const std::string& serial, std::deque<Read> reads = {});

/// Empty when every handle that was opened was closed exactly once and
/// nothing else was closed; else what went wrong.
std::string HandleProblems();

}  // namespace fake

#endif
