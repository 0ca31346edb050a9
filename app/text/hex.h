// SPDX-License-Identifier: Apache-2.0
// Upper-case hex digits, as every line of the program writes them.
#ifndef KESTRUNE_APP_TEXT_HEX_H
#define KESTRUNE_APP_TEXT_HEX_H

#include <cstddef>
#include <cstdint>

/// The digit of a value's low four bits.
inline char HexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

/// Writes count bytes as 2 * count digits from out on (no NUL); returns the
/// end.
inline char* PutHexBytes(char* out, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    *out++ = HexDigit(bytes[i] >> 4);
    *out++ = HexDigit(bytes[i]);
  }
  return out;
}

#endif
