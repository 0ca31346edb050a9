// The command line: which mode the program runs in, or what it prints instead.
#ifndef KESTRUNE_APP_ARGUMENTS_H
#define KESTRUNE_APP_ARGUMENTS_H

#include <string>

struct Arguments {
  enum class Action {
    kRun,      // read bridges, as the flags below say
    kHelp,     // print the help text and exit 0
    kVersion,  // print the version line and exit 0
    kMisused,  // an argument the program does not know: usage, exit 2
  };
  Action action = Action::kRun;
  bool watch = false;       // station mode
  bool timestamps = false;  // local time before each report's header
  std::string unknown;      // the first unknown argument, for kMisused
};

/// Reads argv[1..argc-1]. Flags may come in any order and more than once. An
/// unknown argument wins over everything else; then --help, then --version.
Arguments ParseArguments(int argc, const char* const argv[]);

/// The full help text, for standard output.
const char* HelpText();

/// The short usage, for standard error after a misused command line.
const char* UsageText();

/// "kestrune X.Y.Z".
const char* VersionText();

#endif
