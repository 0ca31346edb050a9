#include "fake_bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fake {

Library& State() {
  static Library library;
  return library;
}

void Reset() { State() = Library{}; }

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& call : State().calls) {
    if (call.rfind(prefix, 0) == 0) {
      found.push_back(call);
    }
  }
  return found;
}

namespace {

HID_UART_STATUS Record(const std::string& call, HID_UART_STATUS status) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " -> 0x%02X", static_cast<unsigned>(status));
  State().calls.push_back(call + suffix);
  return status;
}

HID_UART_STATUS Failure(const Bridge& bridge, const std::string& operation) {
  const auto found = bridge.failures.find(operation);
  return found == bridge.failures.end() ? HID_UART_SUCCESS : found->second;
}

size_t HandleNumber(HID_UART_DEVICE device) { return reinterpret_cast<uintptr_t>(device); }

// The bridge behind an open handle, or nullptr for a bad or closed one.
Bridge* Opened(HID_UART_DEVICE device) {
  const size_t number = HandleNumber(device);
  Library& library = State();
  if (number == 0 || number > library.openedBridge.size() || library.closes[number] > 0) {
    return nullptr;
  }
  return &library.bridges[library.openedBridge[number - 1]];
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
  const fake::Library& library = State();
  if (library.hidVersionStatus == 0) {
    *major = library.hidMajor;
    *minor = library.hidMinor;
    *release = library.hidRelease;
  }
  return Record("GetHidLibraryVersion", library.hidVersionStatus);
}

HID_UART_STATUS HidUart_GetNumDevices(uint32_t* numDevices, uint16_t vid, uint16_t pid) {
  fake::Library& library = State();
  HID_UART_STATUS status = 0;
  if (!library.numDevicesStatus.empty()) {
    status = library.numDevicesStatus.front();
    library.numDevicesStatus.pop_front();
  }
  if (status == 0) {
    *numDevices = static_cast<uint32_t>(library.bridges.size());
  }
  return Record("GetNumDevices vid=" + std::to_string(vid) + " pid=" + std::to_string(pid), status);
}

HID_UART_STATUS HidUart_GetString(uint32_t deviceNum, uint16_t vid, uint16_t pid,
                                  char* deviceString, uint32_t options) {
  const std::string call = "GetString index=" + std::to_string(deviceNum) +
                           " vid=" + std::to_string(vid) + " pid=" + std::to_string(pid) +
                           " kind=" + std::to_string(options);
  fake::Library& library = State();
  if (deviceNum >= library.bridges.size()) {
    return Record(call, HID_UART_DEVICE_NOT_FOUND);
  }
  const Bridge& bridge = library.bridges[deviceNum];
  const HID_UART_STATUS status = fake::Failure(bridge, "GetString");
  if (status == 0) {
    fake::WriteString(bridge, fake::StringOf(bridge, options), deviceString);
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_Open(HID_UART_DEVICE* device, uint32_t deviceNum, uint16_t vid,
                             uint16_t pid) {
  const std::string call = "Open index=" + std::to_string(deviceNum) +
                           " vid=" + std::to_string(vid) + " pid=" + std::to_string(pid);
  fake::Library& library = State();
  if (deviceNum >= library.bridges.size()) {
    return Record(call, HID_UART_DEVICE_NOT_FOUND);
  }
  const HID_UART_STATUS status = fake::Failure(library.bridges[deviceNum], "Open");
  if (status != 0) {
    return Record(call, status);
  }
  library.openedBridge.push_back(deviceNum);
  const size_t number = library.openedBridge.size();
  *device = reinterpret_cast<HID_UART_DEVICE>(number);
  return Record(call + " handle=" + std::to_string(number), status);
}

HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                      uint8_t* version) {
  const std::string call = "GetPartNumber handle=" + std::to_string(fake::HandleNumber(device));
  const Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  const HID_UART_STATUS status = fake::Failure(*bridge, "GetPartNumber");
  if (status == 0) {
    *partNumber = bridge->partNumber;
    *version = bridge->version;
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate, uint8_t dataBits,
                                      uint8_t parity, uint8_t stopBits, uint8_t flowControl) {
  const std::string call = "SetUartConfig handle=" + std::to_string(fake::HandleNumber(device)) +
                           " " + std::to_string(baudRate) + " " + std::to_string(dataBits) + " " +
                           std::to_string(parity) + " " + std::to_string(stopBits) + " " +
                           std::to_string(flowControl);
  const Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  const HID_UART_STATUS status = fake::Failure(*bridge, "SetUartConfig");
  if (status == 0) {
    State().written[fake::HandleNumber(device)] = {baudRate, dataBits, parity, stopBits,
                                                   flowControl};
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate, uint8_t* dataBits,
                                      uint8_t* parity, uint8_t* stopBits, uint8_t* flowControl) {
  const std::string call = "GetUartConfig handle=" + std::to_string(fake::HandleNumber(device));
  const Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  const HID_UART_STATUS status = fake::Failure(*bridge, "GetUartConfig");
  if (status == 0) {
    const fake::Setting setting = State().written[fake::HandleNumber(device)];
    *baudRate = bridge->readBackBaud.value_or(setting.baud);
    *dataBits = bridge->readBackDataBits.value_or(setting.dataBits);
    *parity = bridge->readBackParity.value_or(setting.parity);
    *stopBits = bridge->readBackStopBits.value_or(setting.stopBits);
    *flowControl = bridge->readBackFlowControl.value_or(setting.flowControl);
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_SetTimeouts(HID_UART_DEVICE device, uint32_t readTimeout,
                                    uint32_t writeTimeout) {
  const std::string call = "SetTimeouts handle=" + std::to_string(fake::HandleNumber(device)) +
                           " read=" + std::to_string(readTimeout) +
                           " write=" + std::to_string(writeTimeout);
  const Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  return Record(call, fake::Failure(*bridge, "SetTimeouts"));
}

HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                        uint32_t options) {
  const std::string call = "GetOpenedString handle=" + std::to_string(fake::HandleNumber(device)) +
                           " kind=" + std::to_string(options);
  const Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  const HID_UART_STATUS status = fake::Failure(*bridge, "GetOpenedString");
  if (status == 0) {
    fake::WriteString(*bridge, fake::StringOf(*bridge, options), deviceString);
  }
  return Record(call, status);
}

HID_UART_STATUS HidUart_Read(HID_UART_DEVICE device, uint8_t* buffer, uint32_t numBytesToRead,
                             uint32_t* numBytesRead) {
  const std::string call = "Read handle=" + std::to_string(fake::HandleNumber(device)) +
                           " request=" + std::to_string(numBytesToRead);
  Bridge* bridge = fake::Opened(device);
  if (bridge == nullptr) {
    return Record(call, HID_UART_INVALID_HANDLE);
  }
  if (bridge->reads.empty()) {
    return Record(call, HID_UART_DEVICE_IO_FAILED);
  }
  const fake::Read read = bridge->reads.front();
  bridge->reads.pop_front();
  const size_t placed = std::min<size_t>(read.bytes.size(), numBytesToRead);
  std::copy_n(read.bytes.begin(), placed, buffer);
  *numBytesRead = read.reportedCount.value_or(static_cast<uint32_t>(placed));
  return Record(call, read.status);
}

HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device) {
  const size_t number = fake::HandleNumber(device);
  State().closes[number] += 1;
  return Record("Close handle=" + std::to_string(number), HID_UART_SUCCESS);
}

}  // extern "C"
