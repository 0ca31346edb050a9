// SPDX-License-Identifier: Apache-2.0
#include "text/status_text.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TEST(StatusText, EveryCodeHasItsTextAndAllOthersAreUnknown) {
  const std::map<HID_UART_STATUS, std::string> known = {
      {0x00, "Success"},
      {0x01, "Device not found"},
      {0x02, "Invalid handle"},
      {0x03, "Invalid device object"},
      {0x04, "Invalid parameter"},
      {0x05, "Invalid request length"},
      {0x10, "Read error"},
      {0x11, "Write error"},
      {0x12, "Read timed out"},
      {0x13, "Write timed out"},
      {0x14, "Device I/O failed"},
      {0x15, "Device access error"},
      {0x16, "Device not supported"},
      {0xFF, "Unknown error"},
  };
  for (HID_UART_STATUS code = -2; code <= 0x101; ++code) {
    const auto found = known.find(code);
    const std::string expected = found == known.end() ? "Unknown status" : found->second;
    EXPECT_EQ(StatusText(code), expected) << "status 0x" << std::hex << code;
  }
  EXPECT_EQ(StatusText(INT32_MIN), "Unknown status");
}

}  // namespace
