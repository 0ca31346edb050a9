// SPDX-License-Identifier: Apache-2.0
// The CP2110's feature-report requests, made on an opened device.
#ifndef KESTRUNE_BRIDGE_HID_CP2110_REQUESTS_H
#define KESTRUNE_BRIDGE_HID_CP2110_REQUESTS_H

#include <cstdint>

#include "cp2110_reports.h"
#include "hid_device.h"

namespace hidbridge {

/// Fetches feature report reportId into report. Returns its size, ID
/// included; a negative value when the device refused or is gone.
int GetFeature(HidDevice& device, uint8_t reportId, uint8_t (&report)[kMaxReportSize]);

/// Turns the UART on or off: it carries data only while enabled. False when
/// the device refused or is gone.
bool SetUartEnabled(HidDevice& device, bool enabled);

/// Empties the bridge's receive FIFO and drops the input reports already
/// queued for this open: a run stopped with Ctrl+C leaves the UART enabled,
/// and what it received since is not new data for this one. False when the
/// purge request failed.
bool PurgeReceived(HidDevice& device);

}  // namespace hidbridge

#endif
