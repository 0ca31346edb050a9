// SPDX-License-Identifier: Apache-2.0
// The station as a Windows service: `kestrune service install [OPTIONS...]`
// registers it with the Service Control Manager, `kestrune service uninstall`
// stops and removes it, and `kestrune service run OPTIONS...` is the command
// line the manager starts.
#ifndef KESTRUNE_APP_WINDOWS_SERVICE_H
#define KESTRUNE_APP_WINDOWS_SERVICE_H

#include <string>
#include <vector>

#include "cli/exit_status.h"

/// The service's name, as `sc` and the Services window know it.
constexpr const char* kServiceName = "Kestrune";

/// Runs `kestrune service ...` (argv[1] is "service") and returns the exit
/// status: 0 when installed, uninstalled or run to a clean stop; 2 for a
/// misused command line, options a service cannot take, or `service run`
/// started from a console; kServiceManagerFailedStatus when the manager
/// refused. Everywhere but Windows it says that systemd runs the station
/// there, and returns 2.
int ServiceCommand(int argc, char* argv[]);

/// The options a service is installed with, from those given after
/// `service install`.
struct ServiceOptions {
  std::vector<std::string> stored;  // what follows `service run`
  std::string problem;              // not empty: why they cannot be stored
};

/// Checks the options given to `service install` and completes them:
/// --watch is put in front when missing; then, when FOLDER is not empty,
/// --one-line unless the options give it or --json, `--log
/// FOLDER\kestrune.log` unless they give --log, and `--names
/// FOLDER\names.txt` unless they give --names. The problem is set, and
/// nothing stored, for --help, -h, --version or --list (a service reads
/// bridges), and for options that do not parse as a reading run
/// (ParseArguments' message).
ServiceOptions MakeServiceOptions(const std::vector<std::string>& given, const std::string& folder);

/// Quotes one argument for a Windows command line so that the C runtime's
/// parser gives it back byte for byte: as it is when it has no space, tab or
/// double quote and is not empty, else between double quotes with the
/// backslashes before a quote (and before the closing one) doubled.
std::string QuoteArgument(const std::string& argument);

#endif
