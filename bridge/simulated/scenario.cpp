// SPDX-License-Identifier: Apache-2.0
#include "scenario.h"

#include <array>

#include "hid_uart_values.h"

namespace sim {
namespace {

struct OpNames {
  std::string_view scenario;
  std::string_view function;
};

constexpr std::array<OpNames, kOpCount> kOpNames{{
    {"get-library-version", "HidUart_GetLibraryVersion"},
    {"get-hid-library-version", "HidUart_GetHidLibraryVersion"},
    {"get-num-devices", "HidUart_GetNumDevices"},
    {"get-string", "HidUart_GetString"},
    {"open", "HidUart_Open"},
    {"get-part-number", "HidUart_GetPartNumber"},
    {"set-uart-config", "HidUart_SetUartConfig"},
    {"get-uart-config", "HidUart_GetUartConfig"},
    {"set-timeouts", "HidUart_SetTimeouts"},
    {"get-opened-string", "HidUart_GetOpenedString"},
    {"read", "HidUart_Read"},
    {"close", "HidUart_Close"},
}};

}  // namespace

std::string_view OpName(Op op) { return kOpNames[static_cast<std::size_t>(op)].scenario; }

std::string_view OpFunction(Op op) { return kOpNames[static_cast<std::size_t>(op)].function; }

std::optional<Op> OpFromName(std::string_view name) {
  for (std::size_t i = 0; i < kOpCount; ++i) {
    if (kOpNames[i].scenario == name) return static_cast<Op>(i);
  }
  return std::nullopt;
}

bool IsGlobalOp(Op op) {
  return op == Op::GetLibraryVersion || op == Op::GetHidLibraryVersion || op == Op::GetNumDevices;
}

std::optional<std::string> DeviceString(const BridgeSetup& bridge, std::size_t position,
                                        std::uint32_t kind) {
  switch (kind) {
    case 1:
      return bridge.vendorIdText ? *bridge.vendorIdText : hiduart::UsbIdText(bridge.vendorId);
    case 2:
      return bridge.productIdText ? *bridge.productIdText : hiduart::UsbIdText(bridge.productId);
    case 3:
      return bridge.path ? *bridge.path : "sim:bridge/" + std::to_string(position);
    case 4:
      return bridge.serial;
    case 5:
      return bridge.manufacturer;
    case 6:
      return bridge.product;
    default:
      return std::nullopt;
  }
}

std::optional<std::int32_t> InjectedFailure(const std::vector<FailRule>& rules, Op op,
                                            std::uint32_t call) {
  for (const FailRule& rule : rules) {
    if (rule.op == op && (rule.call == 0 || rule.call == call)) return rule.status;
  }
  return std::nullopt;
}

}  // namespace sim
