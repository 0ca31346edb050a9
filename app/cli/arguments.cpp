// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <cstdio>
#include <cstring>

#include "output/log_file.h"
#include "text/device_text.h"

#if !defined(KESTRUNE_VERSION)
#error "KESTRUNE_VERSION must be defined by the build"
#endif

namespace {

// Digits only, no sign, no spaces: a typo must not pass for a number.
std::optional<long> Milliseconds(const char* text, long largest) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 7) {
    return std::nullopt;
  }
  long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (*c - '0');
  }
  if (value > largest) {
    return std::nullopt;
  }
  return value;
}

// The message for a value that is not a whole number of units up to largest.
std::string NotWhole(const char* flag, const char* units, long largest, const char* value) {
  return std::string(flag) + " takes a whole number of " + units + " from 0 to " +
         std::to_string(largest) +
         (value == nullptr ? std::string(", and none was given")
                           : std::string(", not \"") + value + "\"");
}

std::string NotMilliseconds(const char* flag, long largest, const char* value) {
  return NotWhole(flag, "milliseconds", largest, value);
}

// "65536", "64K", "64M", "1G": a typo must not pass for a size.
std::optional<uint64_t> Bytes(const char* text) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 14) {
    return std::nullopt;
  }
  uint64_t value = 0;
  const char* c = text;
  for (; *c >= '0' && *c <= '9'; ++c) {
    value = value * 10 + static_cast<uint64_t>(*c - '0');
  }
  if (c == text) {
    return std::nullopt;
  }
  int shift = 0;
  if (*c == 'K' || *c == 'k') {
    shift = 10;
  } else if (*c == 'M' || *c == 'm') {
    shift = 20;
  } else if (*c == 'G' || *c == 'g') {
    shift = 30;
  } else if (*c != '\0') {
    return std::nullopt;
  }
  if (shift != 0 && *++c != '\0') {
    return std::nullopt;
  }
  if (value > (kLargestSpoolBytes >> shift)) {
    return std::nullopt;
  }
  value <<= shift;
  if (value < kSmallestSpoolBytes || value > kLargestSpoolBytes) {
    return std::nullopt;
  }
  return value;
}

// The message for a value that is not a size.
std::string NotBytes(const char* flag, const char* value) {
  return std::string(flag) + " takes a number of bytes from 64K to 1024G (K, M and G count 1024s)" +
         (value == nullptr ? std::string(", and none was given")
                           : std::string(", not \"") + value + "\"");
}

// The options that take a text value as it is.
struct TextOption {
  const char* flag;
  std::string Arguments::*field;
};

}  // namespace

