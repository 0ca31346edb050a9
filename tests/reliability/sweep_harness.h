// SPDX-License-Identifier: Apache-2.0
// What the tests of the whole sweep share: running it against the in-memory
// bridge, the text it should print, and the handle bookkeeping it must keep.
#ifndef KESTRUNE_TESTS_RELIABILITY_SWEEP_HARNESS_H
#define KESTRUNE_TESTS_RELIABILITY_SWEEP_HARNESS_H

#include <cstdint>
#include <string>
#include <vector>

#include "fake_bridge.h"
#include "report_model.h"

namespace harness {

/// The version lines for the in-memory bridge's default versions.
extern const char* const kVersionLines;

/// Starts afresh: an empty in-memory bridge and a zero-filled record.
void Reset();

/// Adds an attached bridge with that serial string; the reference holds
/// until the next bridge is added.
fake::Bridge& AddBridge(const std::string& serial);

/// Runs the whole sweep and returns what it printed.
std::string Sweep();

using reports::Shown;

/// The status texts the operator sees, from the library's list of codes.
std::string ExpectedStatusText(int64_t status);

/// The six lines of a connection with the in-memory bridge's default
/// identity, optionally with other identity strings.
std::string ConnectedLines(const std::string& serial, const std::string& vendorId = "10C4",
                           const std::string& productId = "EA80",
                           const std::string& path = "fake/0",
                           const std::string& manufacturer = "Maker",
                           const std::string& product = "Bridge");

/// The five-line report of one block.
std::string BlockLines(const std::string& serial, const std::vector<uint8_t>& bytes);

/// Empty when every handle that was opened was closed exactly once and
/// nothing else was closed; else what went wrong.
std::string HandleProblems();

}  // namespace harness

#endif
