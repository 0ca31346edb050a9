// SPDX-License-Identifier: Apache-2.0
#include "text/block_value.h"

uint64_t BlockValue(const uint8_t* bytes, int count) {
  // Each byte pushes the earlier ones up and out past bit 63.
  uint64_t value = 0;
  for (int i = count > 8 ? count - 8 : 0; i < count; ++i) {
    value = (value << 8) | bytes[i];
  }
  return value;
}
