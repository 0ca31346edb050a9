// SPDX-License-Identifier: Apache-2.0
// What the bridge library tells about itself and the bridges attached.
#ifndef KESTRUNE_APP_BRIDGE_LIST_H
#define KESTRUNE_APP_BRIDGE_LIST_H

#include <cstdint>
#include <string>
#include <vector>

/// Prints the two library version lines.
void ReportLibraryVersions();

/// The serial string of each of the first count bridge indexes, in index
/// order; an index whose string cannot be had is left out.
std::vector<std::string> CollectSerials(uint32_t count);

#endif
