// SPDX-License-Identifier: Apache-2.0
// What the unit tests of the program share around the in-memory bridge:
// starting afresh, running the sweep, the lines the program prints for the
// bridge's default identity, and the calls a connection makes.
#ifndef KESTRUNE_TESTS_SUPPORT_BRIDGE_HARNESS_H
#define KESTRUNE_TESTS_SUPPORT_BRIDGE_HARNESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_bridge.h"
#include "hid_uart_values.h"
#include "library/connection.h"
#include "report_model.h"

namespace harness {

using fake::AddBridge;
using reports::Shown;

/// The line setting every connection writes.
inline constexpr hiduart::UartSetting kLineSetting = kConnectionLineSetting;

/// The version lines for the in-memory bridge's default versions.
extern const char* const kVersionLines;

/// The version lines and the count line of a sweep or a station.
std::string CountLine(int count);

/// Starts afresh: an empty in-memory bridge and a zero-filled record.
void Reset();

/// Runs the whole sweep and returns what it printed.
std::string Sweep();

/// The status texts the operator sees, from the library's list of codes.
std::string ExpectedStatusText(int64_t status);

/// The five identity lines of a connection, by default those of the
/// in-memory bridge.
std::string IdentityLines(const std::string& vendorId = fake::kVendorId,
                          const std::string& productId = fake::kProductId,
                          const std::string& path = fake::kPath,
                          const std::string& manufacturer = fake::kManufacturer,
                          const std::string& product = fake::kProduct);

/// The six lines of a connection: the identity, then "Connected to".
std::string ConnectedLines(const std::string& serial,
                           const std::string& identity = IdentityLines());

/// The five-line report of one block.
std::string BlockLines(const std::string& serial, const std::vector<uint8_t>& bytes);

/// The in-memory bridge's record of a connection writing the line setting,
/// and of setting the time-outs, through a handle.
std::string SettingCall(size_t handle);
std::string TimeoutsCall(size_t handle,
                         std::chrono::milliseconds readTimeout = kConnectionReadTimeout);

}  // namespace harness

#endif