Arguments ParseArguments(int argc, const char* const argv[]) {
  Arguments parsed;
  bool help = false;
  bool version = false;
  bool list = false;
  // The first option that says how to read bridges, which a listing does not.
  const char* readingOption = nullptr;
  // The first option that needs --mqtt.
  const char* brokerOption = nullptr;
  static const TextOption kTextOptions[] = {
      {"--mqtt-id", &Arguments::mqttId}, {"--mqtt-credentials", &Arguments::mqttCredentials},
      {"--spool", &Arguments::spool},    {"--log", &Arguments::log},
      {"--names", &Arguments::names},
  };
  // The first option that needs --log, and --silent-after, which needs
  // --watch.
  const char* logOption = nullptr;
  const char* silentOption = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const bool reading =
        std::strcmp(argument, "--frame-gap") == 0 || std::strcmp(argument, "--dedupe") == 0 ||
        std::strcmp(argument, "--watch") == 0 || std::strcmp(argument, "--timestamps") == 0 ||
        std::strncmp(argument, "--mqtt", 6) == 0 || std::strncmp(argument, "--spool", 7) == 0 ||
        std::strncmp(argument, "--log", 5) == 0 || std::strcmp(argument, "--quiet") == 0 ||
        std::strcmp(argument, "--silent-after") == 0 || std::strcmp(argument, "--one-line") == 0;
    if (reading && readingOption == nullptr) {
      readingOption = argument;
    }
    const TextOption* text = nullptr;
    for (const TextOption& option : kTextOptions) {
      if (std::strcmp(argument, option.flag) == 0) {
        text = &option;
      }
    }
    const bool ownOption =
        text != nullptr && (text->field == &Arguments::log || text->field == &Arguments::names);
    if ((text != nullptr && !ownOption) || std::strcmp(argument, "--spool-size") == 0 ||
        std::strcmp(argument, "--quiet") == 0) {
      brokerOption = brokerOption != nullptr ? brokerOption : argument;
    }
    if (text != nullptr || std::strcmp(argument, "--mqtt") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        parsed.action = Arguments::Action::kMisused;
        parsed.problem = std::string(argument) + " takes a value, and none was given";
        return parsed;
      }
      if (text != nullptr) {
        parsed.*(text->field) = argv[++i];
      } else {
        parsed.mqtt = argv[++i];
      }
    } else if (std::strcmp(argument, "--spool-size") == 0 ||
               std::strcmp(argument, "--log-size") == 0) {
      const char* value = i + 1 < argc ? argv[++i] : nullptr;
      const std::optional<uint64_t> size = Bytes(value);
      if (!size) {
        parsed.action = Arguments::Action::kMisused;
        parsed.problem = NotBytes(argument, value);
        return parsed;
      }
      (argument[2] == 's' ? parsed.spoolBytes : parsed.logBytes) = *size;
      if (argument[2] == 'l') {
        logOption = logOption != nullptr ? logOption : argument;
      }
    } else if (std::strcmp(argument, "--silent-after") == 0) {
      const char* value = i + 1 < argc ? argv[++i] : nullptr;
      const std::optional<long> seconds = Milliseconds(value, kMaxSilentAfterSeconds);
      if (!seconds) {
        parsed.action = Arguments::Action::kMisused;
        parsed.problem = NotWhole(argument, "seconds", kMaxSilentAfterSeconds, value);
        return parsed;
      }
      parsed.silentAfter = std::chrono::seconds(*seconds);
      silentOption = argument;
    } else if (std::strcmp(argument, "--log-keep") == 0) {
      const char* value = i + 1 < argc ? argv[++i] : nullptr;
      const std::optional<long> keep = Milliseconds(value, kMostLogKeep);
      if (!keep) {
        parsed.action = Arguments::Action::kMisused;
        parsed.problem = NotWhole(argument, "files", kMostLogKeep, value);
        return parsed;
      }
      parsed.logKeep = static_cast<int>(*keep);
      logOption = logOption != nullptr ? logOption : argument;
    } else if (std::strcmp(argument, "--quiet") == 0) {
      parsed.quiet = true;
    } else if (std::strcmp(argument, "--frame-gap") == 0) {
      const char* value = i + 1 < argc ? argv[++i] : nullptr;
      const std::optional<long> gap = Milliseconds(value, kMaxFrameGapMs);
      if (!gap) {
        parsed.action = Arguments::Action::kMisused;
        parsed.problem = NotMilliseconds(argument, kMaxFrameGapMs, value);
        return parsed;
      }
      parsed.frameGap = std::chrono::milliseconds(*gap);
    } else if (std::strcmp(argument, "--dedupe") == 0) {
      const char* value = i + 1 < argc ? argv[++i] : nullptr;
      const std::optional<long> time = Milliseconds(value, kMaxDedupeMs);
      if (!time) {
        parsed.action = Arguments::Action::kMisused;
        parsed.problem = NotMilliseconds(argument, kMaxDedupeMs, value);
        return parsed;
      }
      parsed.dedupe = std::chrono::milliseconds(*time);
    } else if (std::strcmp(argument, "--json") == 0) {
      parsed.json = true;
    } else if (std::strcmp(argument, "--one-line") == 0) {
      parsed.oneLine = true;
    } else if (std::strcmp(argument, "--watch") == 0) {
      parsed.watch = true;
    } else if (std::strcmp(argument, "--timestamps") == 0) {
      parsed.timestamps = true;
    } else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
      help = true;
    } else if (std::strcmp(argument, "--version") == 0) {
      version = true;
    } else if (std::strcmp(argument, "--list") == 0) {
      list = true;
    } else {
      parsed.action = Arguments::Action::kMisused;
      parsed.unknown = argument;
      return parsed;
    }
  }
  if (list && readingOption != nullptr) {
    // Said rather than ignored: an operator who adds --watch to a listing
    // expects it to watch.
    parsed.action = Arguments::Action::kMisused;
    parsed.problem =
        std::string(
            "--list reads no bridge and goes with no option but --json and --names, not \"") +
        readingOption + "\"";
    return parsed;
  }
  if (!list && brokerOption != nullptr && !parsed.mqtt) {
    parsed.action = Arguments::Action::kMisused;
    parsed.problem = std::string(brokerOption) + " goes with --mqtt";
    return parsed;
  }
  if (!list && silentOption != nullptr && !parsed.watch) {
    parsed.action = Arguments::Action::kMisused;
    parsed.problem = "--silent-after goes with --watch";
    return parsed;
  }
  if (!list && logOption != nullptr && parsed.log.empty()) {
    parsed.action = Arguments::Action::kMisused;
    parsed.problem = std::string(logOption) + " goes with --log";
    return parsed;
  }
  if (!list && parsed.mqtt && !parsed.watch && FrameGap(parsed).count() == 0) {
    // The sweep with one block per read ends at the first bridge that is
    // read to its end: a broker is fed by a run meant to last.
    parsed.action = Arguments::Action::kMisused;
    parsed.problem = "--mqtt goes with --watch, or with --frame-gap above 0";
    return parsed;
  }
  if (help) {
    parsed.action = Arguments::Action::kHelp;
  } else if (version) {
    parsed.action = Arguments::Action::kVersion;
  } else if (list) {
    parsed.action = Arguments::Action::kList;
  }
  return parsed;
}

