// SPDX-License-Identifier: Apache-2.0
#include "operations.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "call_log.h"
#include "device_table.h"
#include "scenario_reader.h"

namespace sim {
namespace {

struct Simulation {
  std::mutex mutex;
  // Told of every change a waiting read may have to act on at once: a new
  // setting (which re-times its line), a close, an unplug by a call, a reset.
  std::condition_variable changed;
  std::optional<DeviceTable> table;
  std::uint64_t generation = 0;  // bumped by every reset
  CallLog log;
};

// Never destroyed, so that calls made while the process exits still work.
Simulation& TheSimulation() {
  static Simulation* simulation = new Simulation;
  return *simulation;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

DeviceTable& Loaded(Simulation& sim) {
  if (!sim.table) {
    const std::string path = Environment(kScenarioVariable);
    ParseResult parsed = path.empty() ? ParseScenario(DemoScenarioText(), "built-in demo scenario")
                                      : ReadScenarioFile(path);
    if (!parsed.scenario) {
      // A broken scenario must not pass for an installation: report no bridges.
      std::fprintf(stderr, "simulated bridge: %s\n", parsed.error.c_str());
      parsed.scenario.emplace();
    }
    sim.table.emplace(std::move(*parsed.scenario));
    sim.log.Open(Environment(kLogVariable));
  }
  return *sim.table;
}

bool IsListingOp(Op op) {
  return op == Op::GetNumDevices || op == Op::GetString || op == Op::Open || op == Op::Close;
}

/// The threading contract of hid_uart.h, checked from the caller's side: a
/// call counts as running from the moment it is made, before it waits for
/// the simulation's lock, so that two calls that may not overlap are caught
/// even though the lock would have put them one after the other.
class ContractWatch {
 public:
  /// Enters a call; returns what it breaks, or an empty string.
  std::string Enter(Op op, HID_UART_DEVICE device) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string breach;
    if (IsListingOp(op)) {
      if (listing_) {
        breach = std::string(OpFunction(op)) + " while " + std::string(OpFunction(*listing_)) +
                 " has not returned";
      }
      listing_ = op;
      ++listingCalls_;
    }
    if (device != nullptr) {
      const auto running = onHandle_.find(device);
      if (running != onHandle_.end() && breach.empty()) {
        breach = std::string(OpFunction(op)) + " on a handle while " +
                 std::string(OpFunction(running->second.op)) + " on it has not returned";
      }
      auto& entry = onHandle_[device];
      entry.op = op;
      ++entry.calls;
    }
    return breach;
  }
  void Leave(Op op, HID_UART_DEVICE device) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (IsListingOp(op) && --listingCalls_ == 0) listing_.reset();
    if (device != nullptr) {
      const auto entry = onHandle_.find(device);
      if (entry != onHandle_.end() && --entry->second.calls == 0) onHandle_.erase(entry);
    }
  }

 private:
  struct Running {
    Op op = Op::Read;
    int calls = 0;
  };
  std::mutex mutex_;
  std::optional<Op> listing_;
  int listingCalls_ = 0;
  std::map<HID_UART_DEVICE, Running> onHandle_;
};

// Never destroyed, as the simulation.
ContractWatch& TheContractWatch() {
  static ContractWatch* watch = new ContractWatch;
  return *watch;
}

/// Holds a call's place in the contract from before it takes the lock.
class ContractGuard {
 public:
  ContractGuard(Op op, HID_UART_DEVICE device)
      : op_(op), device_(device), breach_(TheContractWatch().Enter(op, device)) {}
  ~ContractGuard() { TheContractWatch().Leave(op_, device_); }
  ContractGuard(const ContractGuard&) = delete;
  ContractGuard& operator=(const ContractGuard&) = delete;
  const std::string& breach() const { return breach_; }

