#include "arguments.h"

#include <cstring>

#if !defined(KESTRUNE_VERSION)
#error "KESTRUNE_VERSION must be defined by the build"
#endif

Arguments ParseArguments(int argc, const char* const argv[]) {
  Arguments parsed;
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--watch") == 0) {
      parsed.watch = true;
    } else if (std::strcmp(argument, "--timestamps") == 0) {
      parsed.timestamps = true;
    } else if (std::strcmp(argument, "--help") == 0) {
      help = true;
    } else if (std::strcmp(argument, "--version") == 0) {
      version = true;
    } else {
      parsed.action = Arguments::Action::kMisused;
      parsed.unknown = argument;
      return parsed;
    }
  }
  if (help) {
    parsed.action = Arguments::Action::kHelp;
  } else if (version) {
    parsed.action = Arguments::Action::kVersion;
  }
  return parsed;
}

const char* UsageText() {
  return "usage: kestrune [--watch] [--timestamps]\n"
         "       kestrune --help | --version\n";
}

const char* HelpText() {
  return "usage: kestrune [--watch] [--timestamps]\n"
         "       kestrune --help | --version\n"
         "\n"
         "Watches CP2110 HID-to-UART bridges and prints every block of bytes that arrives\n"
         "on their lines.\n"
         "\n"
         "With no arguments: connects to each attached bridge in turn, reads it until it\n"
         "fails, then goes on to the next; ends when every bridge has been visited.\n"
         "\n"
         "  --watch       station mode: reads every attached bridge at once, connects a\n"
         "                bridge attached later within about a second, and runs until\n"
         "                Ctrl+C or SIGTERM (on Windows also Ctrl+Break or closing the\n"
         "                console); then closes every bridge and exits 0. A bridge that\n"
         "                fails while read gets the line\n"
         "                  Disconnected from SERIAL: STATUS TEXT\n"
         "                and is connected again when it is listed again; one that\n"
         "                fails again before it sent a byte is then treated like a\n"
         "                bridge whose connection fails: tried again only after it has\n"
         "                been detached. Of bridges sharing one serial string, only the\n"
         "                first listed is read.\n"
         "  --timestamps  starts each report's header line with the local time at which\n"
         "                its read returned, e.g.\n"
         "                  2025-03-01T14:05:09.372+01:00 >>>[DATA FROM S1, 5 BYTE]\n"
         "  --help        prints this text and exits\n"
         "  --version     prints the program's version and exits\n";
}

const char* VersionText() { return "kestrune " KESTRUNE_VERSION "\n"; }
