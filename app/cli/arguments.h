// SPDX-License-Identifier: Apache-2.0
// The command line: which mode the program runs in, or what it prints instead.
#ifndef KESTRUNE_APP_ARGUMENTS_H
#define KESTRUNE_APP_ARGUMENTS_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct Arguments {
  enum class Action {
    kRun,      // read bridges, as the flags below say
    kHelp,     // print the help text and exit 0
    kVersion,  // print the version line and exit 0
    kList,     // list the bridge library and the attached bridges, exit 0
    kMisused,  // an argument the program does not know or cannot take: usage, exit 2
  };
  Action action = Action::kRun;
  bool watch = false;       // station mode
  bool timestamps = false;  // local time before each report's header
  bool json = false;        // JSON Lines on standard output instead of the human lines
  bool oneLine = false;     // --one-line: one human line per event, with its time
  // --dedupe, as given (0: off); the last one counts.
  std::chrono::milliseconds dedupe{0};
  // --frame-gap, as given; the last one counts.
  std::optional<std::chrono::milliseconds> frameGap;
  // --mqtt URL, as given (checked when the run starts); empty: no broker.
  std::optional<std::string> mqtt;
  std::string mqttId;                   // --mqtt-id; empty: the default
  std::string mqttCredentials;          // --mqtt-credentials FILE
  std::string spool;                    // --spool DIR; empty: the default
  uint64_t spoolBytes = 0;              // --spool-size; 0: kDefaultSpoolBytes
  bool quiet = false;                   // --quiet: nothing on standard output
  std::string names;                    // --names FILE; empty: readers have no names
  std::chrono::seconds silentAfter{0};  // --silent-after; 0: off
  std::string log;                      // --log FILE; empty: standard output
  uint64_t logBytes = 0;                // --log-size; 0: kDefaultLogBytes
  int logKeep = -1;                     // --log-keep; -1: kDefaultLogKeep
  std::string unknown;                  // for kMisused: the first unknown argument
  std::string problem;  // for kMisused: the whole message, when not an unknown argument
};

/// The longest frame gap accepted, in milliseconds.
constexpr long kMaxFrameGapMs = 60000;
/// The longest dedupe time accepted, in milliseconds: an hour.
constexpr long kMaxDedupeMs = 3600000;
/// The longest --silent-after accepted, in seconds: a week.
constexpr long kMaxSilentAfterSeconds = 604800;
/// The spool's bound unless --spool-size says otherwise, and the range it
/// takes.
constexpr uint64_t kDefaultSpoolBytes = uint64_t{64} << 20;
constexpr uint64_t kSmallestSpoolBytes = uint64_t{64} << 10;
constexpr uint64_t kLargestSpoolBytes = uint64_t{1} << 40;
/// The gap station mode frames with unless told otherwise.
constexpr std::chrono::milliseconds kStationFrameGap{20};

/// Reads argv[1..argc-1]. Flags may come in any order and more than once;
/// "--frame-gap MS" takes a whole number of milliseconds from 0 to
/// kMaxFrameGapMs, "--dedupe MS" one from 0 to kMaxDedupeMs, "--spool-size
/// SIZE" a number of bytes with an optional K, M or G (binary) in the range
/// above. --mqtt goes with --watch or a frame gap above 0; --mqtt-id,
/// --mqtt-credentials, --spool, --spool-size and --quiet go with --mqtt. --list goes with
/// --json alone: with an option of the reading modes it is a misuse. A misused
/// argument wins over everything else; then --help, then --version, then --list.
Arguments ParseArguments(int argc, const char* const argv[]);

/// The frame gap the run uses: the one given, else kStationFrameGap in
/// station mode, else 0 (one block per read).
std::chrono::milliseconds FrameGap(const Arguments& arguments);

/// The full help text, for standard output.
const char* HelpText();

/// The short usage, for standard error after a misused command line.
const char* UsageText();

/// "kestrune X.Y.Z".
const char* VersionText();

/// For a misused command line: says what is wrong, the usage and where help
/// is, on standard error.
void TellMisuse(const Arguments& arguments);

#endif
