// SPDX-License-Identifier: Apache-2.0
#include "text/status_text.h"

#include <gtest/gtest.h>

#include "bridge_harness.h"

namespace {

TEST(StatusText, EveryCodeHasItsTextAndAllOthersAreUnknown) {
  for (HID_UART_STATUS code = -2; code <= 0x101; ++code) {
    EXPECT_EQ(StatusText(code), harness::ExpectedStatusText(code))
        << "status 0x" << std::hex << code;
  }
  EXPECT_EQ(StatusText(INT32_MIN), "Unknown status");
}

}  // namespace
