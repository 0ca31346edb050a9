// SPDX-License-Identifier: Apache-2.0
// Kestrune: watches every attached CP2110 bridge and prints what arrives.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/arguments.h"
#include "cli/exit_status.h"
#include "modes/listing.h"
#include "modes/run.h"
#include "modes/windows_service.h"
#include "output/events.h"
#include "output/output.h"
#include "output/reader_names.h"
#include "platform/standard_streams.h"

int main(int argc, char* argv[]) {
  HoldStandardDescriptors();
  if (argc >= 2 && std::strcmp(argv[1], "service") == 0) {
    return ServiceCommand(argc, argv);
  }

  const Arguments arguments = ParseArguments(argc, argv);
  if (arguments.action == Arguments::Action::kMisused) {
    TellMisuse(arguments);
    return kMisusedStatus;
  }
  std::string problem;
  if (!arguments.names.empty() && !UseNamesFile(arguments.names, problem)) {
    std::fprintf(stderr, "kestrune: %s\n", problem.c_str());
    return kMisusedStatus;
  }
  PrepareOutput();

  switch (arguments.action) {
    case Arguments::Action::kList:
      // A listing is read by scripts as well as by people: one whose lines
      // could not be written says so, and a closed pipe is not a listing.
      WatchOutput();
      SetOutputFormat(arguments.json ? OutputFormat::kJsonLines : OutputFormat::kHuman);
      ListBridges();
      return FinishOutputStatus();
    case Arguments::Action::kHelp:
    case Arguments::Action::kVersion:
      Print("%s", arguments.action == Arguments::Action::kHelp ? HelpText() : VersionText());
      FlushOutput();
      return kRunFinished;
    default:
      return RunReading(arguments);
  }
}
