// SPDX-License-Identifier: Apache-2.0
#include "text/device_text.h"

#include "text/hex.h"

namespace {

// Writes one byte as the printable forms show it; returns the end.
char* PutPrintable(char* out, char byte) {
  const auto value = static_cast<unsigned char>(byte);
  if (value < 0x20 || value == 0x7F) {
    *out++ = '\\';
    *out++ = 'x';
    *out++ = HexDigit(value >> 4);
    *out++ = HexDigit(value);
  } else {
    *out++ = byte;
  }
  return out;
}

}  // namespace

void TerminateDeviceString(DeviceString& text) { text[HID_UART_DEVICE_STRLEN - 1] = '\0'; }

std::string_view DeviceBytes(const char* text) {
  size_t length = 0;
  while (length < HID_UART_DEVICE_STRLEN - 1 && text[length] != '\0') {
    ++length;
  }
  return std::string_view(text, length);
}

PrintableText Printable(const char* text) {
  PrintableText printable{};
  char* out = printable.text;
  for (int i = 0; i < HID_UART_DEVICE_STRLEN - 1 && text[i] != '\0'; ++i) {
    out = PutPrintable(out, text[i]);
  }
  *out = '\0';
  return printable;
}

std::string PrintableString(std::string_view text) {
  std::string printable(4 * text.size(), '\0');
  char* const start = printable.data();
  char* out = start;
  for (const char byte : text) {
    out = PutPrintable(out, byte);
  }
  printable.resize(static_cast<size_t>(out - start));
  return printable;
}
