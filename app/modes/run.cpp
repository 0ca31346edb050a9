// SPDX-License-Identifier: Apache-2.0
#include "modes/run.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "broker/mqtt_publisher.h"
#include "cli/mqtt_settings.h"
#include "modes/station.h"
#include "modes/sweep.h"
#include "output/events.h"
#include "output/log_file.h"
#include "output/output.h"
#include "output/reader_names.h"
#include "platform/stop_request.h"
#include "platform/timer_period.h"
#include "text/device_text.h"

namespace {

// Gets the broker's client and its spool going; false after telling why not.
bool StartBroker(const Arguments& arguments) {
  MqttSettings settings;
  std::string problem;
  if (!MakeMqttSettings(
          arguments, [](const char* name) { return std::getenv(name); }, settings, problem)) {
    Notice(PrintableString(problem));
    return false;
  }
  settings.tell = [](const std::string& line) { Notice(line); };
  if (!StartPublishing(settings, problem)) {
    Notice(PrintableString(problem));
    return false;
  }
  return true;
}

}  // namespace

int RunReading(const Arguments& arguments, const RunHooks& hooks) {
  SetOutputFormat(arguments.json ? OutputFormat::kJsonLines : OutputFormat::kHuman);
  SetOneLinePerEvent(arguments.oneLine);
  CaptureOptions capture;
  capture.timestamps = arguments.timestamps;
  capture.frameGap = FrameGap(arguments);
  capture.dedupe = arguments.dedupe;
  const bool framing = capture.frameGap.count() > 0;
  if (!arguments.log.empty()) {
    std::string problem;
    if (!LogToFile(arguments.log, arguments.logBytes != 0 ? arguments.logBytes : kDefaultLogBytes,
                   arguments.logKeep >= 0 ? arguments.logKeep : kDefaultLogKeep, problem)) {
      std::fprintf(stderr, "kestrune: the log %s cannot be opened: %s\n",
                   PrintableString(arguments.log).c_str(), problem.c_str());
      return kOutputFailedStatus;
    }
  }
  if (!arguments.names.empty() && !ReadersNamed()) {
    // Read here for a run that the console did not start (a service), so
    // that a names file that cannot be used is told in its log.
    std::string message;
    if (!UseNamesFile(arguments.names, message)) {
      Notice(message);
      return kMisusedStatus;
    }
  }
  if (!arguments.watch && !framing) {
    // One block per read, with no handler of signals and no notice taken of
    // a failing output: the run as it always was.
    EmitBanner();
    SweepDevices(SweepOptions{capture, {}});
    return kRunFinished;
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
  BeginPublishing();
  EmitBanner();
  const FineTimerPeriod timerPeriod(true);
  // A block still being gathered when the operator stops the run is reported
  // before the program ends.
  if (hooks.consoleStops) {
    InstallStopHandlers();
  }
  const auto stopping = [] { return StopRequested() || OutputFailed() || PublishingRefused(); };
  if (hooks.started) {
    hooks.started();
  }
  if (arguments.watch) {
    StationOptions options;
    options.capture = capture;
    options.stopRequested = stopping;
    options.silentAfter = arguments.silentAfter;
    WatchStation(options);
  } else {
    SweepDevices(SweepOptions{capture, stopping});
  }
  if (StopRequested()) {
    EmitStop();
  }
  const bool refused = PublishingRefused();
  FinishPublishing();
  const int finished = FinishOutputStatus();
  const int status = refused ? kBrokerUnusableStatus : finished;
  ConfirmStopped();
  return status;
}

int FinishOutputStatus() {
  FinishOutput();
  return OutputFailed() ? kOutputFailedStatus : kRunFinished;
}