std::chrono::milliseconds FrameGap(const Arguments& arguments) {
  if (arguments.frameGap) {
    return *arguments.frameGap;
  }
  return arguments.watch ? kStationFrameGap : std::chrono::milliseconds(0);
}

const char* UsageText() {
  return "usage: kestrune [--watch] [--frame-gap MS] [--timestamps] [--json] [--dedupe MS]\n"
         "                [--mqtt URL [--mqtt-id ID] [--mqtt-credentials FILE] [--spool DIR]\n"
         "                 [--spool-size SIZE] [--quiet]]\n"
         "                [--log FILE [--log-size SIZE] [--log-keep N]] [--one-line]\n"
         "                [--names FILE] [--silent-after SECONDS]\n"
         "       kestrune --list [--json] [--names FILE] | --help | --version\n"
         "       kestrune service install [OPTIONS...] | service uninstall\n";
}

const char* HelpText() {
  // The usage first, as a misused command line shows it.
  static const std::string help =
      std::string(UsageText()) +
      "\n"
      "Watches CP2110 HID-to-UART bridges and prints every block of bytes that arrives\n"
      "on their lines. With no arguments: connects to each attached bridge in turn,\n"
      "reads it until it fails, then goes on to the next; ends when every bridge has\n"
      "been visited.\n"
      "\n"
      "For tag readers, run a station: every reader at once, each tag whole, a tag\n"
      "held in a reader's field once, readers by their names, a log that rotates:\n"
      "  kestrune --watch --dedupe 1000 --names readers.txt --one-line \\\n"
      "           --log station.log [--mqtt mqtt://BROKER/kestrune/SITE]\n"
      "(as a service: kestrune.service on Linux, kestrune service install on\n"
      "Windows).\n"
      "\n"
      "  --watch       station mode: reads every attached bridge at once, connects a\n"
      "                bridge attached later, and runs until Ctrl+C or SIGTERM;\n"
      "                frames by silence with a gap of 20 ms unless --frame-gap says\n"
      "                otherwise. A bridge that cannot be connected gets\n"
      "                  Error: SERIAL: STATUS TEXT\n"
      "                and one whose read fails\n"
      "                  Disconnected from SERIAL: STATUS TEXT\n"
      "                and is connected again when it is listed again.\n"
      "  --frame-gap MS\n"
      "                gathers a bridge's bytes into one block until its line has\n"
      "                been quiet for MS milliseconds (0 to 60000), so that each tag\n"
      "                is reported whole; 0 reports each read as it comes.\n"
      "  --timestamps  starts each report's header line (with --watch, each line\n"
      "                that names a bridge) with the local time, e.g.\n"
      "                  2025-03-01T14:05:09.372+01:00 >>>[DATA FROM S1, 5 BYTE]\n"
      "  --json        writes one JSON object per event instead of these lines\n"
      "                (format 2); json-lines.md describes every event and field\n"
      "                (in /usr/share/doc/kestrune; on Windows beside kestrune.exe).\n"
      "  --dedupe MS   a tag held in a reader's field is reported once: a block equal\n"
      "                to the bridge's previous block, coming less than MS\n"
      "                milliseconds (0 to 3600000) after it, is left out. Needs\n"
      "                framing (--frame-gap, or --watch). 0: off.\n"
      "  --mqtt URL    with --watch, or --frame-gap above 0: also publishes every\n"
      "                event to an MQTT broker, URL mqtt://HOST[:PORT]/TOPIC; each\n"
      "                waits in a spool on disk until the broker has it.\n"
      "  --mqtt-id ID  the client id (default kestrune-HOSTNAME).\n"
      "  --mqtt-credentials FILE\n"
      "                user name (first line) and password (second line); without\n"
      "                it, KESTRUNE_MQTT_USERNAME and KESTRUNE_MQTT_PASSWORD.\n"
      "  --spool DIR   where events wait for the broker; one station per folder.\n"
      "  --spool-size SIZE\n"
      "                the most the spool holds (64K to 1024G, K/M/G binary; 64M).\n"
      "  --quiet       with --mqtt: nothing on standard output.\n"
      "  --log FILE    writes the lines (or --json) to FILE instead of standard\n"
      "                output, rotated by size (FILE.1, FILE.2, ...); no event is\n"
      "                ever split between two files.\n"
      "  --log-size SIZE\n"
      "                the size at which the log is rotated (64K to 1024G; 4M).\n"
      "  --log-keep N  older log files kept (0 to 100; 5).\n"
      "  --one-line    each event about a reader on one line that starts with its\n"
      "                time.\n"
      "  --names FILE  readers by name: lines \"SERIAL NAME\"; lines about a named\n"
      "                reader show \"SERIAL (NAME)\".\n"
      "  --silent-after SECONDS\n"
      "                with --watch: a line when a reader has delivered nothing for\n"
      "                that long, and one when it delivers again. 0: off.\n"
      "  --list        prints the bridge library in use and every attached bridge,\n"
      "                opening none, then exits. Goes with --json and --names alone.\n"
      "  service install [OPTIONS...]\n"
      "                Windows: installs the station, with OPTIONS, as the service\n"
      "                Kestrune (from an administrator's Command Prompt); \"service\n"
      "                uninstall\" stops and removes it.\n"
      "  -h, --help    prints this text and exits\n"
      "  --version     prints the program's version and exits\n"
      "\n"
      "Exit status:\n"
      "  0  every bridge visited, or stopped by Ctrl+C or SIGTERM; --list: listed\n"
      "  2  a misused command line\n"
      "  3  with --watch, --frame-gap or --list: standard output (or the log) failed\n"
      "     for good, or the log cannot be opened\n"
      "  4  with --mqtt: it can never work as given\n"
      "  5  service install or uninstall: the service manager refused\n"
      "\n"
      "All of it in full: the manual page (man kestrune); on Windows, MANUAL.txt\n"
      "beside kestrune.exe.\n";
  return help.c_str();
}

const char* VersionText() { return "kestrune " KESTRUNE_VERSION "\n"; }

void TellMisuse(const Arguments& arguments) {
  if (arguments.problem.empty()) {
    std::fprintf(stderr, "kestrune: unknown argument \"%s\"\n%s",
                 Printable(arguments.unknown.c_str()).text, UsageText());
  } else {
    std::fprintf(stderr, "kestrune: %s\n%s", Printable(arguments.problem.c_str()).text,
                 UsageText());
  }
  std::fputs("Run kestrune --help for what each option does.\n", stderr);
}
