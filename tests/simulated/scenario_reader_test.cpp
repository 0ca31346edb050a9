// SPDX-License-Identifier: Apache-2.0
#include "scenario_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace sim {
namespace {

TEST(ScenarioReader, MalformedInputNamesLineAndFault) {
  struct Case {
    const char* text;
    std::size_t line;
    const char* message;
  };
  const Case cases[] = {
      {"bridge \"S1\"\n\n  franme at 1 00\n", 3, "unknown directive \"franme\""},
      {"bridge \"S1", 1, "missing closing quote"},
      {"bridge \"S1\\q\"", 1, "bad escape \"\\\\q\""},
      {"bridge \"\\x4\"", 1, "bad escape"},
      {"usb-id 1 2", 1, "\"usb-id\" belongs to a bridge"},
      {"fail read 0x14", 1, "\"fail read\" belongs to a bridge"},
      {"bridge \"S\"\nusb-id 0x10000 1", 2, "number \"0x10000\" is out of range (at most 65535)"},
      {"bridge \"S\"\nusb-id 12x 1", 2, "bad number \"12x\""},
      {"bridge \"S\"\nusb-id 1", 2, "usage: usb-id VENDOR-ID PRODUCT-ID"},
      {"bridge \"S\"\nusb-id 1 2 3", 2, "malformed \"usb-id\""},
      {"bridge S1", 1, "malformed \"bridge\""},
      {"library-version 1 2 beta", 1, "bad number \"beta\""},
      {"fail get-num-devices 0", 1, "status must be nonzero"},
      {"fail get-num-devices 1 call 0", 1, "call numbers count from 1"},
      {"fail frobnicate 1", 1, "unknown operation \"frobnicate\""},
      {"bridge \"S\"\nframe at 1.5", 2, "a frame needs at least one byte"},
      {"bridge \"S\"\nframe at 1.5 123", 2, "bad frame byte \"123\""},
      {"bridge \"S\"\nframe at 1. 12", 2, "bad time \"1.\""},
      {"bridge \"S\"\nframe at -1 12", 2, "bad time"},
      {"bridge \"S\"\nframe at 1.0000000001 12", 2, "more than 9 decimals"},
      {"bridge \"S\"\nframe at 99999999 12", 2, "out of range"},
      {"bridge \"S\"\nunplug at 1000000.000000001", 2, "out of range (at most 1000000 seconds)"},
      {"bridge \"S\"\nstream at 0 rate 10 bytes 5 seed 0", 2, "seed must be nonzero"},
      {"bridge \"S\"\nstream at 0 rate 10 bytes 5", 2, "usage: stream at TIME"},
      {"bridge \"S\"\nread-back speed 9600", 2, "unknown read-back field \"speed\""},
      {"bridge \"S\"\nunplug later", 2, "malformed \"unplug\""},
      {"bridge \"S\"\nattach after open 1", 2, "attach only after get-num-devices"},
      {"bridge \"S\"\nattach at", 2, "usage: attach after"},
      {"bridge \"S\"\nattach at soon", 2, "bad time \"soon\""},
      {"bridge \"S\"\nframe at 1 instant", 2, "a frame needs at least one byte"},
      {"bridge \"S\"\ntags at 0 count 0 bytes 5 spacing 1 2 seed 1", 2, "count of at least 1"},
      {"bridge \"S\"\ntags at 0 count 1000001 bytes 5 spacing 1 2 seed 1", 2, "out of range"},
      {"bridge \"S\"\ntags at 0 count 5 bytes 1001 spacing 1 2 seed 1", 2, "at most 1000)"},
      {"bridge \"S\"\ntags at 0 count 5 bytes 0 spacing 1 2 seed 1", 2, "at least one byte"},
      {"bridge \"S\"\ntags at 0 count 5 bytes 5 spacing 2 1 seed 1", 2, "must not exceed"},
      {"bridge \"S\"\ntags at 0 count 5 bytes 5 spacing 1 2 seed 0", 2, "seed must be nonzero"},
      {"bridge \"S\"\ntags at 0 count 5 bytes 5 spacing 1 2", 2, "usage: tags at TIME count"},
      {"bridge \"S\"\ntags at 2 count 1000000 bytes 5 spacing 0 1 seed 1", 2,
       "due after 1000000 seconds"},
      {"\"S1\"", 1, "must start with a directive"},
      {"bridge \"S\"\nproduct \x01\xFF", 2, "malformed \"product\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ParseResult result = ParseScenario(c.text, "x.scenario");
    EXPECT_FALSE(result.scenario.has_value());
    EXPECT_EQ(result.errorLine, c.line);
    EXPECT_EQ(result.error.rfind("x.scenario:" + std::to_string(c.line) + ": ", 0), 0u)
        << result.error;
    EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
  }
}

TEST(ScenarioReader, ReadsEveryDirective) {
  const ParseResult result = ParseScenario(R"(# comment
library-version 6 14 release   # trailing comment
hid-library-version 1 9 debug
fail get-num-devices 0x01 call 2

bridge "S1 \"q\" \\ \x00\xfe #"
  usb-id 0x1234 43
  vendor-id "V" 
  manufacturer "M"
  part-number 0x0B 2
  read-back baud 4800
  read-back flow-control 1
  fail open 0x15
  fail read -1 call 3
  fail get-num-devices 0x100
  frame at 0.5 12 34 "ab" 9a
  frame at 0.25 instant 01
  tags at 0.1 count 100000 bytes 1000 spacing 0.004 0.01 seed 9
  stream at 1.25 rate 960 bytes 9600 seed 7
  read-count 5000
  unplug at 3.0
  unplug after get-string 1
  unplug when-drained
  attach after get-num-devices 1
bridge ""
  attach after get-num-devices 2
  attach at 2.5
)",
                                           "ok.scenario");
  ASSERT_TRUE(result.scenario.has_value()) << result.error;
  const Scenario& s = *result.scenario;
  EXPECT_EQ(s.library.major, 6);
  EXPECT_EQ(s.library.minor, 14);
  EXPECT_EQ(s.library.release, 1);
  EXPECT_EQ(s.hidLibrary.release, 0);
  // Failures of global operations apply to the library wherever they stand.
  ASSERT_EQ(s.failures.size(), 2u);
  EXPECT_EQ(s.failures[0].call, 2u);
  EXPECT_EQ(s.failures[1].status, 0x100);
  ASSERT_EQ(s.bridges.size(), 2u);
  const BridgeSetup& b = s.bridges[0];
  EXPECT_EQ(b.serial, std::string("S1 \"q\" \\ \0\xFE #", 13));
  EXPECT_EQ(b.vendorId, 0x1234);
  EXPECT_EQ(b.productId, 43);
  EXPECT_EQ(DeviceString(b, 0, 1), "V");
  EXPECT_EQ(DeviceString(b, 0, 2), "002B");
  EXPECT_EQ(DeviceString(b, 0, 3), "sim:bridge/0");
  EXPECT_EQ(DeviceString(b, 0, 6), "Simulated CP2110 bridge");
  EXPECT_EQ(b.partNumber, 0x0B);
  EXPECT_EQ(b.readBack.baud, 4800u);
  EXPECT_EQ(b.readBack.flowControl, 1);
  EXPECT_FALSE(b.readBack.parity.has_value());
  ASSERT_EQ(b.failures.size(), 2u);
  EXPECT_EQ(b.failures[1].status, -1);
  EXPECT_EQ(b.failures[1].call, 3u);
  ASSERT_EQ(b.frames.size(), 2u);
  EXPECT_EQ(b.frames[0].at, 500'000'000);
  EXPECT_EQ(b.frames[0].bytes, (std::vector<std::uint8_t>{0x12, 0x34, 'a', 'b', 0x9A}));
  EXPECT_FALSE(b.frames[0].instant);
  EXPECT_TRUE(b.frames[1].instant);
  ASSERT_EQ(b.tags.size(), 1u);
  EXPECT_EQ(b.tags[0].at, 100'000'000);
  EXPECT_EQ(b.tags[0].count, 100'000u);
  EXPECT_EQ(b.tags[0].bytes, 1000u);
  EXPECT_EQ(b.tags[0].minSpacing, 4'000'000);
  EXPECT_EQ(b.tags[0].maxSpacing, 10'000'000);
  EXPECT_EQ(b.tags[0].seed, 9u);
  ASSERT_EQ(b.streams.size(), 1u);
  EXPECT_EQ(b.streams[0].at, 1'250'000'000);
  EXPECT_EQ(b.streams[0].rate, 960u);
  EXPECT_EQ(b.readCount, 5000u);
  ASSERT_EQ(b.unplugs.size(), 3u);
  EXPECT_EQ(b.unplugs[1].kind, UnplugRule::Kind::After);
  EXPECT_EQ(b.unplugs[1].op, Op::GetString);
  ASSERT_TRUE(b.attachAfter.has_value());
  EXPECT_EQ(b.attachAfter->call, 1u);
  EXPECT_FALSE(b.attachAt.has_value());
  EXPECT_EQ(s.bridges[1].serial, "");
  // Of the two ways to attach, the last one given counts.
  EXPECT_FALSE(s.bridges[1].attachAfter.has_value());
  EXPECT_EQ(s.bridges[1].attachAt, 2'500'000'000);
}

TEST(ScenarioReader, ShippedScenariosAndDemoParse) {
  for (const char* name : {"two-bridges", "refused-setting", "hostile"}) {
    const ParseResult result =
        ReadScenarioFile(std::string(KESTRUNE_SCENARIO_DIR) + "/" + name + ".scenario");
    EXPECT_TRUE(result.scenario.has_value()) << result.error;
  }
  const ParseResult demo = ParseScenario(DemoScenarioText(), "demo");
  ASSERT_TRUE(demo.scenario.has_value()) << demo.error;
  ASSERT_EQ(demo.scenario->bridges.size(), 1u);
  EXPECT_EQ(demo.scenario->bridges[0].frames.size(), 3u);
  const ParseResult missing = ReadScenarioFile("/nonexistent/x.scenario");
  EXPECT_FALSE(missing.scenario.has_value());
  EXPECT_EQ(missing.error, "/nonexistent/x.scenario: cannot read the scenario file");
}

}  // namespace
}  // namespace sim

namespace sim {
namespace {

TEST(ScenarioReader, SurvivesTruncatedAndCorruptedText) {
  const std::string text(DemoScenarioText());
  const std::string extra =
      "fail read -0x80000000 call 4294967295\nstream at 1000000 rate "
      "1000000000 bytes 4294967295 seed 0xFFFFFFFF\n\"\\x";
  const std::string all = text + extra;
  for (std::size_t i = 0; i <= all.size(); ++i) {
    for (const char c : {'\0', '"', '\\', '#', '\n', 'x', '9', '\xFF'}) {
      std::string corrupted = all.substr(0, i);
      corrupted += c;
      corrupted += all.substr(std::min(all.size(), i + 1));
      const ParseResult result = ParseScenario(corrupted, "fuzz");
      EXPECT_NE(result.scenario.has_value(), result.errorLine > 0) << corrupted;
    }
    const ParseResult truncated = ParseScenario(all.substr(0, i), "fuzz");
    EXPECT_NE(truncated.scenario.has_value(), truncated.errorLine > 0);
  }
}

}  // namespace
}  // namespace sim
