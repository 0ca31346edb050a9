// SPDX-License-Identifier: Apache-2.0
#include "block_report.h"

#include <algorithm>
#include <cstdio>

#include "device_text.h"
#include "output.h"

namespace {

// Bytes turned into hex text per formatted print; a whole read fits in one.
constexpr int kHexChunk = 1000;

}  // namespace

uint64_t BlockValue(const uint8_t* bytes, int count) {
  // Each byte pushes the earlier ones up and out past bit 63.
  uint64_t value = 0;
  for (int i = count > 8 ? count - 8 : 0; i < count; ++i) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

void ReportBlock(const char* serial, const uint8_t* bytes, int count, const char* timestamp,
                 const char* name) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";

  if (timestamp != nullptr) {
    Print("%s ", timestamp);
  }
  if (name != nullptr) {
    Print(">>>[DATA FROM %s (%s), %d BYTE]\n", Printable(serial).text, name, count);
  } else {
    Print(">>>[DATA FROM %s, %d BYTE]\n", Printable(serial).text, count);
  }

  Print("  0x");
  char hex[2 * kHexChunk + 1];
  for (int start = 0; start < count; start += kHexChunk) {
    const int length = std::min(kHexChunk, count - start);
    for (int i = 0; i < length; ++i) {
      const uint8_t byte = bytes[start + i];
      hex[2 * i] = kHexDigits[byte >> 4];
      hex[2 * i + 1] = kHexDigits[byte & 0x0F];
    }
    hex[2 * length] = '\0';
    Print("%s", hex);
  }
  Print("\n");

  const uint64_t value = BlockValue(bytes, count);
  const uint32_t decimal = BlockDecimal(value);
  Print("  HEX (64-bit): %016llX\n", static_cast<unsigned long long>(value));
  Print("  Decimal (10 Digits): %010llu\n", static_cast<unsigned long long>(decimal));
  Print("<<<\n");
  FlushOutput();
}
