// SPDX-License-Identifier: Apache-2.0
#include "text/json_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Quoted(const std::string& bytes) {
  std::string out;
  AppendJsonString(out, bytes);
  return out;
}

TEST(JsonWriter, WritesEveryByteStringAsPrintableValidUtf8) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* json;
    bool valid;
  };
  const Case cases[] = {
      {"plain text", "S1", R"("S1")", true},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")", true},
      {"short escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")", true},
      {"other C0 controls and DEL", std::string("\x01\x1B\x1F\x7F", 4),
       R"("\u0001\u001B\u001F\u007F")", true},
      {"a NUL inside", std::string("a\0b", 3), R"("a\u0000b")", true},
      {"two-byte characters stand", "\xC3\xA9", "\"\xC3\xA9\"", true},
      {"C1 controls are escaped", "\xC2\x80\xC2\x9B\xC2\x9F\xC2\xA0",
       "\"\\u0080\\u009B\\u009F\xC2\xA0\"", true},
      {"line and paragraph separators are escaped", "\xE2\x80\xA8\xE2\x80\xA9", R"("\u2028\u2029")",
       true},
      {"four-byte characters stand", "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
       "\"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"", true},
      {"a lone continuation byte", "a\x80z", "\"a\xEF\xBF\xBDz\"", false},
      {"an overlong slash", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", false},
      {"an overlong three-byte form", "\xE0\x80\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
       false},
      {"a surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80",
       "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", false},
      {"bytes that never start a character", "\xF5\xFF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", false},
      {"a sequence cut short, then a character", "\xE2\x82z", "\"\xEF\xBF\xBD\xEF\xBF\xBDz\"",
       false},
      {"a sequence cut short by the end", "ok\xF0\x9F\x98",
       "\"ok\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", false},
      {"an escaped control after an invalid byte", "\xFF\n", "\"\xEF\xBF\xBD\\n\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Quoted(c.bytes), c.json);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
  }
}

TEST(JsonWriter, DeviceTextAddsTheExactBytesOnlyWhenTheyAreNotUtf8) {
  JsonLine line("connected", "T");
  line.DeviceText("serial", "S\xC3\xA9")
      .DeviceText("path", "p\xFF\x01")
      .Number("partNumber", 10)
      .Bool("release", false)
      .BeginObject("library")
      .Number("major", 1)
      .EndObject()
      .Number("status", -1);
  EXPECT_EQ(line.Finish(),
            "{\"event\":\"connected\",\"time\":\"T\",\"serial\":\"S\xC3\xA9\","
            "\"path\":\"p\xEF\xBF\xBD\\u0001\",\"pathHex\":\"70FF01\",\"partNumber\":10,"
            "\"release\":false,\"library\":{\"major\":1},\"status\":-1}\n");
}

}  // namespace