 private:
  Op op_;
  HID_UART_DEVICE device_;
  std::string breach_;
};

/// One call in progress: holds the lock, brings unplugs by time up to date,
/// and on leaving runs the conditions that follow the call and logs it.
class Call {
 public:
  explicit Call(Op op, HID_UART_DEVICE device = nullptr)
      : guard_(op, device),
        sim_(TheSimulation()),
        lock_(sim_.mutex),
        table_(Loaded(sim_)),
        generation_(sim_.generation),
        op_(op),
        line_(op, sim_.log.IsOpen()) {
    if (!guard_.breach().empty()) {
      // A test aid: the log, which tests read, and standard error.
      sim_.log.WriteText("CONTRACT BROKEN: " + guard_.breach());
      std::fprintf(stderr, "simulated bridge: threading contract broken: %s\n",
                   guard_.breach().c_str());
    }
    table_.Advance(Clock::now());
    if (IsGlobalOp(op)) number_ = table_.CountGlobalCall(op);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    if (!Stale()) {
      if (IsGlobalOp(op_)) {
        changed_ = table_.AfterGlobalCall(op_, number_) || changed_;
      } else if (bridge_ != nullptr) {
        changed_ = DeviceTable::AfterCall(*bridge_, op_, number_) || changed_;
      }
    }
    sim_.log.Write(line_);
    if (changed_) sim_.changed.notify_all();
  }

  DeviceTable& Table() { return table_; }
  LogLine& Log() { return line_; }
  std::uint32_t Number() const { return number_; }
  bool Stale() const { return sim_.generation != generation_; }

  HID_UART_STATUS Return(HID_UART_STATUS status) {
    line_.Status(status);
    return status;
  }

  /// Counts the call on `bridge`; returns the status it must fail with, if
  /// the scenario says so.
  std::optional<HID_UART_STATUS> CountOn(BridgeState& bridge) {
    bridge_ = &bridge;
    number_ = DeviceTable::CountCall(bridge, op_);
    return InjectedFailure(bridge.setup.failures, op_, number_);
  }
  std::optional<HID_UART_STATUS> GlobalFailure() const {
    return InjectedFailure(table_.GetScenario().failures, op_, number_);
  }

  /// Logs the handle and finds it; counts the call on its bridge. Returns
  /// the status the call ends with at once, if any.
  std::optional<HID_UART_STATUS> Enter(HID_UART_DEVICE device) {
    handle_ = table_.FindHandle(device);
    line_.Handle("handle", handle_ == nullptr ? 0 : handle_->number, device);
    if (handle_ == nullptr) return HID_UART_INVALID_HANDLE;
    BridgeState& bridge = table_.Bridges()[handle_->bridge];
    const auto failure = CountOn(bridge);
    if (bridge.unplugged) return HID_UART_DEVICE_IO_FAILED;
    return failure;
  }
  HandleState& Handle() { return *handle_; }
  BridgeState& Bridge() { return *bridge_; }

  /// Waits with the lock released, until `when` or until another call
  /// changes something (possibly earlier, possibly for no reason).
  void WaitUntil(Clock::time_point when) { sim_.changed.wait_until(lock_, when); }
  /// Marks this call as one that waiting reads must look at.
  void Changed() { changed_ = true; }

  /// A listing that takes as long as the scenario says, as a system's
  /// enumeration of its devices may: the lock is let go meanwhile, so that
  /// calls on opened handles go on.
  void TakeListingTime() {
    const Nanos takes = table_.GetScenario().listingTakes;
    if (takes <= 0) return;
    lock_.unlock();
    std::this_thread::sleep_for(std::chrono::nanoseconds(takes));
    lock_.lock();
    table_.Advance(Clock::now());
  }

