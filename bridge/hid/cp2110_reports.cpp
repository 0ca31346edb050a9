// SPDX-License-Identifier: Apache-2.0
#include "cp2110_reports.h"

#include <algorithm>

namespace hidbridge {

void EncodeUartConfig(const hiduart::UartSetting& config,
                      uint8_t (&report)[kUartConfigReportSize]) {
  report[0] = kUartConfigReportId;
  report[1] = static_cast<uint8_t>(config.baudRate >> 24);
  report[2] = static_cast<uint8_t>(config.baudRate >> 16);
  report[3] = static_cast<uint8_t>(config.baudRate >> 8);
  report[4] = static_cast<uint8_t>(config.baudRate);
  report[5] = config.parity;
  report[6] = config.flowControl;
  report[7] = config.dataBits;
  report[8] = config.stopBits;
}

bool DecodeUartConfig(const uint8_t* report, size_t size, hiduart::UartSetting* config) {
  if (report == nullptr || size < kUartConfigReportSize || report[0] != kUartConfigReportId) {
    return false;
  }
  config->baudRate = static_cast<uint32_t>(report[1]) << 24 |
                     static_cast<uint32_t>(report[2]) << 16 |
                     static_cast<uint32_t>(report[3]) << 8 | static_cast<uint32_t>(report[4]);
  config->parity = report[5];
  config->flowControl = report[6];
  config->dataBits = report[7];
  config->stopBits = report[8];
  return true;
}

bool DecodeVersion(const uint8_t* report, size_t size, uint8_t* partNumber, uint8_t* version) {
  if (report == nullptr || size < kVersionReportSize || report[0] != kVersionReportId) {
    return false;
  }
  *partNumber = report[1];
  *version = report[2];
  return true;
}

DataPayload DataOf(const uint8_t* report, size_t size) {
  if (report == nullptr || size < 2 || report[0] < kFirstDataReportId ||
      report[0] > kLastDataReportId) {
    return {nullptr, 0};
  }
  return {report + 1, std::min<size_t>(report[0], size - 1)};
}

}  // namespace hidbridge
