// SPDX-License-Identifier: Apache-2.0
// What a service is installed with: its options, completed and checked, and
// their quoting on the command line the manager stores.
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "modes/windows_service.h"

namespace {

// Options that print something and end, or list bridges: a service has no
// one to show it to, and the manager would restart it over and over.
bool EndsAtOnce(const std::string& option) {
  return option == "--help" || option == "-h" || option == "--version" || option == "--list";
}

bool Contains(const std::vector<std::string>& options, const char* option) {
  for (const std::string& given : options) {
    if (given == option) {
      return true;
    }
  }
  return false;
}

}  // namespace

ServiceOptions MakeServiceOptions(const std::vector<std::string>& given,
                                  const std::string& folder) {
  ServiceOptions options;
  for (const std::string& option : given) {
    if (EndsAtOnce(option)) {
      options.problem = "a service reads bridges: \"" + option + "\" has no place in its options";
      return options;
    }
  }
  // Added in front, so that an option left without its value at the end
  // is still said to be missing it.
  std::vector<std::string> stored;
  if (!Contains(given, "--watch")) {
    stored.push_back("--watch");
  }
  // A service's log is read in a file: one line per event, and the readers
  // by their names.
  if (!folder.empty() && !Contains(given, "--one-line") && !Contains(given, "--json")) {
    stored.push_back("--one-line");
  }
  if (!folder.empty() && !Contains(given, "--log")) {
    stored.push_back("--log");
    stored.push_back(folder + "\\kestrune.log");
  }
  if (!folder.empty() && !Contains(given, "--names")) {
    stored.push_back("--names");
    stored.push_back(folder + "\\names.txt");
  }
  stored.insert(stored.end(), given.begin(), given.end());
  std::vector<const char*> argv{"kestrune"};
  for (const std::string& option : stored) {
    argv.push_back(option.c_str());
  }
  const Arguments parsed = ParseArguments(static_cast<int>(argv.size()), argv.data());
  if (parsed.action == Arguments::Action::kMisused) {
    options.problem =
        parsed.problem.empty() ? "unknown argument \"" + parsed.unknown + "\"" : parsed.problem;
    return options;
  }
  options.stored = std::move(stored);
  return options;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}
