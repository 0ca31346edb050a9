// SPDX-License-Identifier: Apache-2.0
#include "fake_bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace fake {

Library& State() {
  static Library library;
  return library;
}

std::recursive_mutex& Lock() {
  static std::recursive_mutex mutex;
  return mutex;
}

void Reset() { State() = Library{}; }

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  const std::lock_guard<std::recursive_mutex> lock(Lock());
  std::vector<std::string> found;
  for (const std::string& call : State().calls) {
    if (call.rfind(prefix, 0) == 0) {
      found.push_back(call);
    }
  }
  return found;
}

Bridge& AddBridge(const std::string& serial, std::deque<Read> reads) {
  Bridge& bridge = State().bridges.emplace_back();
  bridge.serial = serial;
  bridge.reads = std::move(reads);
  return bridge;
}

std::string HandleProblems() {
  const std::lock_guard<std::recursive_mutex> lock(Lock());
  const Library& library = State();
  std::string problems;
  for (const auto& [handle, closes] : library.closes) {
    if (handle == 0 || handle > library.openedBridge.size()) {
      problems += "closed handle " + std::to_string(handle) + ", which was never opened; ";
    } else if (closes != 1) {
      problems +=
          "closed handle " + std::to_string(handle) + " " + std::to_string(closes) + " times; ";
    }
  }
  for (size_t handle = 1; handle <= library.openedBridge.size(); ++handle) {
    if (library.closes.count(handle) == 0) {
      problems += "never closed handle " + std::to_string(handle) + "; ";
    }
  }
  return problems;
}

namespace {

HID_UART_STATUS Record(const std::string& call, HID_UART_STATUS status) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " -> 0x%02X", static_cast<unsigned>(status));
  State().calls.push_back(call + suffix);
  if (State().afterCall) {
    // A copy, so that the hook may replace itself.
    const auto hook = State().afterCall;
    hook(State().calls.back());
  }
  return status;
}

// Counts the call and gives the status scripted for it.
HID_UART_STATUS Failure(Bridge& bridge, const std::string& operation) {
  const int call = ++bridge.callCounts[operation];
  const auto onCall = bridge.failuresOnCall.find(operation);
  if (onCall != bridge.failuresOnCall.end()) {
    const auto found = onCall->second.find(call);
    if (found != onCall->second.end()) {
      return found->second;
    }
  }
  const auto found = bridge.failures.find(operation);
  return found == bridge.failures.end() ? HID_UART_SUCCESS : found->second;
}

// The position in State().bridges of the attached bridge at an index, or
// nullopt when fewer bridges are attached.
std::optional<size_t> AttachedAt(uint32_t index) {
  const std::vector<Bridge>& bridges = State().bridges;
  uint32_t seen = 0;
  for (size_t position = 0; position < bridges.size(); ++position) {
    if (bridges[position].attached && seen++ == index) {
      return position;
    }
  }
  return std::nullopt;
}

size_t HandleNumber(HID_UART_DEVICE device) { return reinterpret_cast<uintptr_t>(device); }

// The bridge behind a handle ever opened, or nullptr.
Bridge* OpenedEver(HID_UART_DEVICE device) {
  const size_t number = HandleNumber(device);
  Library& library = State();
  if (number == 0 || number > library.openedBridge.size()) {
    return nullptr;
  }
  return &library.bridges[library.openedBridge[number - 1]];
}

// The bridge behind an open handle, or nullptr for a bad or closed one.
Bridge* Opened(HID_UART_DEVICE device) {
  Bridge* bridge = OpenedEver(device);
  const auto& closes = State().closes;
  return bridge == nullptr || closes.find(HandleNumber(device)) != closes.end() ? nullptr : bridge;
}

// What an operation on a handle gets: an invalid handle, a failed transfer
// to a detached bridge, or the status scripted for the call. `bridge` is set
// only when the operation reached the bridge.
HID_UART_STATUS Reach(HID_UART_DEVICE device, const std::string& operation, Bridge*& bridge) {
  bridge = nullptr;
  Bridge* opened = Opened(device);
  if (opened == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (!opened->attached) {
    return HID_UART_DEVICE_IO_FAILED;
  }
  bridge = opened;
  return Failure(*opened, operation);
}

void WriteJunk(const Bridge& bridge, char* out) {
  if (bridge.junkOnFailure) {
    std::memcpy(out, bridge.junkOnFailure->data(),
                std::min<size_t>(bridge.junkOnFailure->size(), HID_UART_DEVICE_STRLEN));
  }
}

void WriteString(const Bridge& bridge, const std::string& text, char* out) {
  if (bridge.unterminatedStrings) {
    std::memset(out, 'U', HID_UART_DEVICE_STRLEN);
    std::memcpy(out, text.data(), std::min<size_t>(text.size(), HID_UART_DEVICE_STRLEN));
    return;
  }
  std::snprintf(out, HID_UART_DEVICE_STRLEN, "%s", text.c_str());
}

std::string StringOf(const Bridge& bridge, uint32_t kind) {
  if (kind == HID_UART_GET_SERIAL_STR) {
    return bridge.serial;
  }
  const auto found = bridge.strings.find(kind);
  return found == bridge.strings.end() ? std::string() : found->second;
}

}  // namespace

}  // namespace fake

