// The twelve bridge operations over hidapi's hidraw backend: CP2110 bridges
// are found, opened and read through the kernel's HID interface, with no
// closed library anywhere.
#include "hid_uart.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cp2110_reports.h"
#include "device_strings.h"
#include "uart_receiver.h"

namespace {

using namespace hidbridge;

// Time-outs in force until the caller sets its own.
constexpr uint32_t kDefaultTimeoutMs = 1000;

struct Identity {
  std::string vendorId;
  std::string productId;
  std::string path;
  std::string serial;
  std::string manufacturer;
  std::string product;
};

const std::string* IdentityField(const Identity& identity, uint32_t kind) {
  switch (kind) {
    case HID_UART_GET_VID_STR:
      return &identity.vendorId;
    case HID_UART_GET_PID_STR:
      return &identity.productId;
    case HID_UART_GET_PATH_STR:
      return &identity.path;
    case HID_UART_GET_SERIAL_STR:
      return &identity.serial;
    case HID_UART_GET_MANUFACTURER_STR:
      return &identity.manufacturer;
    case HID_UART_GET_PRODUCT_STR:
      return &identity.product;
    default:
      return nullptr;
  }
}

// Attached bridges matching the filters, in the order the system lists them.
// A filter of 0 stands for the chip's default identifier. A device with
// several top-level collections is listed once per collection; it is one
// bridge, so each path is kept once.
bool Enumerate(uint16_t vid, uint16_t pid, std::vector<Identity>* bridges) {
  if (hid_init() != 0) {
    return false;
  }
  hid_device_info* list =
      hid_enumerate(vid != 0 ? vid : kDefaultVendorId, pid != 0 ? pid : kDefaultProductId);
  std::set<std::string> seen;
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    if (info->path == nullptr || !seen.insert(info->path).second) {
      continue;
    }
    bridges->push_back(
        Identity{hiduart::UsbIdText(info->vendor_id), hiduart::UsbIdText(info->product_id),
                 info->path, WideToUtf8(info->serial_number), WideToUtf8(info->manufacturer_string),
                 WideToUtf8(info->product_string)});
  }
  hid_free_enumeration(list);
  return true;
}

// The bridge at an index among those attached now, or the status that says
// why there is none.
HID_UART_STATUS FindAttached(uint32_t deviceNum, uint16_t vid, uint16_t pid, Identity* found) {
  std::vector<Identity> bridges;
  if (!Enumerate(vid, pid, &bridges)) {
    return HID_UART_DEVICE_ACCESS_ERROR;
  }
  if (deviceNum >= bridges.size()) {
    return HID_UART_DEVICE_NOT_FOUND;
  }
  *found = bridges[deviceNum];
  return HID_UART_SUCCESS;
}

class HidrawSource : public ReportSource {
 public:
  explicit HidrawSource(hid_device* device) : device_(device) {}
  int ReadReport(uint8_t* report, size_t size, int timeoutMs) override {
    return hid_read_timeout(device_, report, size, timeoutMs);
  }

 private:
  hid_device* device_;
};

struct Bridge {
  hid_device* device;
  Identity identity;
  uint32_t readTimeoutMs = kDefaultTimeoutMs;
  uint32_t writeTimeoutMs = kDefaultTimeoutMs;
  UartReceiver receiver;
};

// Handles are numbers, never addresses, so that a handle used after its
// close is recognised as invalid instead of reaching freed memory or another
// bridge. One lock serialises every operation on the table and its bridges.
std::mutex tableMutex;
std::map<uintptr_t, std::unique_ptr<Bridge>> bridgeTable;
uintptr_t nextHandle = 1;

Bridge* Find(HID_UART_DEVICE handle) {
  const auto found = bridgeTable.find(reinterpret_cast<uintptr_t>(handle));
  return found == bridgeTable.end() ? nullptr : found->second.get();
}

bool SetFeature(hid_device* device, const uint8_t* report, size_t size) {
  return hid_send_feature_report(device, report, size) >= 0;
}

// Fetches a feature report; returns its size, ID included, or -1.
int GetFeature(hid_device* device, uint8_t reportId, uint8_t (&report)[kMaxReportSize]) {
  report[0] = reportId;
  return hid_get_feature_report(device, report, sizeof report);
}

bool SetUartEnabled(hid_device* device, bool enabled) {
  const uint8_t report[] = {kUartEnableReportId, static_cast<uint8_t>(enabled ? 1 : 0)};
  return SetFeature(device, report, sizeof report);
}

HID_UART_STATUS ReportVersion(uint8_t major, uint8_t minor, HID_UART_BOOL isRelease,
                              uint8_t* outMajor, uint8_t* outMinor, HID_UART_BOOL* release) {
  if (outMajor == nullptr || outMinor == nullptr || release == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  *outMajor = major;
  *outMinor = minor;
  *release = isRelease;
  return HID_UART_SUCCESS;
}

#ifdef NDEBUG
constexpr HID_UART_BOOL kReleaseBuild = 1;
#else
constexpr HID_UART_BOOL kReleaseBuild = 0;
#endif

}  // namespace

