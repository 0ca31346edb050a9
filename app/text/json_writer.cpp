// SPDX-License-Identifier: Apache-2.0
#include "text/json_writer.h"

#include "text/hex.h"

namespace {

bool Continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at bytes[at], or 0 when the
// byte there starts none. The second byte's range rules out overlong forms,
// surrogates and code points above U+10FFFF.
size_t SequenceLength(std::string_view bytes, size_t at) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) {
    return 1;
  }
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) {
    return 0;
  }
  const auto second = static_cast<unsigned char>(bytes[at + 1]);
  if (second < low || second > high) {
    return 0;
  }
  for (size_t i = 2; i < length; ++i) {
    if (!Continuation(static_cast<unsigned char>(bytes[at + i]))) {
      return 0;
    }
  }
  return length;
}

void AppendUnicodeEscape(std::string& out, unsigned code) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) {
    out += HexDigit(code >> shift);
  }
}

// The escape of a character that is not written as itself, or nothing.
bool AppendEscape(std::string& out, unsigned code) {
  switch (code) {
    case '"':
      out += "\\\"";
      return true;
    case '\\':
      out += "\\\\";
      return true;
    case '\b':
      out += "\\b";
      return true;
    case '\f':
      out += "\\f";
      return true;
    case '\n':
      out += "\\n";
      return true;
    case '\r':
      out += "\\r";
      return true;
    case '\t':
      out += "\\t";
      return true;
    default:
      break;
  }
  // C0 and C1 controls, DEL, and the two separators that end a line in
  // JavaScript.
  if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
    AppendUnicodeEscape(out, code);
    return true;
  }
  return false;
}

unsigned CodePoint(std::string_view bytes, size_t at, size_t length) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (length == 1) {
    return lead;
  }
  unsigned code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(bytes[at + i]) & 0x3F);
  }
  return code;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = SequenceLength(bytes, at);
    if (length == 0) {
      return false;
    }
    at += length;
  }
  return true;
}

void AppendJsonString(std::string& out, std::string_view bytes) {
  out += '"';
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = SequenceLength(bytes, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for this one byte
      ++at;
      continue;
    }
    if (!AppendEscape(out, CodePoint(bytes, at, length))) {
      out.append(bytes.data() + at, length);
    }
    at += length;
  }
  out += '"';
}

void AppendHex(std::string& out, const uint8_t* bytes, size_t count) {
  const size_t start = out.size();
  out.resize(start + 2 * count);
  PutHexBytes(&out[start], bytes, count);
}

JsonLine::JsonLine(std::string_view event, std::string_view time) {
  text_.reserve(256);
  text_ += '{';
  empty_ = true;
  String("event", event);
  String("time", time);
}

void JsonLine::Name(std::string_view name, std::string_view suffix) {
  if (!empty_) {
    text_ += ',';
  }
  empty_ = false;
  text_ += '"';
  text_ += name;
  text_ += suffix;
  text_ += "\":";
}

JsonLine& JsonLine::String(std::string_view name, std::string_view value) {
  Name(name);
  AppendJsonString(text_, value);
  return *this;
}

JsonLine& JsonLine::DeviceText(std::string_view name, std::string_view bytes) {
  String(name, bytes);
  if (!IsValidUtf8(bytes)) {
    Name(name, "Hex");
    text_ += '"';
    AppendHex(text_, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    text_ += '"';
  }
  return *this;
}

JsonLine& JsonLine::Number(std::string_view name, long long value) {
  Name(name);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Bool(std::string_view name, bool value) {
  Name(name);
  text_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::BeginObject(std::string_view name) {
  Name(name);
  text_ += '{';
  empty_ = true;
  return *this;
}

JsonLine& JsonLine::EndObject() {
  text_ += '}';
  empty_ = false;
  return *this;
}

std::string& JsonLine::Raw(std::string_view name) {
  Name(name);
  return text_;
}

const std::string& JsonLine::Finish() {
  text_ += "}\n";
  return text_;
}
