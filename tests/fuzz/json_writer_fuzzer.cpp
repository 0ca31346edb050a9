// SPDX-License-Identifier: Apache-2.0
// Checks the JSON writer against a real parser: every byte string, written
// as a device string field and as a block's hex, makes one line that the
// parser accepts as an object, with the fields in order, and that decodes
// back to those bytes: the string itself when the bytes are valid UTF-8,
// else its hex sibling, with the string then holding the bytes with each
// invalid one as U+FFFD. The line holds no raw control byte, and its only LF
// ends it.
//
// The expected text is worked out here by decoding code points and checking
// their ranges, not by the writer's table of lead and second bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "text/json_writer.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// The length of a well-formed sequence at at, or 0.
size_t Decoded(std::string_view bytes, size_t at) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  size_t length = 0;
  uint32_t code = 0;
  uint32_t smallest = 0;
  if (lead < 0x80) {
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(bytes[at + i]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

std::string Replaced(std::string_view bytes, bool& valid) {
  std::string out;
  valid = true;
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = Decoded(bytes, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      valid = false;
      ++at;
    } else {
      out.append(bytes.data() + at, length);
      at += length;
    }
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  JsonLine line("block", "2025-03-01T14:05:09.372+01:00");
  line.DeviceText("serial", bytes).Number("count", static_cast<long long>(size));
  std::string& hex = line.Raw("hex");
  hex += '"';
  AppendHex(hex, data, size);
  hex += '"';
  const std::string& text = line.Finish();

  Require(!text.empty() && text.back() == '\n');
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    Require(byte >= 0x20 && byte != 0x7F);
  }

  // Throws, and so fails, on anything that is not RFC 8259 JSON in UTF-8.
  const auto parsed = nlohmann::ordered_json::parse(text);
  bool valid = false;
  const std::string expected = Replaced(bytes, valid);
  Require(IsValidUtf8(bytes) == valid);
  Require(parsed.is_object());
  Require(parsed.size() == (valid ? 5u : 6u));
  auto field = parsed.begin();
  Require(field.key() == "event" && field.value() == "block");
  Require((++field).key() == "time");
  Require((++field).key() == "serial" && field.value().get<std::string>() == expected);
  if (!valid) {
    Require((++field).key() == "serialHex" && field.value().get<std::string>() == Hex(bytes));
  }
  Require((++field).key() == "count" && field.value().get<size_t>() == size);
  Require((++field).key() == "hex" && field.value().get<std::string>() == Hex(bytes));
  return 0;
}