extern "C" {

HID_UART_STATUS HidUart_GetLibraryVersion(uint8_t* major, uint8_t* minor, HID_UART_BOOL* release) {
  return ReportVersion(KESTRUNE_VERSION_MAJOR, KESTRUNE_VERSION_MINOR, kReleaseBuild, major, minor,
                       release);
}

HID_UART_STATUS HidUart_GetHidLibraryVersion(uint8_t* major, uint8_t* minor,
                                             HID_UART_BOOL* release) {
  const hid_api_version* version = hid_version();
  return ReportVersion(static_cast<uint8_t>(version->major), static_cast<uint8_t>(version->minor),
                       1, major, minor, release);
}

HID_UART_STATUS HidUart_GetNumDevices(uint32_t* numDevices, uint16_t vid, uint16_t pid) {
  if (numDevices == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  std::vector<Identity> bridges;
  if (!Enumerate(vid, pid, &bridges)) {
    return HID_UART_DEVICE_ACCESS_ERROR;
  }
  *numDevices = static_cast<uint32_t>(bridges.size());
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetString(uint32_t deviceNum, uint16_t vid, uint16_t pid,
                                  char* deviceString, uint32_t options) {
  if (deviceString == nullptr || IdentityField(Identity{}, options) == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  Identity bridge;
  const HID_UART_STATUS status = FindAttached(deviceNum, vid, pid, &bridge);
  if (status != HID_UART_SUCCESS) {
    return status;
  }
  CopyDeviceString(*IdentityField(bridge, options), deviceString);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_Open(HID_UART_DEVICE* device, uint32_t deviceNum, uint16_t vid,
                             uint16_t pid) {
  if (device == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  Identity identity;
  const HID_UART_STATUS status = FindAttached(deviceNum, vid, pid, &identity);
  if (status != HID_UART_SUCCESS) {
    return status;
  }
  errno = 0;
  hid_device* opened = hid_open_path(identity.path.c_str());
  const int openError = errno;
  if (opened == nullptr) {
    return OpenFailureStatus(openError);
  }
  // The UART carries data only while enabled.
  if (!SetUartEnabled(opened, true)) {
    hid_close(opened);
    return HID_UART_DEVICE_IO_FAILED;
  }
  auto bridge = std::make_unique<Bridge>();
  bridge->device = opened;
  bridge->identity = identity;

  const std::lock_guard<std::mutex> lock(tableMutex);
  const uintptr_t handle = nextHandle++;
  bridgeTable.emplace(handle, std::move(bridge));
  *device = reinterpret_cast<HID_UART_DEVICE>(handle);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                      uint8_t* version) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  Bridge* bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (partNumber == nullptr || version == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kMaxReportSize];
  const int size = GetFeature(bridge->device, kVersionReportId, report);
  if (size < 0 || !DecodeVersion(report, static_cast<size_t>(size), partNumber, version)) {
    return HID_UART_DEVICE_IO_FAILED;
  }
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate, uint8_t dataBits,
                                      uint8_t parity, uint8_t stopBits, uint8_t flowControl) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  Bridge* bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  const hiduart::UartSetting config{baudRate, dataBits, parity, stopBits, flowControl};
  if (!hiduart::IsValid(config)) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kUartConfigReportSize];
  EncodeUartConfig(config, report);
  return SetFeature(bridge->device, report, sizeof report) ? HID_UART_SUCCESS
                                                           : HID_UART_DEVICE_IO_FAILED;
}

HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate, uint8_t* dataBits,
                                      uint8_t* parity, uint8_t* stopBits, uint8_t* flowControl) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  Bridge* bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (baudRate == nullptr || dataBits == nullptr || parity == nullptr || stopBits == nullptr ||
      flowControl == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kMaxReportSize];
  hiduart::UartSetting config{};
  const int size = GetFeature(bridge->device, kUartConfigReportId, report);
  if (size < 0 || !DecodeUartConfig(report, static_cast<size_t>(size), &config)) {
    return HID_UART_DEVICE_IO_FAILED;
  }
  *baudRate = config.baudRate;
  *dataBits = config.dataBits;
  *parity = config.parity;
  *stopBits = config.stopBits;
  *flowControl = config.flowControl;
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_SetTimeouts(HID_UART_DEVICE device, uint32_t readTimeout,
                                    uint32_t writeTimeout) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  Bridge* bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  bridge->readTimeoutMs = readTimeout;
  bridge->writeTimeoutMs = writeTimeout;
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                        uint32_t options) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  Bridge* bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  const std::string* field = IdentityField(bridge->identity, options);
  if (deviceString == nullptr || field == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  CopyDeviceString(*field, deviceString);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_Read(HID_UART_DEVICE device, uint8_t* buffer, uint32_t numBytesToRead,
                             uint32_t* numBytesRead) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  Bridge* bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (buffer == nullptr || numBytesRead == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  *numBytesRead = 0;
  if (numBytesToRead == 0) {
    return HID_UART_INVALID_REQUEST_LENGTH;
  }
  HidrawSource source(bridge->device);
  return bridge->receiver.Read(source, buffer, numBytesToRead, bridge->readTimeoutMs, numBytesRead);
}

HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device) {
  std::unique_ptr<Bridge> bridge;
  {
    const std::lock_guard<std::mutex> lock(tableMutex);
    const auto found = bridgeTable.find(reinterpret_cast<uintptr_t>(device));
    if (found == bridgeTable.end()) {
      return HID_UART_INVALID_HANDLE;
    }
    bridge = std::move(found->second);
    bridgeTable.erase(found);
  }
  // An unplugged bridge cannot be told to stop; it is released all the same.
  const bool disabled = SetUartEnabled(bridge->device, false);
  hid_close(bridge->device);
  return disabled ? HID_UART_SUCCESS : HID_UART_DEVICE_IO_FAILED;
}

}  // extern "C"