 private:
  ContractGuard guard_;
  Simulation& sim_;
  std::unique_lock<std::mutex> lock_;
  DeviceTable& table_;
  std::uint64_t generation_;
  Op op_;
  LogLine line_;
  std::uint32_t number_ = 0;
  BridgeState* bridge_ = nullptr;
  HandleState* handle_ = nullptr;
  bool changed_ = false;
};

/// Writes a device string the way the device string buffer holds it: with
/// its NUL when it fits, else exactly the first HID_UART_DEVICE_STRLEN bytes.
void WriteDeviceString(const std::string& text, char* out, LogLine& log) {
  const std::size_t size = std::min<std::size_t>(text.size(), HID_UART_DEVICE_STRLEN);
  std::memcpy(out, text.data(), size);
  if (size < HID_UART_DEVICE_STRLEN) out[size] = '\0';
  log.Out().Text("deviceString", std::string_view(text.data(), size));
}

/// Output pointers are logged only when null, in parameter order.
void LogIfNull(LogLine& log, std::string_view name, const void* pointer) {
  if (pointer == nullptr) log.Null(name);
}

HID_UART_STATUS Version(Op op, std::uint8_t* major, std::uint8_t* minor, HID_UART_BOOL* release) {
  Call call(op);
  LogIfNull(call.Log(), "major", major);
  LogIfNull(call.Log(), "minor", minor);
  LogIfNull(call.Log(), "release", release);
  if (const auto failure = call.GlobalFailure()) return call.Return(*failure);
  if (major == nullptr || minor == nullptr || release == nullptr) {
    return call.Return(HID_UART_INVALID_PARAMETER);
  }
  const Scenario& scenario = call.Table().GetScenario();
  const VersionReport& report =
      op == Op::GetLibraryVersion ? scenario.library : scenario.hidLibrary;
  *major = report.major;
  *minor = report.minor;
  *release = report.release;
  call.Log().Out().Number("major", report.major).Number("minor", report.minor);
  call.Log().Number("release", static_cast<std::uint32_t>(report.release));
  return call.Return(HID_UART_SUCCESS);
}

}  // namespace

void Reset(Scenario scenario, const std::string& logPath) {
  Simulation& sim = TheSimulation();
  const std::lock_guard<std::mutex> lock(sim.mutex);
  sim.table.emplace(std::move(scenario));
  ++sim.generation;
  sim.log.Open(logPath);
  sim.changed.notify_all();
}

void ResetToEnvironment() {
  Simulation& sim = TheSimulation();
  const std::lock_guard<std::mutex> lock(sim.mutex);
  sim.table.reset();
  ++sim.generation;
  sim.log.Close();
  sim.changed.notify_all();
}

HID_UART_STATUS GetLibraryVersion(std::uint8_t* major, std::uint8_t* minor,
                                  HID_UART_BOOL* release) {
  return Version(Op::GetLibraryVersion, major, minor, release);
}

HID_UART_STATUS GetHidLibraryVersion(std::uint8_t* major, std::uint8_t* minor,
                                     HID_UART_BOOL* release) {
  return Version(Op::GetHidLibraryVersion, major, minor, release);
}

