// SPDX-License-Identifier: Apache-2.0
// One JSON object on one line, as the machine-readable output writes it.
//
// Strings that come from a bridge are arbitrary bytes. What is written is
// always valid UTF-8 with no raw control character, and a string that was
// not valid UTF-8 can still be had back exactly from a hex sibling field.
#ifndef KESTRUNE_APP_JSON_WRITER_H
#define KESTRUNE_APP_JSON_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// Whether bytes are well-formed UTF-8: no overlong forms, no surrogates,
/// nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

/// Appends bytes as a quoted JSON string. Each well-formed UTF-8 sequence
/// stands for its character, each other byte for U+FFFD. Quote, backslash,
/// U+0000..U+001F, U+007F..U+009F, U+2028 and U+2029 are escaped, so the
/// text is plain printable UTF-8 that no console or script takes for a
/// control or a line end.
void AppendJsonString(std::string& out, std::string_view bytes);

/// Appends bytes as upper-case hex digits, two per byte.
void AppendHex(std::string& out, const uint8_t* bytes, size_t count);

/// Builds one object: {"event":"...","time":"...", fields in the order
/// they are added}. Field names are the program's own, written as given.
class JsonLine {
 public:
  JsonLine(std::string_view event, std::string_view time);

  JsonLine& String(std::string_view name, std::string_view value);
  /// A string from a bridge: as String, followed by NAMEHex with its exact
  /// bytes when they are not valid UTF-8.
  JsonLine& DeviceText(std::string_view name, std::string_view bytes);
  JsonLine& Number(std::string_view name, long long value);
  JsonLine& Bool(std::string_view name, bool value);
  /// Opens an object-valued field; fields added until EndObject go inside.
  JsonLine& BeginObject(std::string_view name);
  JsonLine& EndObject();
  /// The name of a field whose value the caller appends to text() itself.
  std::string& Raw(std::string_view name);

  /// The finished object and its LF.
  const std::string& Finish();
  std::string& text() { return text_; }

 private:
  void Name(std::string_view name, std::string_view suffix = {});

  std::string text_;
  // Whether the object being written has no field yet.
  bool empty_ = false;
};

#endif
