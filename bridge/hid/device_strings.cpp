// SPDX-License-Identifier: Apache-2.0
#include "device_strings.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hidbridge {

std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) {
    return out;
  }
  for (; *text != L'\0'; ++text) {
    auto cp = static_cast<uint32_t>(*text);
    // Where wchar_t has 16 bits (Windows), a character beyond the first
    // plane comes as a high surrogate followed by a low one.
    const auto next = static_cast<uint32_t>(text[1]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
      ++text;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000 && (cp < 0xD800 || cp > 0xDFFF)) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp >= 0x10000 && cp <= 0x10FFFF) {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += '?';
    }
  }
  return out;
}

void CopyDeviceString(const std::string& text, char* deviceString) {
  size_t length = std::min<size_t>(text.size(), HID_UART_DEVICE_STRLEN - 1);
  // Step back over continuation bytes when the cut falls inside a character.
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
      --length;
    }
  }
  std::memcpy(deviceString, text.data(), length);
  deviceString[length] = '\0';
}

HID_UART_STATUS OpenFailureStatus(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return HID_UART_DEVICE_NOT_FOUND;
    default:
      return HID_UART_DEVICE_ACCESS_ERROR;
  }
}

}  // namespace hidbridge
