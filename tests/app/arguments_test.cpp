#include "arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Action = Arguments::Action;

struct Case {
  std::vector<const char*> arguments;  // after the program's name
  Action action;
  bool watch;
  bool timestamps;
  std::string unknown;
};

TEST(Arguments, EveryCombinationAndMisuse) {
  const Case cases[] = {
      {{}, Action::kRun, false, false, ""},
      {{"--watch"}, Action::kRun, true, false, ""},
      {{"--timestamps"}, Action::kRun, false, true, ""},
      {{"--timestamps", "--watch", "--watch"}, Action::kRun, true, true, ""},
      {{"--help"}, Action::kHelp, false, false, ""},
      {{"--version", "--watch"}, Action::kVersion, true, false, ""},
      {{"--version", "--help"}, Action::kHelp, false, false, ""},
      {{"--watch", "--bogus", "--help"}, Action::kMisused, true, false, "--bogus"},
      {{"-w"}, Action::kMisused, false, false, "-w"},
      {{"--watch=yes"}, Action::kMisused, false, false, "--watch=yes"},
      {{"--WATCH"}, Action::kMisused, false, false, "--WATCH"},
      {{""}, Action::kMisused, false, false, ""},
      {{"watch"}, Action::kMisused, false, false, "watch"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"kestrune"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    std::string shown;
    for (const char* argument : c.arguments) {
      shown += std::string(" '") + argument + "'";
    }
    SCOPED_TRACE(shown);
    const Arguments parsed = ParseArguments(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parsed.action, c.action);
    EXPECT_EQ(parsed.unknown, c.unknown);
    if (c.action == Action::kRun) {
      EXPECT_EQ(parsed.watch, c.watch);
      EXPECT_EQ(parsed.timestamps, c.timestamps);
    }
  }
}

TEST(Arguments, TextsNameEveryFlagAndTheFailureLine) {
  for (const char* flag : {"--watch", "--timestamps", "--help", "--version"}) {
    EXPECT_NE(std::string(HelpText()).find(flag), std::string::npos) << flag;
  }
  EXPECT_NE(std::string(HelpText()).find("Disconnected from SERIAL: STATUS TEXT"),
            std::string::npos);
  EXPECT_EQ(std::string(HelpText()).rfind(UsageText(), 0), 0u);
  EXPECT_EQ(std::string(VersionText()), "kestrune " KESTRUNE_TEST_VERSION "\n");
}

}  // namespace
