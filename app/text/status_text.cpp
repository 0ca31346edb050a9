// SPDX-License-Identifier: Apache-2.0
#include "text/status_text.h"

namespace {

struct StatusRow {
  HID_UART_STATUS code;
  const char* text;
};

constexpr StatusRow kStatusTexts[] = {
    {HID_UART_SUCCESS, "Success"},
    {HID_UART_DEVICE_NOT_FOUND, "Device not found"},
    {HID_UART_INVALID_HANDLE, "Invalid handle"},
    {HID_UART_INVALID_DEVICE_OBJECT, "Invalid device object"},
    {HID_UART_INVALID_PARAMETER, "Invalid parameter"},
    {HID_UART_INVALID_REQUEST_LENGTH, "Invalid request length"},
    {HID_UART_READ_ERROR, "Read error"},
    {HID_UART_WRITE_ERROR, "Write error"},
    {HID_UART_READ_TIMED_OUT, "Read timed out"},
    {HID_UART_WRITE_TIMED_OUT, "Write timed out"},
    {HID_UART_DEVICE_IO_FAILED, "Device I/O failed"},
    {HID_UART_DEVICE_ACCESS_ERROR, "Device access error"},
    {HID_UART_DEVICE_NOT_SUPPORTED, "Device not supported"},
    {HID_UART_UNKNOWN_ERROR, "Unknown error"},
};

}  // namespace

std::string StatusText(HID_UART_STATUS code) {
  std::string text = "Unknown status";
  for (const StatusRow& row : kStatusTexts) {
    if (row.code == code) {
      text = row.text;
    }
  }
  return text;
}
