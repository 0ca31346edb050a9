// SPDX-License-Identifier: Apache-2.0
#include "device_strings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "hid_uart_values.h"

namespace hidbridge {
namespace {

TEST(UsbIdText, FourUpperCaseDigits) {
  EXPECT_EQ(hiduart::UsbIdText(0x10C4), "10C4");
  EXPECT_EQ(hiduart::UsbIdText(0xEA80), "EA80");
  EXPECT_EQ(hiduart::UsbIdText(0x000A), "000A");
}

TEST(WideToUtf8, EncodesEveryPlaneAndReplacesWhatCannotBeEncoded) {
  EXPECT_EQ(WideToUtf8(nullptr), "");
  EXPECT_EQ(WideToUtf8(L"S1"), "S1");
  EXPECT_EQ(WideToUtf8(L"\u00e9\u20ac\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  // A surrogate that is not half of a pair cannot be encoded.
  const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', static_cast<wchar_t>(0xDC00),
                          0};
  EXPECT_EQ(WideToUtf8(lone), "a?b?");
  const wchar_t last[] = {L'a', static_cast<wchar_t>(0xDBFF), 0};
  EXPECT_EQ(WideToUtf8(last), "a?");
}

// A device string is 260 bytes; the byte after it must never be written.
struct GuardedString {
  char text[HID_UART_DEVICE_STRLEN];
  char guard[16];
};

TEST(CopyDeviceString, FitsTheCallersBufferWhateverTheLength) {
  for (const size_t length : {size_t{0}, size_t{258}, size_t{259}, size_t{260}, size_t{5000}}) {
    GuardedString out;
    std::memset(&out, 'G', sizeof out);
    CopyDeviceString(std::string(length, 'x'), out.text);
    const size_t kept = std::min<size_t>(length, HID_UART_DEVICE_STRLEN - 1);
    EXPECT_EQ(std::strlen(out.text), kept) << length;
    EXPECT_EQ(std::string(out.guard, sizeof out.guard), std::string(sizeof out.guard, 'G'));
  }
}

TEST(CopyDeviceString, CutsLongTextBetweenCharacters) {
  // 258 ASCII bytes and a three-byte character: the character does not fit
  // in 259 bytes and is left out whole.
  const std::string text = std::string(258, 'x') + "\xE2\x82\xAC" + "tail";
  char out[HID_UART_DEVICE_STRLEN];
  CopyDeviceString(text, out);
  EXPECT_EQ(std::string(out), std::string(258, 'x'));
}

TEST(OpenFailureStatus, TellsMissingFromForbidden) {
  EXPECT_EQ(OpenFailureStatus(ENOENT), HID_UART_DEVICE_NOT_FOUND);
  EXPECT_EQ(OpenFailureStatus(ENODEV), HID_UART_DEVICE_NOT_FOUND);
  EXPECT_EQ(OpenFailureStatus(EACCES), HID_UART_DEVICE_ACCESS_ERROR);
  EXPECT_EQ(OpenFailureStatus(EPERM), HID_UART_DEVICE_ACCESS_ERROR);
  EXPECT_EQ(OpenFailureStatus(EBUSY), HID_UART_DEVICE_ACCESS_ERROR);
}

}  // namespace
}  // namespace hidbridge
