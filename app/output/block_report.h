// SPDX-License-Identifier: Apache-2.0
// The report of one block of bytes received from a bridge.
#ifndef KESTRUNE_APP_BLOCK_REPORT_H
#define KESTRUNE_APP_BLOCK_REPORT_H

#include <cstdint>

#include "text/block_value.h"

/// Prints the five-line report of a block: a header with the bridge's serial
/// string and the byte count, the bytes in hex, their last eight bytes as a
/// big-endian 64-bit value (BlockValue), its ten-digit decimal (BlockDecimal), and a closing line;
/// then flushes standard output so that a report is never held back in a buffer. count is 1 or
/// more. A timestamp, when given, starts the header line, followed by one space; a reader's name,
/// when given, follows the serial string in parentheses.
void ReportBlock(const char* serial, const uint8_t* bytes, int count,
                 const char* timestamp = nullptr, const char* name = nullptr);

#endif
