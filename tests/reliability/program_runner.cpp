// SPDX-License-Identifier: Apache-2.0
#include "program_runner.h"

#include <sys/stat.h>

#include <cstdio>

namespace runner {

namespace {

std::string WorkPath(const std::string& name) {
  mkdir(KESTRUNE_RELIABILITY_WORK_DIR, 0755);
  return std::string(KESTRUNE_RELIABILITY_WORK_DIR) + "/" + name;
}

}  // namespace

Child Start(const Options& options) {
  Child child;
  child.outputFile = WorkPath(options.name + ".out");
  child.errorFile = WorkPath(options.name + ".err");
  child.callLog = WorkPath(options.name + ".calls");
  std::remove(child.outputFile.c_str());
  std::remove(child.errorFile.c_str());
  std::remove(child.callLog.c_str());

  process::Launch launch;
  launch.arguments = {KESTRUNE_PROGRAM};
  launch.scenario = std::string(KESTRUNE_RELIABILITY_SCENARIOS) + "/" + options.scenario;
  launch.callLog = child.callLog;
  launch.output = options.output;
  launch.outputFile = child.outputFile;
  launch.error = options.closeStdinAndStderr ? process::Stream::kClosed : process::Stream::kFile;
  launch.errorFile = child.errorFile;
  launch.closeInput = options.closeStdinAndStderr;
  launch.ignoreSigpipe = options.ignoreSigpipe;
  const process::Child started = process::Start(launch);
  child.pid = started.pid;
  child.pipe = started.output;
  return child;
}

}  // namespace runner
