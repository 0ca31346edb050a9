// SPDX-License-Identifier: Apache-2.0
// What the bridge library tells about itself and the bridges attached.
#ifndef KESTRUNE_APP_BRIDGE_LIST_H
#define KESTRUNE_APP_BRIDGE_LIST_H

#include <cstdint>
#include <string>
#include <vector>

/// Prints the two library version lines.
void ReportLibraryVersions();

/// The most bridge indexes a run asks about: more than any machine can
/// attach, so that a library claiming billions of bridges can neither
/// exhaust memory nor keep a run, or each connection, asking for ever.
constexpr uint32_t kMaxBridgeIndexes = uint32_t{1} << 16;

/// The serial string of each of the first count bridge indexes (at most
/// kMaxBridgeIndexes), in index order; an index whose string cannot be had
/// is left out.
std::vector<std::string> CollectSerials(uint32_t count);

#endif
