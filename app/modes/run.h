// SPDX-License-Identifier: Apache-2.0
// A run that reads bridges, as the command line asks: the default sweep, the
// framed sweep or station mode, with or without a broker. The console
// program and a service run it alike.
#ifndef KESTRUNE_APP_RUN_H
#define KESTRUNE_APP_RUN_H

#include <functional>

#include "cli/arguments.h"
#include "cli/exit_status.h"

struct RunHooks {
  /// Called once the run meant to last has started (its output, broker and
  /// stop handling ready), just before the first bridge is listed.
  std::function<void()> started;
  /// Whether the run should install the console's stop handlers (Ctrl+C,
  /// SIGTERM); a service is stopped through RequestStop instead.
  bool consoleStops = true;
};

/// Runs arguments (whose action is kRun) to their end and returns the exit
/// status.
int RunReading(const Arguments& arguments, const RunHooks& hooks = {});

/// Flushes what is left of the output and returns the status a run ends
/// with: kOutputFailedStatus once standard output has failed, else
/// kRunFinished.
int FinishOutputStatus();

#endif
