// SPDX-License-Identifier: Apache-2.0
// The numbers a block of received bytes stands for.
#ifndef KESTRUNE_APP_TEXT_BLOCK_VALUE_H
#define KESTRUNE_APP_TEXT_BLOCK_VALUE_H

#include <cstdint>

/// The largest block ever reported: framing cuts a longer one there.
constexpr uint32_t kMaxBlockSize = 1000;

/// A block's value: its last eight bytes (fewer when it is shorter) as a
/// big-endian 64-bit number; 0 for an empty block.
uint64_t BlockValue(const uint8_t* bytes, int count);

/// The block's ten-digit decimal: bits 16 to 47 of its value.
inline uint32_t BlockDecimal(uint64_t value) { return static_cast<uint32_t>(value >> 16); }

#endif
