// SPDX-License-Identifier: Apache-2.0
#include "output/block_report.h"

#include <algorithm>
#include <cstdio>

#include "output/output.h"
#include "text/block_value.h"
#include "text/device_text.h"
#include "text/hex.h"

namespace {

// Bytes turned into hex text per formatted print; a whole block fits in one.
constexpr int kHexChunk = 1000;
static_assert(kHexChunk >= static_cast<int>(kMaxBlockSize));

}  // namespace

void ReportBlock(const char* serial, const uint8_t* bytes, int count, const char* timestamp,
                 const char* name) {
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
    *PutHexBytes(hex, bytes + start, static_cast<size_t>(length)) = '\0';
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
