#include "windows_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr const char* kLog = "C:\\ProgramData\\Kestrune\\kestrune.log";

TEST(WindowsService, StoredOptionsAreAReadingRunWithWatchAndALog) {
  struct Case {
    std::vector<std::string> given;
    std::string logFile;
    std::vector<std::string> stored;  // empty: refused
    std::string problem;              // a part of the message when refused
  };
  const Case cases[] = {
      {{}, kLog, {"--watch", "--log", kLog}, ""},
      {{"--frame-gap", "20", "--dedupe", "1000"},
       kLog,
       {"--watch", "--log", kLog, "--frame-gap", "20", "--dedupe", "1000"},
       ""},
      {{"--json", "--watch"}, "", {"--json", "--watch"}, ""},
      // The operator's own log wins over the default one.
      {{"--log", "D:\\logs\\north.log"}, kLog, {"--watch", "--log", "D:\\logs\\north.log"}, ""},
      {{"--list"}, kLog, {}, "\"--list\" has no place"},
      {{"--frame-gap", "20", "--help"}, kLog, {}, "\"--help\" has no place"},
      {{"-h"}, "", {}, "\"-h\" has no place"},
      {{"--version"}, "", {}, "\"--version\" has no place"},
      {{"--frame-gap", "20ms"}, kLog, {}, "--frame-gap takes a whole number"},
      {{"--bogus"}, kLog, {}, "unknown argument \"--bogus\""},
      {{"--quiet"}, kLog, {}, "--quiet goes with --mqtt"},
      {{"--mqtt"}, kLog, {}, "--mqtt takes a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.given));
    const ServiceOptions options = MakeServiceOptions(c.given, c.logFile);
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
