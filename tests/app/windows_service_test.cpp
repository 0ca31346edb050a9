// SPDX-License-Identifier: Apache-2.0
#include "modes/windows_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr const char* kFolder = "C:\\ProgramData\\Kestrune";
constexpr const char* kLog = "C:\\ProgramData\\Kestrune\\kestrune.log";
constexpr const char* kNames = "C:\\ProgramData\\Kestrune\\names.txt";

TEST(WindowsService, StoredOptionsAreAReadingRunWithWatchALogAndNames) {
  struct Case {
    std::vector<std::string> given;
    std::string folder;
    std::vector<std::string> stored;  // empty: refused
    std::string problem;              // a part of the message when refused
  };
  const Case cases[] = {
      {{}, kFolder, {"--watch", "--one-line", "--log", kLog, "--names", kNames}, ""},
      {{"--frame-gap", "20", "--dedupe", "1000"},
       kFolder,
       {"--watch", "--one-line", "--log", kLog, "--names", kNames, "--frame-gap", "20", "--dedupe",
        "1000"},
       ""},
      {{"--json", "--watch"}, "", {"--json", "--watch"}, ""},
      // JSON lines are one line each already.
      {{"--json"}, kFolder, {"--watch", "--log", kLog, "--names", kNames, "--json"}, ""},
      // The operator's own log and names win over the default ones.
      {{"--log", "D:\\logs\\north.log", "--names", "D:\\n.txt"},
       kFolder,
       {"--watch", "--one-line", "--log", "D:\\logs\\north.log", "--names", "D:\\n.txt"},
       ""},
      {{"--list"}, kFolder, {}, "\"--list\" has no place"},
      {{"--frame-gap", "20", "--help"}, kFolder, {}, "\"--help\" has no place"},
      {{"-h"}, "", {}, "\"-h\" has no place"},
      {{"--version"}, "", {}, "\"--version\" has no place"},
      {{"--frame-gap", "20ms"}, kFolder, {}, "--frame-gap takes a whole number"},
      {{"--bogus"}, kFolder, {}, "unknown argument \"--bogus\""},
      {{"--quiet"}, kFolder, {}, "--quiet goes with --mqtt"},
      {{"--mqtt"}, kFolder, {}, "--mqtt takes a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.given));
    const ServiceOptions options = MakeServiceOptions(c.given, c.folder);
    EXPECT_EQ(options.stored, c.stored);
    if (c.problem.empty()) {
      EXPECT_EQ(options.problem, "");
    } else {
      EXPECT_NE(options.problem.find(c.problem), std::string::npos) << options.problem;
    }
  }
}

// What the C runtime's command-line parser gives back must be the argument
// itself: spaces kept in one argument, quotes and backslashes unchanged.
TEST(WindowsService, ArgumentsAreQuotedForTheCommandLineParser) {
  const std::pair<std::string, std::string> cases[] = {
      {"--watch", "--watch"},
      {"C:\\ProgramData\\Kestrune\\kestrune.log", "C:\\ProgramData\\Kestrune\\kestrune.log"},
      {"", "\"\""},
      {"C:\\Program Files\\Kestrune\\kestrune.log",
       "\"C:\\Program Files\\Kestrune\\kestrune.log\""},
      {"C:\\my logs\\", "\"C:\\my logs\\\\\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},
      {"a\\\\b c", "\"a\\\\b c\""},
      {"tab\there", "\"tab\there\""},
  };
  for (const auto& [argument, quoted] : cases) {
    EXPECT_EQ(QuoteArgument(argument), quoted) << argument;
  }
}

}  // namespace
