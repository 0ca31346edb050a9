// SPDX-License-Identifier: Apache-2.0
// The open library's operations where no bridge is attached: lookups fail
// with "not found", and bad handles or arguments are refused, never followed.
#include <gtest/gtest.h>

#include <cstring>

#include "hid_uart.h"

namespace {

// An identifier pair no device carries, so the results do not depend on what
// is plugged into the machine running the tests.
constexpr uint16_t kNoVendor = 0xFFFE;
constexpr uint16_t kNoProduct = 0xFFFD;

TEST(OpenLibrary, ReportsItsOwnAndHidapisVersions) {
  uint8_t major = 0xEE;
  uint8_t minor = 0xEE;
  HID_UART_BOOL release = -1;
  EXPECT_EQ(HidUart_GetLibraryVersion(&major, &minor, &release), HID_UART_SUCCESS);
  EXPECT_TRUE(release == 0 || release == 1);
  EXPECT_EQ(HidUart_GetHidLibraryVersion(&major, &minor, &release), HID_UART_SUCCESS);
  EXPECT_EQ(major, 0);
  EXPECT_GE(minor, 13);
  EXPECT_EQ(HidUart_GetLibraryVersion(nullptr, &minor, &release), HID_UART_INVALID_PARAMETER);
}

TEST(OpenLibrary, AbsentBridgesAreNotFound) {
  uint32_t count = 99;
  ASSERT_EQ(HidUart_GetNumDevices(&count, kNoVendor, kNoProduct), HID_UART_SUCCESS);
  EXPECT_EQ(count, 0u);

  char text[HID_UART_DEVICE_STRLEN];
  std::strcpy(text, "untouched");
  EXPECT_EQ(HidUart_GetString(0, kNoVendor, kNoProduct, text, HID_UART_GET_SERIAL_STR),
            HID_UART_DEVICE_NOT_FOUND);
  EXPECT_STREQ(text, "untouched");

  HID_UART_DEVICE device = nullptr;
  EXPECT_EQ(HidUart_Open(&device, 0, kNoVendor, kNoProduct), HID_UART_DEVICE_NOT_FOUND);
}

TEST(OpenLibrary, BadArgumentsAreRefused) {
  EXPECT_EQ(HidUart_GetNumDevices(nullptr, 0, 0), HID_UART_INVALID_PARAMETER);
  char text[HID_UART_DEVICE_STRLEN];
  EXPECT_EQ(HidUart_GetString(0, 0, 0, nullptr, HID_UART_GET_SERIAL_STR),
            HID_UART_INVALID_PARAMETER);
  EXPECT_EQ(HidUart_GetString(0, 0, 0, text, 0), HID_UART_INVALID_PARAMETER);
  EXPECT_EQ(HidUart_GetString(0, 0, 0, text, 7), HID_UART_INVALID_PARAMETER);
  EXPECT_EQ(HidUart_Open(nullptr, 0, 0, 0), HID_UART_INVALID_PARAMETER);
}

TEST(OpenLibrary, HandlesItNeverGaveAreInvalid) {
  uint8_t bytes[16];
  uint32_t count = 77;
  uint32_t baud = 0;
  uint8_t a = 0, b = 0, c = 0, d = 0;
  char text[HID_UART_DEVICE_STRLEN];
  for (HID_UART_DEVICE handle :
       {static_cast<HID_UART_DEVICE>(nullptr), static_cast<HID_UART_DEVICE>(&count),
        reinterpret_cast<HID_UART_DEVICE>(uintptr_t{1})}) {
    EXPECT_EQ(HidUart_GetPartNumber(handle, &a, &b), HID_UART_INVALID_HANDLE);
    EXPECT_EQ(HidUart_SetUartConfig(handle, 9600, 3, 0, 0, 0), HID_UART_INVALID_HANDLE);
    EXPECT_EQ(HidUart_GetUartConfig(handle, &baud, &a, &b, &c, &d), HID_UART_INVALID_HANDLE);
    EXPECT_EQ(HidUart_SetTimeouts(handle, 200, 2000), HID_UART_INVALID_HANDLE);
    EXPECT_EQ(HidUart_GetOpenedString(handle, text, HID_UART_GET_PATH_STR),
              HID_UART_INVALID_HANDLE);
    EXPECT_EQ(HidUart_Read(handle, bytes, sizeof bytes, &count), HID_UART_INVALID_HANDLE);
    EXPECT_EQ(HidUart_Close(handle), HID_UART_INVALID_HANDLE);
  }
}

}  // namespace
