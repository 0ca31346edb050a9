// SPDX-License-Identifier: Apache-2.0
#include "device_table.h"

namespace sim {
namespace {

// Handles are small numbers spread out and offset so that they look like
// nothing else; they are never dereferenced.
constexpr std::uintptr_t kHandleBase = 0x5100;
constexpr std::uintptr_t kHandleStep = 0x10;

}  // namespace

BridgeState::BridgeState(const BridgeSetup& declared, std::size_t index)
    : setup(declared),
      position(index),
      attached(!declared.attachAfter && !declared.attachAt),
      line(declared.frames, declared.streams, declared.tags, UartCharTime(kPowerOnSetting)) {}

DeviceTable::DeviceTable(Scenario scenario) : scenario_(std::move(scenario)) {
  bridges_.reserve(scenario_.bridges.size());
  for (std::size_t i = 0; i < scenario_.bridges.size(); ++i) {
    bridges_.emplace_back(scenario_.bridges[i], i);
  }
}

std::optional<Clock::time_point> DeviceTable::UnplugTime(const BridgeState& bridge) const {
  std::optional<Clock::time_point> when;
  if (!bridge.openedAt) return when;
  for (const UnplugRule& rule : bridge.setup.unplugs) {
    if (rule.kind != UnplugRule::Kind::At) continue;
    const Clock::time_point at = *bridge.openedAt + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::nanoseconds(rule.at));
    if (!when || at < *when) when = at;
  }
  return when;
}

Nanos DeviceTable::LineTime(const BridgeState& bridge, Clock::time_point now) {
  if (!bridge.openedAt) return 0;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(now - *bridge.openedAt).count();
}

void DeviceTable::Advance(Clock::time_point now) {
  for (BridgeState& bridge : bridges_) {
    if (bridge.setup.attachAt && !bridge.attached &&
        now >= loadedAt_ + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::nanoseconds(*bridge.setup.attachAt))) {
      bridge.attached = true;
    }
    const auto when = UnplugTime(bridge);
    if (when && now >= *when) bridge.unplugged = true;
  }
}

bool DeviceTable::AfterGlobalCall(Op op, std::uint32_t call) {
  bool unplugged = false;
  for (BridgeState& bridge : bridges_) {
    if (bridge.setup.attachAfter && bridge.setup.attachAfter->op == op &&
        call >= bridge.setup.attachAfter->call) {
      bridge.attached = true;
    }
    unplugged = AfterCall(bridge, op, call) || unplugged;
  }
  return unplugged;
}

bool DeviceTable::AfterCall(BridgeState& bridge, Op op, std::uint32_t call) {
  const bool before = bridge.unplugged;
  for (const UnplugRule& rule : bridge.setup.unplugs) {
    if (rule.kind == UnplugRule::Kind::After && rule.op == op && rule.call == call) {
      bridge.unplugged = true;
    }
    if (rule.kind == UnplugRule::Kind::WhenDrained && op == Op::Read && bridge.line.Drained()) {
      bridge.unplugged = true;
    }
  }
  return bridge.unplugged && !before;
}

std::vector<std::size_t> DeviceTable::Attached(std::uint16_t vid, std::uint16_t pid) const {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < bridges_.size(); ++i) {
    const BridgeState& bridge = bridges_[i];
    if (!bridge.attached || bridge.unplugged) continue;
    if (vid != 0 && bridge.setup.vendorId != vid) continue;
    if (pid != 0 && bridge.setup.productId != pid) continue;
    found.push_back(i);
  }
  return found;
}

void* DeviceTable::OpenHandle(std::size_t bridge, Clock::time_point now) {
  BridgeState& state = bridges_[bridge];
  if (!state.openedAt) state.openedAt = now;
  const std::uint64_t number = ++lastHandle_;
  const std::uintptr_t value = kHandleBase + static_cast<std::uintptr_t>(number) * kHandleStep;
  handles_.emplace(value, HandleState{bridge, number});
  return reinterpret_cast<void*>(value);
}

HandleState* DeviceTable::FindHandle(void* handle) {
  const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == handles_.end() ? nullptr : &found->second;
}

void DeviceTable::CloseHandle(void* handle) {
  handles_.erase(reinterpret_cast<std::uintptr_t>(handle));
}

}  // namespace sim
