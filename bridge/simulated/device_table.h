// SPDX-License-Identifier: Apache-2.0
// The bridges of a loaded scenario as the host sees them: which are attached
// now, their enumeration order, the open handles, per-call counters and the
// moments at which bridges appear and disappear.
#ifndef KESTRUNE_BRIDGE_SIMULATED_DEVICE_TABLE_H
#define KESTRUNE_BRIDGE_SIMULATED_DEVICE_TABLE_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "hid_uart_values.h"
#include "line.h"
#include "scenario.h"

namespace sim {

using Clock = std::chrono::steady_clock;

struct BridgeState {
  BridgeState(const BridgeSetup& setup, std::size_t position);

  BridgeSetup setup;
  std::size_t position;  // in the scenario, for the default path
  bool attached;         // false until its attach condition is met
  bool unplugged = false;
  std::optional<Clock::time_point> openedAt;  // first open: the line's time 0
  Line line;
  // The setting the line runs at; the read-back overrides change only what
  // GetUartConfig reports.
  hiduart::UartSetting written = kPowerOnSetting;
  std::array<std::uint32_t, kOpCount> calls{};
};

struct HandleState {
  std::size_t bridge;  // index in DeviceTable::Bridges()
  std::uint64_t number;
  std::uint32_t readTimeoutMs = 1000;
  std::uint32_t writeTimeoutMs = 1000;
};

class DeviceTable {
 public:
  explicit DeviceTable(Scenario scenario);

  const Scenario& GetScenario() const { return scenario_; }
  std::vector<BridgeState>& Bridges() { return bridges_; }

  /// Attaches and unplugs the bridges whose time has come by `now`.
  void Advance(Clock::time_point now);
  /// When the bridge is due to be unplugged by time, if ever.
  std::optional<Clock::time_point> UnplugTime(const BridgeState& bridge) const;
  /// Time on the bridge's line; 0 before its first open.
  static Nanos LineTime(const BridgeState& bridge, Clock::time_point now);

  /// Counts a call of a global operation and returns its number, from 1.
  std::uint32_t CountGlobalCall(Op op) { return ++globalCalls_[static_cast<std::size_t>(op)]; }
  /// Attaches and unplugs the bridges waiting for this call; true when a
  /// bridge was unplugged.
  bool AfterGlobalCall(Op op, std::uint32_t call);
  /// Counts a call of a per-bridge operation on `bridge`.
  static std::uint32_t CountCall(BridgeState& bridge, Op op) {
    return ++bridge.calls[static_cast<std::size_t>(op)];
  }
  /// Unplugs `bridge` if this call is one of its unplug conditions; true
  /// when it did.
  static bool AfterCall(BridgeState& bridge, Op op, std::uint32_t call);

  /// Attached bridges matching the identifier filters (0 matches any), in
  /// enumeration order.
  std::vector<std::size_t> Attached(std::uint16_t vid, std::uint16_t pid) const;

  void* OpenHandle(std::size_t bridge, Clock::time_point now);
  HandleState* FindHandle(void* handle);
  void CloseHandle(void* handle);

 private:
  Scenario scenario_;
  std::vector<BridgeState> bridges_;
  std::array<std::uint32_t, kOpCount> globalCalls_{};
  std::map<std::uintptr_t, HandleState> handles_;
  std::uint64_t lastHandle_ = 0;
  Clock::time_point loadedAt_ = Clock::now();  // for `attach at`
};

}  // namespace sim

#endif
