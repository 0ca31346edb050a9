// SPDX-License-Identifier: Apache-2.0
// --list: what the bridge library tells of itself and of each bridge, with
// nothing opened.
#ifndef KESTRUNE_APP_MODES_LISTING_H
#define KESTRUNE_APP_MODES_LISTING_H

#include <cstdint>

/// The most bridge indexes ListBridges walks: far more than a machine
/// attaches (a USB bus takes 127 devices, hubs included). A library that
/// counts more is shown with its count, and only these are listed, so that a
/// count of billions still ends the listing at once.
constexpr uint32_t kMaxListedBridges = 1024;

/// The file the bridge library was loaded from, its two version reports and
/// the bridge count, then each bridge by index with the strings
/// HidUart_GetString gives without opening it. Writes no setting; every
/// failing call is said on its line.
void ListBridges();

#endif
