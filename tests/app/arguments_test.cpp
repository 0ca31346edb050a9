// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Action = Arguments::Action;

// The arguments after the program's name, as a failure message shows them.
std::string Shown(const std::vector<const char*>& arguments) {
  std::string shown;
  for (const char* argument : arguments) {
    shown += std::string(" '") + argument + "'";
  }
  return shown;
}

Arguments Parse(const std::vector<const char*>& arguments) {
  std::vector<const char*> argv{"kestrune"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ParseArguments(static_cast<int>(argv.size()), argv.data());
}

struct Case {
  std::vector<const char*> arguments;  // after the program's name
  Action action;
  bool watch;
  bool timestamps;
  std::string unknown;
  long frameGapMs = 0;   // the gap the run uses
  bool problem = false;  // misused with a message of its own
  bool json = false;
  long dedupeMs = 0;
};

TEST(Arguments, EveryCombinationAndMisuse) {
  const Case cases[] = {
      {{}, Action::kRun, false, false, ""},
      {{"--watch"}, Action::kRun, true, false, "", 20},
      {{"--timestamps"}, Action::kRun, false, true, ""},
      {{"--timestamps", "--watch", "--watch"}, Action::kRun, true, true, "", 20},
      {{"--help"}, Action::kHelp, false, false, ""},
      {{"-h"}, Action::kHelp, false, false, ""},
      {{"--version", "--watch"}, Action::kVersion, true, false, ""},
      {{"--version", "--help"}, Action::kHelp, false, false, ""},
      {{"--watch", "--bogus", "--help"}, Action::kMisused, true, false, "--bogus"},
      {{"-w"}, Action::kMisused, false, false, "-w"},
      {{"--watch=yes"}, Action::kMisused, false, false, "--watch=yes"},
      {{"--WATCH"}, Action::kMisused, false, false, "--WATCH"},
      {{""}, Action::kMisused, false, false, ""},
      {{"watch"}, Action::kMisused, false, false, "watch"},
      {{"--frame-gap", "35"}, Action::kRun, false, false, "", 35},
      {{"--frame-gap", "0", "--watch"}, Action::kRun, true, false, "", 0},
      {{"--frame-gap", "5", "--frame-gap", "60000"}, Action::kRun, false, false, "", 60000},
      {{"--frame-gap", "007"}, Action::kRun, false, false, "", 7},
      {{"--frame-gap"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", "60001"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", "-1"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", "20ms"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", ""}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", "99999999999999999999"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", "--watch"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap=20"}, Action::kMisused, false, false, "--frame-gap=20"},
      {{"--json"}, Action::kRun, false, false, "", 0, false, true},
      {{"--watch", "--json", "--json"}, Action::kRun, true, false, "", 20, false, true},
      {{"--dedupe", "1500", "--watch"}, Action::kRun, true, false, "", 20, false, false, 1500},
      {{"--dedupe", "3600000", "--json"}, Action::kRun, false, false, "", 0, false, true, 3600000},
      {{"--dedupe", "5", "--dedupe", "0"}, Action::kRun, false, false, "", 0, false, false, 0},
      {{"--dedupe", "3600001"}, Action::kMisused, false, false, "", 0, true},
      {{"--dedupe", "10000000"}, Action::kMisused, false, false, "", 0, true},
      {{"--dedupe"}, Action::kMisused, false, false, "", 0, true},
      {{"--dedupe", "1s"}, Action::kMisused, false, false, "", 0, true},
      {{"--frame-gap", "1000000"}, Action::kMisused, false, false, "", 0, true},
      {{"--json=1"}, Action::kMisused, false, false, "--json=1"},
      {{"--list"}, Action::kList, false, false, ""},
      {{"--json", "--list", "--list"}, Action::kList, false, false, "", 0, false, true},
      {{"--list", "--help"}, Action::kHelp, false, false, ""},
      {{"--version", "--list"}, Action::kVersion, false, false, ""},
      // A listing reads no bridge: an option that says how to read one is a misuse.
      {{"--list", "--watch"}, Action::kMisused, false, false, "", 0, true},
      {{"--timestamps", "--list"}, Action::kMisused, false, false, "", 0, true},
      {{"--list", "--frame-gap", "20"}, Action::kMisused, false, false, "", 0, true},
      {{"--dedupe", "5", "--json", "--list"}, Action::kMisused, false, false, "", 0, true},
      {{"--list", "--help", "--watch"}, Action::kMisused, false, false, "", 0, true},
      {{"--list", "--bogus"}, Action::kMisused, false, false, "--bogus"},
      {{"--list=1"}, Action::kMisused, false, false, "--list=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Shown(c.arguments));
    const Arguments parsed = Parse(c.arguments);
    EXPECT_EQ(parsed.action, c.action);
    EXPECT_EQ(parsed.unknown, c.unknown);
    EXPECT_EQ(parsed.problem.empty(), !c.problem) << parsed.problem;
    if (c.action == Action::kList) {
      EXPECT_EQ(parsed.json, c.json);
    }
    if (c.action == Action::kRun) {
      EXPECT_EQ(parsed.watch, c.watch);
      EXPECT_EQ(parsed.timestamps, c.timestamps);
      EXPECT_EQ(FrameGap(parsed).count(), c.frameGapMs);
      EXPECT_EQ(parsed.json, c.json);
      EXPECT_EQ(parsed.dedupe.count(), c.dedupeMs);
    }
  }
}

TEST(Arguments, TextsNameEveryFlagAndTheFailureLine) {
  for (const char* flag : {"--watch", "--frame-gap MS", "--timestamps", "--json", "--dedupe MS",
                           "--list", "--help", "--version"}) {
    EXPECT_NE(std::string(HelpText()).find(flag), std::string::npos) << flag;
  }
  for (const char* text :
       {"Disconnected from SERIAL: STATUS TEXT", "Error: SERIAL: STATUS TEXT", "Exit status:\n",
        "  3  with --watch, --frame-gap or --list: standard output (or the log) failed"}) {
    EXPECT_NE(std::string(HelpText()).find(text), std::string::npos) << text;
  }
  EXPECT_EQ(std::string(HelpText()).rfind(UsageText(), 0), 0u);
  EXPECT_EQ(std::string(VersionText()), "kestrune " KESTRUNE_TEST_VERSION "\n");
}

}  // namespace

TEST(Arguments, BrokerOptionsGoWithABrokerAndARunMeantToLast) {
  struct BrokerCase {
    std::vector<const char*> arguments;
    bool misused;
    uint64_t spoolBytes = 0;
    bool quiet = false;
  };
  const BrokerCase cases[] = {
      {{"--watch", "--mqtt", "mqtt://h/t"}, false},
      {{"--frame-gap", "20", "--mqtt", "anything: checked at the start"}, false},
      {{"--mqtt", "mqtt://h/t"}, true},  // the sweep with one block per read
      {{"--frame-gap", "0", "--mqtt", "mqtt://h/t"}, true},
      {{"--watch", "--mqtt"}, true},
      {{"--watch", "--mqtt", ""}, true},
      {{"--watch", "--quiet"}, true},
      {{"--watch", "--spool", "/s"}, true},
      {{"--list", "--mqtt", "mqtt://h/t"}, true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--quiet", "--spool-size", "64K"},
       false,
       uint64_t{64} << 10,
       true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "3g"}, false, uint64_t{3} << 30},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "1024G"}, false, uint64_t{1} << 40},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "1025G"}, true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "65535"}, true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "64KB"}, true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "K"}, true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size", "99999999999999G"}, true},
      {{"--watch", "--mqtt", "mqtt://h/t", "--spool-size"}, true},
  };
  for (const BrokerCase& c : cases) {
    SCOPED_TRACE(Shown(c.arguments));
    const Arguments parsed = Parse(c.arguments);
    EXPECT_EQ(parsed.action == Action::kMisused, c.misused) << parsed.problem;
    EXPECT_EQ(c.misused, !parsed.problem.empty());
    if (!c.misused) {
      EXPECT_EQ(parsed.spoolBytes, c.spoolBytes);
      EXPECT_EQ(parsed.quiet, c.quiet);
    }
  }
}
