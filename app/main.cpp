// SPDX-License-Identifier: Apache-2.0
// Kestrune: watches every attached CP2110 bridge and prints what arrives.
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "cli/arguments.h"
#include "modes/listing.h"
#include "modes/run.h"
#include "modes/windows_service.h"
#include "output/events.h"
#include "output/output.h"
#include "output/reader_names.h"
#include "text/device_text.h"

namespace {

// A standard descriptor the program was started without would be the first
// one the bridge library opens (a log file, a device node), and every line
// printed would then land there, or be sent to the bridge itself. Holding the
// missing ones on /dev/null discards that output, as a closed stream would.
void HoldStandardDescriptors() {
#if !defined(_WIN32)
  for (;;) {
    const int fd = open("/dev/null", O_RDWR);
    if (fd < 0) {
      return;
    }
    if (fd > 2) {
      close(fd);
      return;
    }
  }
#endif
}

int Finish() {
  FinishOutput();
  return OutputFailed() ? kOutputFailedStatus : kRunFinished;
}

}  // namespace

int main(int argc, char* argv[]) {
  HoldStandardDescriptors();
  if (argc >= 2 && std::strcmp(argv[1], "service") == 0) {
    return ServiceCommand(argc, argv);
  }
  const Arguments arguments = ParseArguments(argc, argv);
  if (arguments.action == Arguments::Action::kMisused) {
    if (arguments.problem.empty()) {
      std::fprintf(stderr, "kestrune: unknown argument \"%s\"\n%s",
                   Printable(arguments.unknown.c_str()).text, UsageText());
    } else {
      std::fprintf(stderr, "kestrune: %s\n%s", Printable(arguments.problem.c_str()).text,
                   UsageText());
    }
    std::fputs("Run kestrune --help for what each option does.\n", stderr);
    return kMisusedStatus;
  }
  if (!arguments.names.empty()) {
    // A names file that cannot be read as meant is refused before anything
    // is printed or opened: a station must not run with readers unnamed.
    ReaderNames names;
    std::string problem;
    if (!LoadReaderNames(arguments.names, names, problem)) {
      std::fprintf(stderr, "kestrune: names file %s: %s\n",
                   PrintableString(arguments.names).c_str(), PrintableString(problem).c_str());
      return kMisusedStatus;
    }
    UseReaderNames(std::move(names));
  }
  PrepareOutput();
  if (arguments.action == Arguments::Action::kList) {
    // A listing is read by scripts as well as by people: one whose lines
    // could not be written says so, and a closed pipe is not a listing given.
    WatchOutput();
    SetOutputFormat(arguments.json ? OutputFormat::kJsonLines : OutputFormat::kHuman);
    ListBridges();
    return Finish();
  }
  if (arguments.action != Arguments::Action::kRun) {
    Print("%s", arguments.action == Arguments::Action::kHelp ? HelpText() : VersionText());
    FlushOutput();
    return kRunFinished;
  }

  return RunReading(arguments);
}
