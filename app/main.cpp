// Kestrune: watches every attached CP2110 bridge and prints what arrives.
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

#include "arguments.h"
#include "bridge_list.h"
#include "device_text.h"
#include "events.h"
#include "mqtt_publisher.h"
#include "mqtt_settings.h"
#include "output.h"
#include "station.h"
#include "stop_request.h"
#include "sweep.h"
#include "timer_period.h"

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

// Standard output failed for good: a service manager restarts the program.
constexpr int kOutputFailedStatus = 3;
// --mqtt can never work as given (its URL or credentials, or the spool):
// starting again cannot mend it.
constexpr int kBrokerUnusableStatus = 4;

int Finish() {
  FinishOutput();
  return OutputFailed() ? kOutputFailedStatus : 0;
}

// Gets the broker's client and its spool going; false after telling why not.
bool StartBroker(const Arguments& arguments) {
  MqttSettings settings;
  std::string problem;
  if (!MakeMqttSettings(
          arguments, [](const char* name) { return std::getenv(name); }, settings, problem) ||
      !StartPublishing(settings, problem)) {
    std::fprintf(stderr, "kestrune: %s\n", PrintableString(problem).c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  HoldStandardDescriptors();
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
    return 2;
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
    return 0;
  }

  SetOutputFormat(arguments.json ? OutputFormat::kJsonLines : OutputFormat::kHuman);
  CaptureOptions capture;
  capture.timestamps = arguments.timestamps;
  capture.frameGap = FrameGap(arguments);
  capture.dedupe = arguments.dedupe;
  const bool framing = capture.frameGap.count() > 0;
  if (!arguments.watch && !framing) {
    // One block per read, with no handler of signals and no notice taken of
    // a failing output: the run as it always was.
    EmitBanner();
    SweepDevices(SweepOptions{capture, {}});
    return 0;
  }
  if (arguments.mqtt && !StartBroker(arguments)) {
    return kBrokerUnusableStatus;
  }
  if (arguments.quiet) {
    SilenceOutput();
  }
  // A run meant to last, often unattended: an output that has failed for
  // good stops it, with every bridge closed, so that it can be started again.
  WatchOutput();
  // Readers never wait for standard output: a consumer that stalls holds
  // the writer alone.
  QueueOutput();
  EmitBanner();
  const FineTimerPeriod timerPeriod(true);
  // A block still being gathered when the operator stops the run is reported
  // before the program ends.
  InstallStopHandlers();
  const auto stopping = [] { return StopRequested() || OutputFailed() || PublishingRefused(); };
  if (arguments.watch) {
    StationOptions options;
    options.capture = capture;
    options.stopRequested = stopping;
    WatchStation(options);
  } else {
    SweepDevices(SweepOptions{capture, stopping});
  }
  if (StopRequested()) {
    EmitStop();
  }
  const bool refused = PublishingRefused();
  FinishPublishing();
  const int finished = Finish();
  const int status = refused ? kBrokerUnusableStatus : finished;
  ConfirmStopped();
  return status;
}
