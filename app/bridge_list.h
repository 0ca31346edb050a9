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

/// The most bridge indexes ListBridges walks: far more than a machine
/// attaches (a USB bus takes 127 devices, hubs included). A library that
/// counts more is shown with its count, and only these are listed, so that a
/// count of billions still ends the listing at once.
constexpr uint32_t kMaxListedBridges = 1024;

/// For --list: the file the bridge library was loaded from, its two version
/// reports and the bridge count, then each bridge by index with the strings
/// HidUart_GetString gives without opening it. Opens nothing and writes no
/// setting; every failing call is said on its line.
void ListBridges();

#endif
