// SPDX-License-Identifier: Apache-2.0
// The twelve bridge operations over hidapi's hidraw backend: CP2110 bridges
// are found, opened and read through the kernel's HID interface, with no
// closed library anywhere.
#include "hid_uart.h"

#include <hidapi.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

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

// hidapi keeps global state while it lists, opens and closes devices: its
// enumeration, opens and closes never overlap, whatever the caller does.
std::mutex enumerationMutex;

// Attached bridges matching the filters, in the order the system lists them.
// A filter of 0 stands for the chip's default identifier. A device with
// several top-level collections is listed once per collection; it is one
// bridge, so each path is kept once.
bool Enumerate(uint16_t vid, uint16_t pid, std::vector<Identity>* bridges) {
  const std::lock_guard<std::mutex> lock(enumerationMutex);
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

// Input reports through hidapi's timed read.
class HidSource : public ReportSource {
 public:
  explicit HidSource(hid_device* device) : device_(device) {}

  int ReadReport(uint8_t* report, size_t size, int timeoutMs) override {
    errno = 0;
    const int result = hid_read_timeout(device_, report, size, hungUp_ ? -1 : timeoutMs);
    if (result >= 0 || hungUp_) {
      return result;
    }
    if (errno == EINTR) {
      return kInterrupted;
    }
#if defined(__linux__)
    // hidapi reports the hang-up (a failure with errno untouched, from the
    // poll's result) before the reports the kernel still holds for this
    // reader. Once the device is gone a blocking read never blocks: it hands
    // out what is queued, then fails. So the reports that arrived before the
    // unplug are still delivered.
    if (errno == 0) {
      hungUp_ = true;
      return hid_read_timeout(device_, report, size, -1);
    }
#endif
    return result;
  }

 private:
  hid_device* device_;
  bool hungUp_ = false;
};

// hidapi keeps per-device error state that its calls rewrite without a lock,
// so calls on one device never overlap: the reader takes the device between
// two waits of at most kDrainPollMs, and steps aside while a request waits.
class DeviceAccess {
 public:
  class Request {
   public:
    explicit Request(DeviceAccess& access) : access_(access) {
      ++access_.waiting_;
      access_.mutex_.lock();
      --access_.waiting_;
    }
    ~Request() { access_.mutex_.unlock(); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

   private:
    DeviceAccess& access_;
  };

  // The reader's turn: waits while requests are queued.
  std::unique_lock<std::mutex> ReaderTurn() {
    while (waiting_.load() > 0) {
      std::this_thread::yield();
    }
    return std::unique_lock<std::mutex>(mutex_);
  }

 private:
  std::mutex mutex_;
  std::atomic<int> waiting_{0};
};

// One opened bridge. Its reader thread drains the device into the receiver
// from the open until the close.
struct Bridge {
  hid_device* device = nullptr;
  Identity identity;
  DeviceAccess access;
  UartReceiver receiver;
  std::atomic<bool> stopReading{false};
  std::thread reader;

  std::mutex settingsMutex;
  uint32_t readTimeoutMs = kDefaultTimeoutMs;
  uint32_t writeTimeoutMs = kDefaultTimeoutMs;
};

// The reader of one bridge.
class LockedSource : public ReportSource {
 public:
  explicit LockedSource(Bridge& bridge) : bridge_(bridge), source_(bridge.device) {}
  int ReadReport(uint8_t* report, size_t size, int timeoutMs) override {
    const auto turn = bridge_.access.ReaderTurn();
    return source_.ReadReport(report, size, timeoutMs);
  }

 private:
  Bridge& bridge_;
  HidSource source_;
};

void StartReader(Bridge& bridge) {
#if !defined(_WIN32)
  // Signals are for the program's own threads: the reader never sees one,
  // so no wait of it is ever cut short.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
#endif
  bridge.reader = std::thread([&bridge] {
    LockedSource source(bridge);
    DrainReports(source, bridge.receiver, bridge.stopReading);
  });
#if !defined(_WIN32)
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
}

void StopReader(Bridge& bridge) {
  bridge.stopReading = true;
  if (bridge.reader.joinable()) {
    bridge.reader.join();
  }
}

// Handles are numbers, never addresses, so that a handle used after its
// close is recognised as invalid instead of reaching freed memory or another
// bridge. The table's lock is held only to look a handle up; each bridge
// guards its own state. The table is never destroyed: a bridge still open
// when the process ends keeps its reader to the last.
std::mutex tableMutex;
std::map<uintptr_t, std::shared_ptr<Bridge>>& BridgeTable() {
  static auto* table = new std::map<uintptr_t, std::shared_ptr<Bridge>>;
  return *table;
}
uintptr_t nextHandle = 1;

std::shared_ptr<Bridge> Find(HID_UART_DEVICE handle) {
  const std::lock_guard<std::mutex> lock(tableMutex);
  const auto found = BridgeTable().find(reinterpret_cast<uintptr_t>(handle));
  return found == BridgeTable().end() ? nullptr : found->second;
}

// Runs one request on the bridge's device, unless a close got there first.
template <typename Call>
int OnDevice(Bridge& bridge, Call call) {
  const DeviceAccess::Request request(bridge.access);
  return bridge.device != nullptr ? call(bridge.device) : -1;
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

// Empties the bridge's receive FIFO and drops the reports already queued for
// this open: a run stopped with Ctrl+C leaves the UART enabled, and what it
// received since is not new data for this one.
bool PurgeReceived(hid_device* device) {
  const uint8_t report[] = {kPurgeFifosReportId, kPurgeReceiveFifo};
  if (!SetFeature(device, report, sizeof report)) {
    return false;
  }
  uint8_t stale[kMaxReportSize];
  for (int i = 0; i < kMaxQueuedReports && hid_read_timeout(device, stale, sizeof stale, 0) > 0;
       ++i) {
  }
  return true;
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
  hid_device* opened = nullptr;
  int openError = 0;
  {
    const std::lock_guard<std::mutex> lock(enumerationMutex);
    errno = 0;
    opened = hid_open_path(identity.path.c_str());
    openError = errno;
  }
  if (opened == nullptr) {
    return OpenFailureStatus(openError);
  }
  // The UART carries data only while enabled.
  if (!SetUartEnabled(opened, true) || !PurgeReceived(opened)) {
    hid_close(opened);
    return HID_UART_DEVICE_IO_FAILED;
  }
  auto bridge = std::make_shared<Bridge>();
  bridge->device = opened;
  bridge->identity = identity;
  StartReader(*bridge);

  const std::lock_guard<std::mutex> lock(tableMutex);
  const uintptr_t handle = nextHandle++;
  BridgeTable().emplace(handle, std::move(bridge));
  *device = reinterpret_cast<HID_UART_DEVICE>(handle);
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetPartNumber(HID_UART_DEVICE device, uint8_t* partNumber,
                                      uint8_t* version) {
  const std::shared_ptr<Bridge> bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (partNumber == nullptr || version == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kMaxReportSize];
  const int size =
      OnDevice(*bridge, [&](hid_device* d) { return GetFeature(d, kVersionReportId, report); });
  if (size < 0 || !DecodeVersion(report, static_cast<size_t>(size), partNumber, version)) {
    return HID_UART_DEVICE_IO_FAILED;
  }
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_SetUartConfig(HID_UART_DEVICE device, uint32_t baudRate, uint8_t dataBits,
                                      uint8_t parity, uint8_t stopBits, uint8_t flowControl) {
  const std::shared_ptr<Bridge> bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  const hiduart::UartSetting config{baudRate, dataBits, parity, stopBits, flowControl};
  if (!hiduart::IsValid(config)) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kUartConfigReportSize];
  EncodeUartConfig(config, report);
  const int sent = OnDevice(
      *bridge, [&](hid_device* d) { return SetFeature(d, report, sizeof report) ? 0 : -1; });
  return sent == 0 ? HID_UART_SUCCESS : HID_UART_DEVICE_IO_FAILED;
}

HID_UART_STATUS HidUart_GetUartConfig(HID_UART_DEVICE device, uint32_t* baudRate, uint8_t* dataBits,
                                      uint8_t* parity, uint8_t* stopBits, uint8_t* flowControl) {
  const std::shared_ptr<Bridge> bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  if (baudRate == nullptr || dataBits == nullptr || parity == nullptr || stopBits == nullptr ||
      flowControl == nullptr) {
    return HID_UART_INVALID_PARAMETER;
  }
  uint8_t report[kMaxReportSize];
  hiduart::UartSetting config{};
  const int size =
      OnDevice(*bridge, [&](hid_device* d) { return GetFeature(d, kUartConfigReportId, report); });
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
  const std::shared_ptr<Bridge> bridge = Find(device);
  if (bridge == nullptr) {
    return HID_UART_INVALID_HANDLE;
  }
  const std::lock_guard<std::mutex> lock(bridge->settingsMutex);
  bridge->readTimeoutMs = readTimeout;
  bridge->writeTimeoutMs = writeTimeout;
  return HID_UART_SUCCESS;
}

HID_UART_STATUS HidUart_GetOpenedString(HID_UART_DEVICE device, char* deviceString,
                                        uint32_t options) {
  const std::shared_ptr<Bridge> bridge = Find(device);
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
  const std::shared_ptr<Bridge> bridge = Find(device);
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
  uint32_t timeoutMs = 0;
  {
    const std::lock_guard<std::mutex> lock(bridge->settingsMutex);
    timeoutMs = bridge->readTimeoutMs;
  }
  return bridge->receiver.Read(buffer, numBytesToRead, timeoutMs, numBytesRead);
}

HID_UART_STATUS HidUart_Close(HID_UART_DEVICE device) {
  std::shared_ptr<Bridge> bridge;
  {
    const std::lock_guard<std::mutex> lock(tableMutex);
    const auto found = BridgeTable().find(reinterpret_cast<uintptr_t>(device));
    if (found == BridgeTable().end()) {
      return HID_UART_INVALID_HANDLE;
    }
    bridge = std::move(found->second);
    BridgeTable().erase(found);
  }
  StopReader(*bridge);
  // An unplugged bridge cannot be told to stop; it is released all the same.
  const DeviceAccess::Request request(bridge->access);
  const bool disabled = SetUartEnabled(bridge->device, false);
  {
    const std::lock_guard<std::mutex> lock(enumerationMutex);
    hid_close(bridge->device);
  }
  bridge->device = nullptr;
  return disabled ? HID_UART_SUCCESS : HID_UART_DEVICE_IO_FAILED;
}

}  // extern "C"