HID_UART_STATUS GetNumDevices(std::uint32_t* numDevices, std::uint16_t vid, std::uint16_t pid) {
  Call call(Op::GetNumDevices);
  call.TakeListingTime();
  LogIfNull(call.Log(), "numDevices", numDevices);
  call.Log().Hex16("vid", vid).Hex16("pid", pid);
  if (const auto failure = call.GlobalFailure()) return call.Return(*failure);
  if (numDevices == nullptr) return call.Return(HID_UART_INVALID_PARAMETER);
  *numDevices = static_cast<std::uint32_t>(call.Table().Attached(vid, pid).size());
  call.Log().Out().Number("numDevices", *numDevices);
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS GetString(std::uint32_t deviceNum, std::uint16_t vid, std::uint16_t pid,
                          char* deviceString, std::uint32_t options) {
  Call call(Op::GetString);
  call.TakeListingTime();
  call.Log().Number("deviceNum", deviceNum).Hex16("vid", vid).Hex16("pid", pid);
  LogIfNull(call.Log(), "deviceString", deviceString);
  call.Log().Number("options", options);
  const auto attached = call.Table().Attached(vid, pid);
  if (deviceNum >= attached.size()) return call.Return(HID_UART_DEVICE_NOT_FOUND);
  BridgeState& bridge = call.Table().Bridges()[attached[deviceNum]];
  if (const auto failure = call.CountOn(bridge)) return call.Return(*failure);
  const auto text = DeviceString(bridge.setup, bridge.position, options);
  if (deviceString == nullptr || !text) return call.Return(HID_UART_INVALID_PARAMETER);
  WriteDeviceString(*text, deviceString, call.Log());
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS Open(HID_UART_DEVICE* device, std::uint32_t deviceNum, std::uint16_t vid,
                     std::uint16_t pid) {
  Call call(Op::Open);
  LogIfNull(call.Log(), "device", device);
  call.Log().Number("deviceNum", deviceNum).Hex16("vid", vid).Hex16("pid", pid);
  const auto attached = call.Table().Attached(vid, pid);
  if (deviceNum >= attached.size()) return call.Return(HID_UART_DEVICE_NOT_FOUND);
  BridgeState& bridge = call.Table().Bridges()[attached[deviceNum]];
  if (const auto failure = call.CountOn(bridge)) return call.Return(*failure);
  if (device == nullptr) return call.Return(HID_UART_INVALID_PARAMETER);
  *device = call.Table().OpenHandle(attached[deviceNum], Clock::now());
  call.Log().Out().Handle("handle", call.Table().FindHandle(*device)->number, *device);
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS GetPartNumber(HID_UART_DEVICE device, std::uint8_t* partNumber,
                              std::uint8_t* version) {
  Call call(Op::GetPartNumber, device);
  const auto status = call.Enter(device);
  LogIfNull(call.Log(), "partNumber", partNumber);
  LogIfNull(call.Log(), "version", version);
  if (status) return call.Return(*status);
  if (partNumber == nullptr || version == nullptr) return call.Return(HID_UART_INVALID_PARAMETER);
  *partNumber = call.Bridge().setup.partNumber;
  *version = call.Bridge().setup.version;
  call.Log().Out().Number("partNumber", *partNumber).Number("version", *version);
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS SetUartConfig(HID_UART_DEVICE device, std::uint32_t baudRate, std::uint8_t dataBits,
                              std::uint8_t parity, std::uint8_t stopBits,
                              std::uint8_t flowControl) {
  Call call(Op::SetUartConfig, device);
  const auto status = call.Enter(device);
  call.Log().Number("baud", baudRate).Number("dataBits", dataBits).Number("parity", parity);
  call.Log().Number("stopBits", stopBits).Number("flowControl", flowControl);
  if (status) return call.Return(*status);
  const hiduart::UartSetting setting{baudRate, dataBits, parity, stopBits, flowControl};
  if (!hiduart::IsValid(setting)) return call.Return(HID_UART_INVALID_PARAMETER);
  BridgeState& bridge = call.Bridge();
  bridge.written = setting;
  bridge.line.SetCharacterTime(DeviceTable::LineTime(bridge, Clock::now()), UartCharTime(setting));
  call.Changed();
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS GetUartConfig(HID_UART_DEVICE device, std::uint32_t* baudRate,
                              std::uint8_t* dataBits, std::uint8_t* parity, std::uint8_t* stopBits,
                              std::uint8_t* flowControl) {
  Call call(Op::GetUartConfig, device);
  const auto status = call.Enter(device);
  LogIfNull(call.Log(), "baud", baudRate);
  LogIfNull(call.Log(), "dataBits", dataBits);
  LogIfNull(call.Log(), "parity", parity);
  LogIfNull(call.Log(), "stopBits", stopBits);
  LogIfNull(call.Log(), "flowControl", flowControl);
  if (status) return call.Return(*status);
  if (baudRate == nullptr || dataBits == nullptr || parity == nullptr || stopBits == nullptr ||
      flowControl == nullptr) {
    return call.Return(HID_UART_INVALID_PARAMETER);
  }
  const hiduart::UartSetting& written = call.Bridge().written;
  const ReadBack& forced = call.Bridge().setup.readBack;
  *baudRate = forced.baud.value_or(written.baudRate);
  *dataBits = forced.dataBits.value_or(written.dataBits);
  *parity = forced.parity.value_or(written.parity);
  *stopBits = forced.stopBits.value_or(written.stopBits);
  *flowControl = forced.flowControl.value_or(written.flowControl);
  call.Log().Out().Number("baud", *baudRate).Number("dataBits", *dataBits);
  call.Log().Number("parity", *parity).Number("stopBits", *stopBits);
  call.Log().Number("flowControl", *flowControl);
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS SetTimeouts(HID_UART_DEVICE device, std::uint32_t readTimeout,
                            std::uint32_t writeTimeout) {
  Call call(Op::SetTimeouts, device);
  const auto status = call.Enter(device);
  call.Log().Number("readTimeout", readTimeout).Number("writeTimeout", writeTimeout);
  if (status) return call.Return(*status);
  call.Handle().readTimeoutMs = readTimeout;
  call.Handle().writeTimeoutMs = writeTimeout;
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS GetOpenedString(HID_UART_DEVICE device, char* deviceString, std::uint32_t options) {
  Call call(Op::GetOpenedString, device);
  const auto status = call.Enter(device);
  LogIfNull(call.Log(), "deviceString", deviceString);
  call.Log().Number("options", options);
  if (status) return call.Return(*status);
  const auto text = DeviceString(call.Bridge().setup, call.Bridge().position, options);
  if (deviceString == nullptr || !text) return call.Return(HID_UART_INVALID_PARAMETER);
  WriteDeviceString(*text, deviceString, call.Log());
  return call.Return(HID_UART_SUCCESS);
}

HID_UART_STATUS Read(HID_UART_DEVICE device, std::uint8_t* buffer, std::uint32_t numBytesToRead,
                     std::uint32_t* numBytesRead) {
  const Clock::time_point start = Clock::now();
  Call call(Op::Read, device);
  const auto status = call.Enter(device);
  LogIfNull(call.Log(), "buffer", buffer);
  call.Log().Number("numBytesToRead", numBytesToRead);
  if (numBytesRead == nullptr) {
    LogIfNull(call.Log(), "numBytesRead", numBytesRead);
    return call.Return(status.value_or(HID_UART_INVALID_PARAMETER));
  }
  *numBytesRead = 0;
  const auto result = [&](HID_UART_STATUS code, std::uint32_t placed) {
    // A scenario can make the count lie; the buffer never gets more than asked.
    *numBytesRead = call.Bridge().setup.readCount.value_or(placed);
    call.Log().Out().Number("numBytesRead", *numBytesRead).Bytes("data", buffer, placed);
    return call.Return(code);
  };

  if (status && (*status == HID_UART_INVALID_HANDLE || call.Bridge().unplugged)) {
    call.Log().Out().Number("numBytesRead", 0);
    return call.Return(*status);
  }
  if (buffer == nullptr && numBytesToRead > 0) return call.Return(HID_UART_INVALID_PARAMETER);
  Line& line = call.Bridge().line;
  if (status) {
    // Told to fail: hand over what has arrived, without waiting.
    const Nanos now = DeviceTable::LineTime(call.Bridge(), Clock::now());
    return result(*status, line.Take(now, buffer, numBytesToRead));
  }

  const std::uint64_t handleNumber = call.Handle().number;
  const Clock::time_point deadline = start + std::chrono::milliseconds(call.Handle().readTimeoutMs);
  for (;;) {
    const Clock::time_point now = Clock::now();
    call.Table().Advance(now);
    if (call.Bridge().unplugged) {
      call.Log().Out().Number("numBytesRead", 0);
      return call.Return(HID_UART_DEVICE_IO_FAILED);
    }
    const Nanos lineNow = DeviceTable::LineTime(call.Bridge(), now);
    if (line.Available(lineNow) >= numBytesToRead) {
      return result(HID_UART_SUCCESS, line.Take(lineNow, buffer, numBytesToRead));
    }
    if (now >= deadline) {
      return result(HID_UART_READ_TIMED_OUT, line.Take(lineNow, buffer, numBytesToRead));
    }
    // One wake-up for the whole request: when its last byte arrives, unless
    // the time-out or the unplug comes first.
    Clock::time_point wake = deadline;
    if (const auto filled = line.PendingArrival(numBytesToRead)) {
      wake = std::min(wake, *call.Bridge().openedAt + std::chrono::ceil<Clock::duration>(
                                                          std::chrono::nanoseconds(*filled)));
    }
    if (const auto unplug = call.Table().UnplugTime(call.Bridge())) wake = std::min(wake, *unplug);
    call.WaitUntil(wake);
    const HandleState* handle = call.Stale() ? nullptr : call.Table().FindHandle(device);
    if (handle == nullptr || handle->number != handleNumber) {
      // Reset or closed meanwhile: the handle is gone.
      call.Log().Out().Number("numBytesRead", 0);
      return call.Return(HID_UART_INVALID_HANDLE);
    }
  }
}

HID_UART_STATUS Close(HID_UART_DEVICE device) {
  Call call(Op::Close, device);
  const auto status = call.Enter(device);
  if (status == HID_UART_INVALID_HANDLE) return call.Return(*status);
  // A close always lets go of the handle, even when it reports a failure.
  call.Table().CloseHandle(device);
  call.Changed();
  return call.Return(status.value_or(HID_UART_SUCCESS));
}

}  // namespace sim
