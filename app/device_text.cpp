#include "device_text.h"

void TerminateDeviceString(DeviceString& text) { text[HID_UART_DEVICE_STRLEN - 1] = '\0'; }

PrintableText Printable(const char* text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  PrintableText printable{};
  char* out = printable.text;
  for (int i = 0; i < HID_UART_DEVICE_STRLEN - 1 && text[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      *out++ = '\\';
      *out++ = 'x';
      *out++ = kHexDigits[byte >> 4];
      *out++ = kHexDigits[byte & 0x0F];
    } else {
      *out++ = text[i];
    }
  }
  *out = '\0';
  return printable;
}