using fake::Bridge;
using fake::Record;
using fake::State;

extern "C" {

HID_UART_STATUS HidUart_GetLibraryVersion(uint8_t* major, uint8_t* minor, HID_UART_BOOL* release) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const fake::Library& library = State();
  if (library.libraryVersionStatus == 0) {
    *major = library.libraryMajor;
    *minor = library.libraryMinor;
    *release = library.libraryRelease;
  }
  return Record("GetLibraryVersion", library.libraryVersionStatus);
}

HID_UART_STATUS HidUart_GetHidLibraryVersion(uint8_t* major, uint8_t* minor,
                                             HID_UART_BOOL* release) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const fake::Library& library = State();
  if (library.hidVersionStatus == 0) {
    *major = library.hidMajor;
    *minor = library.hidMinor;
    *release = library.hidRelease;
  }
  return Record("GetHidLibraryVersion", library.hidVersionStatus);
}

HID_UART_STATUS HidUart_GetNumDevices(uint32_t* numDevices, uint16_t vid, uint16_t pid) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  fake::Library& library = State();
  HID_UART_STATUS status = 0;
  if (!library.numDevicesStatus.empty()) {
    status = library.numDevicesStatus.front();
    library.numDevicesStatus.pop_front();
  }
  if (status == 0) {
    *numDevices =
        static_cast<uint32_t>(std::count_if(library.bridges.begin(), library.bridges.end(),
                                            [](const Bridge& bridge) { return bridge.attached; }));
    if (library.claimedCount) {
      *numDevices = *library.claimedCount;
    }
  }
  return Record("GetNumDevices vid=" + std::to_string(vid) + " pid=" + std::to_string(pid), status);
}

HID_UART_STATUS HidUart_GetString(uint32_t deviceNum, uint16_t vid, uint16_t pid,
                                  char* deviceString, uint32_t options) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "GetString index=" + std::to_string(deviceNum) +
                           " vid=" + std::to_string(vid) + " pid=" + std::to_string(pid) +
                           " kind=" + std::to_string(options);
  const auto position = fake::AttachedAt(deviceNum);
  if (!position) {
    return Record(call, HID_UART_DEVICE_NOT_FOUND);
  }
  Bridge& bridge = State().bridges[*position];
  const HID_UART_STATUS status = fake::Failure(bridge, "GetString");
  if (status == 0) {
    fake::WriteString(bridge, fake::StringOf(bridge, options), deviceString);
  } else {
    fake::WriteJunk(bridge, deviceString);
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_Open(HID_UART_DEVICE* device, uint32_t deviceNum, uint16_t vid,
                             uint16_t pid) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "Open index=" + std::to_string(deviceNum) +
                           " vid=" + std::to_string(vid) + " pid=" + std::to_string(pid);
  fake::Library& library = State();
  const auto position = fake::AttachedAt(deviceNum);
  if (!position) {
    return Record(call, HID_UART_DEVICE_NOT_FOUND);
  }
  const HID_UART_STATUS status = fake::Failure(library.bridges[*position], "Open");
  if (status != 0) {
    return Record(call, status);
  }
  library.openedBridge.push_back(*position);
  const size_t number = library.openedBridge.size();
  *device = reinterpret_cast<HID_UART_DEVICE>(number);
  return Record(call + " handle=" + std::to_string(number), status);
}

HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                      uint8_t* version) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "GetPartNumber handle=" + std::to_string(fake::HandleNumber(device));
  Bridge* bridge = nullptr;
  const HID_UART_STATUS status = fake::Reach(device, "GetPartNumber", bridge);
  if (status == 0) {
    *partNumber = bridge->partNumber;
    *version = bridge->version;
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate, uint8_t dataBits,
                                      uint8_t parity, uint8_t stopBits, uint8_t flowControl) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "SetUartConfig handle=" + std::to_string(fake::HandleNumber(device)) +
                           " " + std::to_string(baudRate) + " " + std::to_string(dataBits) + " " +
                           std::to_string(parity) + " " + std::to_string(stopBits) + " " +
                           std::to_string(flowControl);
  Bridge* bridge = nullptr;
  const HID_UART_STATUS status = fake::Reach(device, "SetUartConfig", bridge);
  if (status == 0) {
    State().written[fake::HandleNumber(device)] = {baudRate, dataBits, parity, stopBits,
                                                   flowControl};
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate, uint8_t* dataBits,
                                      uint8_t* parity, uint8_t* stopBits, uint8_t* flowControl) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "GetUartConfig handle=" + std::to_string(fake::HandleNumber(device));
  Bridge* bridge = nullptr;
  const HID_UART_STATUS status = fake::Reach(device, "GetUartConfig", bridge);
  if (status == 0 && !bridge->readBackWritesNothing) {
    // A bridge runs at 115200 baud, 8N1, until a setting is written.
    const auto written = State().written.find(fake::HandleNumber(device));
    const hiduart::UartSetting setting =
        written != State().written.end()
            ? written->second
            : hiduart::UartSetting{115200, HID_UART_EIGHT_DATA_BITS, HID_UART_NO_PARITY,
                                   HID_UART_SHORT_STOP_BIT, HID_UART_NO_FLOW_CONTROL};
    *baudRate = bridge->readBackBaud.value_or(setting.baudRate);
    *dataBits = bridge->readBackDataBits.value_or(setting.dataBits);
    *parity = bridge->readBackParity.value_or(setting.parity);
    *stopBits = bridge->readBackStopBits.value_or(setting.stopBits);
    *flowControl = bridge->readBackFlowControl.value_or(setting.flowControl);
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_SetTimeouts(HID_UART_DEVICE device, uint32_t readTimeout,
                                    uint32_t writeTimeout) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "SetTimeouts handle=" + std::to_string(fake::HandleNumber(device)) +
                           " read=" + std::to_string(readTimeout) +
                           " write=" + std::to_string(writeTimeout);
  Bridge* bridge = nullptr;
  return Record(call, fake::Reach(device, "SetTimeouts", bridge));
}

HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                        uint32_t options) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "GetOpenedString handle=" + std::to_string(fake::HandleNumber(device)) +
                           " kind=" + std::to_string(options);
  Bridge* bridge = nullptr;
  const HID_UART_STATUS status = fake::Reach(device, "GetOpenedString", bridge);
  if (status == 0) {
    fake::WriteString(*bridge, fake::StringOf(*bridge, options), deviceString);
  } else if (bridge != nullptr) {
    fake::WriteJunk(*bridge, deviceString);
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_Read(HID_UART_DEVICE device, uint8_t* buffer, uint32_t numBytesToRead,
                             uint32_t* numBytesRead) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const std::string call = "Read handle=" + std::to_string(fake::HandleNumber(device)) +
                           " request=" + std::to_string(numBytesToRead);
  Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  if (!bridge->attached || bridge->reads.empty()) {
    *numBytesRead = 0;
    if (bridge->unplugWhenDrained) {
      bridge->attached = false;
    }
    return Record(call, HID_UART_DEVICE_IO_FAILED);
  }
  fake::Read read = bridge->reads.front();
  bridge->reads.pop_front();
  const size_t placed = std::min<size_t>(read.bytes.size(), numBytesToRead);
  std::copy_n(read.bytes.begin(), placed, buffer);
  *numBytesRead = read.reportedCount.value_or(static_cast<uint32_t>(placed));
  if (placed < read.bytes.size() && !read.reportedCount &&
      (read.status == HID_UART_SUCCESS || read.status == HID_UART_READ_TIMED_OUT)) {
    // As on a line: what the request could not take waits for the next read,
    // and this one returns filled.
    read.bytes.erase(read.bytes.begin(), read.bytes.begin() + static_cast<std::ptrdiff_t>(placed));
    bridge->reads.push_front(std::move(read));
    return Record(call, HID_UART_SUCCESS);
  }
  return Record(call, read.status);
}

HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device) {
  const std::lock_guard<std::recursive_mutex> lock(fake::Lock());
  const size_t number = fake::HandleNumber(device);
  Bridge* bridge = nullptr;
  const HID_UART_STATUS status = fake::Reach(device, "Close", bridge);
  // Every close is counted, also of a bad or closed handle, so that tests
  // see a second close.
  State().closes[number] += 1;
  return Record("Close handle=" + std::to_string(number), status);
}

}  // extern "C"
