// SPDX-License-Identifier: Apache-2.0
// The built library itself, bound like the program binds it: the exported
// names forward to the simulation, which reads its scenario and call log
// from the environment set by the test's properties.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "hid_uart.h"

namespace {

TEST(SharedLibrary, PlaysTheScenarioNamedByTheEnvironment) {
  std::uint8_t major = 0, minor = 0;
  HID_UART_BOOL release = 0;
  EXPECT_EQ(HidUart_GetLibraryVersion(&major, &minor, &release), HID_UART_SUCCESS);
  EXPECT_EQ(major * 100 + minor, 614);
  std::uint32_t count = 0;
  ASSERT_EQ(HidUart_GetNumDevices(&count, 0, 0), HID_UART_SUCCESS);
  EXPECT_EQ(count, 2u);
  char serial[HID_UART_DEVICE_STRLEN] = {};
  EXPECT_EQ(HidUart_GetString(0, 0, 0, serial, HID_UART_GET_SERIAL_STR), HID_UART_SUCCESS);
  EXPECT_STREQ(serial, "SIM-A1");
  HID_UART_DEVICE device = nullptr;
  ASSERT_EQ(HidUart_Open(&device, 0, 0, 0), HID_UART_SUCCESS);
  EXPECT_EQ(HidUart_SetTimeouts(device, 5000, 2000), HID_UART_SUCCESS);
  std::uint8_t buffer[5] = {};
  std::uint32_t read = 0;
  EXPECT_EQ(HidUart_Read(device, buffer, 5, &read), HID_UART_SUCCESS);
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(buffer[0], 0x12);
  EXPECT_EQ(buffer[4], 0x9A);
  EXPECT_EQ(HidUart_Close(device), HID_UART_SUCCESS);

  const char* log = std::getenv("HIDUART_SIM_LOG");
  ASSERT_NE(log, nullptr);
  std::ifstream in(log);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  EXPECT_EQ(last, "HidUart_Close handle=1 -> 0x00");
}

}  // namespace
