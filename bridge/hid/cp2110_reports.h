// SPDX-License-Identifier: Apache-2.0
// The CP2110's HID reports: how UART data and the chip's settings travel
// between the host and the bridge. Pure encoding and decoding, no I/O.
#ifndef KESTRUNE_BRIDGE_HID_CP2110_REPORTS_H
#define KESTRUNE_BRIDGE_HID_CP2110_REPORTS_H

#include <cstddef>
#include <cstdint>

#include "hid_uart_values.h"

namespace hidbridge {

/// USB identifiers a bridge carries unless it was reprogrammed.
constexpr uint16_t kDefaultVendorId = 0x10C4;
constexpr uint16_t kDefaultProductId = 0xEA80;

/// Report IDs. Data reports use IDs 1 to 63; the ID is the number of data
/// bytes that follow it.
constexpr uint8_t kFirstDataReportId = 0x01;
constexpr uint8_t kLastDataReportId = 0x3F;
constexpr uint8_t kUartEnableReportId = 0x41;
constexpr uint8_t kPurgeFifosReportId = 0x43;
constexpr uint8_t kVersionReportId = 0x46;
constexpr uint8_t kUartConfigReportId = 0x50;

/// Largest report on the wire, ID included.
constexpr size_t kMaxReportSize = 64;

/// Value of report 0x43 that empties the receive FIFO.
constexpr uint8_t kPurgeReceiveFifo = 0x02;

/// The most input reports a system keeps for one open device before it drops
/// some: hidraw keeps 64, and the library asks Windows to keep 512.
constexpr int kMaxQueuedReports = 512;

/// Feature report 0x50 as sent: ID, baud rate (most significant byte first),
/// parity, flow control, data bits, stop bits.
constexpr size_t kUartConfigReportSize = 9;
void EncodeUartConfig(const hiduart::UartSetting& config, uint8_t (&report)[kUartConfigReportSize]);

/// Decodes feature report 0x50 as received, ID first. False when the report
/// is too short or carries another ID.
bool DecodeUartConfig(const uint8_t* report, size_t size, hiduart::UartSetting* config);

/// Feature report 0x46: part number and device version.
constexpr size_t kVersionReportSize = 3;
bool DecodeVersion(const uint8_t* report, size_t size, uint8_t* partNumber, uint8_t* version);

/// The UART data carried by an input report.
struct DataPayload {
  const uint8_t* bytes;
  size_t size;
};

/// The data bytes of an input report, ID first. A report with another ID
/// carries no data (size 0); a report shorter than its ID announces gives
/// only the bytes that are there.
DataPayload DataOf(const uint8_t* report, size_t size);

}  // namespace hidbridge

#endif
