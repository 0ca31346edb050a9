// SPDX-License-Identifier: Apache-2.0
#include "cp2110_requests.h"

namespace hidbridge {

int GetFeature(HidDevice& device, uint8_t reportId, uint8_t (&report)[kMaxReportSize]) {
  report[0] = reportId;
  return device.GetFeatureReport(report, sizeof report);
}

bool SetUartEnabled(HidDevice& device, bool enabled) {
  const uint8_t report[] = {kUartEnableReportId, static_cast<uint8_t>(enabled ? 1 : 0)};
  return device.SendFeatureReport(report, sizeof report);
}

bool PurgeReceived(HidDevice& device) {
  const uint8_t report[] = {kPurgeFifosReportId, kPurgeReceiveFifo};
  if (!device.SendFeatureReport(report, sizeof report)) {
    return false;
  }
  uint8_t stale[kMaxReportSize];
  for (int i = 0; i < kMaxQueuedReports && device.ReadInputReport(stale, sizeof stale, 0) > 0;
       ++i) {
  }
  return true;
}

}  // namespace hidbridge
