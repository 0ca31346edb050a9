// SPDX-License-Identifier: Apache-2.0
#include "output/events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "text/timestamp.h"

namespace {

// JSON Lines for the test's duration, human lines again afterwards.
struct JsonOutput {
  JsonOutput() { SetOutputFormat(OutputFormat::kJsonLines); }
  ~JsonOutput() { SetOutputFormat(OutputFormat::kHuman); }
};

// The output of one event with its time, checked for its form, put as "T".
std::string Emitted(const std::function<void()>& emit) {
  const JsonOutput json;
  testing::internal::CaptureStdout();
  emit();
  std::string line = testing::internal::GetCapturedStdout();
  const std::regex time(
      R"re(^(\{"event":"[a-z-]+","time":")\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d")re");
  EXPECT_TRUE(std::regex_search(line, time)) << line;
  return std::regex_replace(line, time, "$1T\"");
}

void Put(DeviceString& field, const std::string& bytes) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, bytes.data(), std::min(bytes.size(), sizeof field));
}

TEST(Events, EachEventIsOneLineWithItsFieldsInOrder) {
  BridgeIdentity device{};
  device.partNumber = 10;
  device.version = 1;
  Put(device.vendorIdText, "10C4");
  Put(device.productIdText, "EA80");
  Put(device.path, "\x1B]0;t\x07");
  Put(device.manufacturer, "line\r\nbreak");
  // Fills the whole buffer with no NUL: only 259 bytes are the string.
  Put(device.product, std::string(HID_UART_DEVICE_STRLEN, 'P'));
  const uint8_t ten[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto when = std::chrono::system_clock::now();

  struct Case {
    const char* name;
    std::function<void()> emit;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"start",
       [] {
         EmitStart({6, 14, 1}, {1, 9, 0});
       },
       R"({"event":"start","time":"T","program":"kestrune","version":")" KESTRUNE_TEST_VERSION
       R"(","format":2,"library":{"major":6,"minor":14,"release":true},)"
       R"("hidLibrary":{"major":1,"minor":9,"release":false}})"},
      {"count", [] { EmitCount(4294967295u); },
       R"({"event":"count","time":"T","bridges":4294967295})"},
      {"connected, with hostile strings", [&device] { EmitConnected("S\xFF", device); },
       R"({"event":"connected","time":"T","serial":"S)"
       "\xEF\xBF\xBD"
       R"(","serialHex":"53FF","vendorId":"10C4","productId":"EA80","partNumber":10,)"
       R"("version":1,"path":"\u001B]0;t\u0007","manufacturer":"line\r\nbreak","product":")" +
           std::string(HID_UART_DEVICE_STRLEN - 1, 'P') + "\"}"},
      {"a failure report",
       [] { EmitConnectFailed("S1", HID_UART_INVALID_PARAMETER, ConnectFailure::kNotConnected); },
       R"({"event":"connect-failed","time":"T","serial":"S1","status":4,)"
       R"("statusText":"Invalid parameter","report":"not-connected"})"},
      {"a status beyond the table", [] { EmitDisconnected("S1", -7); },
       R"({"event":"disconnected","time":"T","serial":"S1","status":-7,)"
       R"("statusText":"Unknown status"})"},
      {"a block longer than the value",
       [&] {
         EmitBlock({"S1", ten, 10, when, true});
       },
       R"({"event":"block","time":"T","serial":"S1","count":10,"hex":"0102030405060708090A",)"
       R"("value":"030405060708090A","decimal":"0084281096"})"},
      {"a held tag: its block, its repeats and how long",
       [&] {
         EmitHeld({"S1", ten, 10, when, 3, std::chrono::milliseconds(1250)});
       },
       R"({"event":"held","time":"T","serial":"S1","count":10,"hex":"0102030405060708090A",)"
       R"("value":"030405060708090A","decimal":"0084281096","repeats":3,"heldMs":1250})"},
      {"stop", [] { EmitStop(); }, R"({"event":"stop","time":"T"})"},
      {"no banner line", [] { EmitBanner(); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.line.empty()) {
      const JsonOutput json;
      testing::internal::CaptureStdout();
      c.emit();
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
      continue;
    }
    EXPECT_EQ(Emitted(c.emit), c.line + "\n");
  }
}

TEST(Events, ABlockIsTimedWhenItsFirstBytesCame) {
  const uint8_t byte = 0xAB;
  // 2001-09-09T01:46:40.250Z, shown in the local zone like --timestamps.
  const std::chrono::system_clock::time_point when{std::chrono::milliseconds(1000000000250)};
  const JsonOutput json;
  testing::internal::CaptureStdout();
  EmitBlock({"S1", &byte, 1, when, false});
  const std::string line = testing::internal::GetCapturedStdout();
  EXPECT_NE(line.find(std::string("\"time\":\"") + LocalTimestamp(when).text + "\""),
            std::string::npos)
      << line;
}

}  // namespace
