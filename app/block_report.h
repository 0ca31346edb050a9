// SPDX-License-Identifier: Apache-2.0
// The report of one block of bytes received from a bridge.
#ifndef KESTRUNE_APP_BLOCK_REPORT_H
#define KESTRUNE_APP_BLOCK_REPORT_H

#include <cstdint>

/// A block's value: its last eight bytes (fewer when it is shorter) as a
/// big-endian 64-bit number.
uint64_t BlockValue(const uint8_t* bytes, int count);

/// The block's ten-digit decimal: bits 16 to 47 of its value.
inline uint32_t BlockDecimal(uint64_t value) { return static_cast<uint32_t>(value >> 16); }

/// Prints the five-line report of a block: a header with the bridge's serial
/// string and the byte count, the bytes in hex, their last eight bytes as a
/// big-endian 64-bit value, bits 16 to 47 of that value as a ten-digit
/// decimal, and a closing line; then flushes standard output so that a
/// report is never held back in a buffer. count is 1 or more. A timestamp,
/// when given, starts the header line, followed by one space; a reader's
/// name, when given, follows the serial string in parentheses.
void ReportBlock(const char* serial, const uint8_t* bytes, int count,
                 const char* timestamp = nullptr, const char* name = nullptr);

#endif
