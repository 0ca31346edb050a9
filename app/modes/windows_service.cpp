// SPDX-License-Identifier: Apache-2.0
#include "modes/windows_service.h"

#include <cstdio>
#include <cstring>

#include "cli/arguments.h"
#include "modes/run.h"
#include "text/device_text.h"

#if !defined(_WIN32)

int ServiceCommand(int /*argc*/, char* /*argv*/[]) {
  std::fputs(
      "kestrune: the service commands are for Windows; on Linux the package's systemd unit runs "
      "the station (kestrune.service)\n",
      stderr);
  return kMisusedStatus;
}

#else

#include <mutex>

#include "modes/service_manager.h"
#include "platform/stop_request.h"

namespace {

// What the service's thread and the manager's control thread share.
struct RunningService {
  Arguments arguments;
  int status = kRunFinished;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex mutex;  // guards report
  SERVICE_STATUS report{};
};
RunningService running;

// Tells the manager the service's state; pending states advance the
// checkpoint so that the manager sees progress.
void ReportLocked(DWORD state, DWORD waitHintMs) {
  running.report.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  running.report.dwCurrentState = state;
  running.report.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  running.report.dwWaitHint = waitHintMs;
  running.report.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING
                                    ? running.report.dwCheckPoint + 1
                                    : 0;
  SetServiceStatus(running.handle, &running.report);
}

void Report(DWORD state, DWORD waitHintMs = 0) {
  const std::lock_guard<std::mutex> lock(running.mutex);
  ReportLocked(state, waitHintMs);
}

// Stopped with the run's status: a status other than 0 is a failure, which
// the manager answers with a restart.
void ReportStopped(int status) {
  const std::lock_guard<std::mutex> lock(running.mutex);
  running.report.dwWin32ExitCode = status == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  running.report.dwServiceSpecificExitCode = static_cast<DWORD>(status);
  ReportLocked(SERVICE_STOPPED, 0);
}

// Runs on the manager's thread and must return at once: the station sees
// the stop request and ends on the service's own thread.
DWORD WINAPI OnServiceControl(DWORD control, DWORD /*type*/, void* /*data*/, void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
      const std::lock_guard<std::mutex> lock(running.mutex);
      // A run that has ended by itself is not taken back to STOP_PENDING.
      if (running.report.dwCurrentState == SERVICE_RUNNING) {
        ReportLocked(SERVICE_STOP_PENDING, kPendingWaitHintMs);
        RequestStop();
      }
      return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD /*argc*/, wchar_t** /*argv*/) {
  running.handle = RegisterServiceCtrlHandlerExW(kServiceNameW, OnServiceControl, nullptr);
  if (running.handle == nullptr) {
    running.status = kServiceManagerFailedStatus;
    return;
  }
  Report(SERVICE_START_PENDING, kPendingWaitHintMs);
  if (running.arguments.action != Arguments::Action::kRun) {
    // Stored options that no longer parse (edited in the registry, or a
    // program replaced by one that reads them otherwise): a setting to mend.
    running.status = kMisusedStatus;
    ReportStopped(running.status);
    return;
  }
  RunHooks hooks;
  hooks.consoleStops = false;
  hooks.started = [] { Report(SERVICE_RUNNING); };
  running.status = RunReading(running.arguments, hooks);
  ReportStopped(running.status);
}

// `service run OPTIONS...`: hands the thread to the manager's dispatcher,
// which runs ServiceMain; returns the run's status once the service has
// stopped, 2 when started from a console, kServiceManagerFailedStatus when
// the dispatcher fails otherwise.
int Run(int argc, char* argv[]) {
  std::vector<const char*> options{argv[0]};
  for (int i = 3; i < argc; ++i) {
    options.push_back(argv[i]);
  }
  running.arguments = ParseArguments(static_cast<int>(options.size()), options.data());
  if (running.arguments.action != Arguments::Action::kRun) {
    running.arguments.action = Arguments::Action::kMisused;
  }
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceNameW), ServiceMain},
                                  {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      std::fputs(
          "kestrune: service run is started by the Service Control Manager; use kestrune "
          "service install\n",
          stderr);
      return kMisusedStatus;
    }
    std::fprintf(stderr, "kestrune: the service could not reach its manager: %s\n",
                 SystemMessage(error).c_str());
    return kServiceManagerFailedStatus;
  }
  return running.status;
}

}  // namespace

int ServiceCommand(int argc, char* argv[]) {
  const char* command = argc >= 3 ? argv[2] : "";
  if (std::strcmp(command, "install") == 0) {
    return InstallService(std::vector<std::string>(argv + 3, argv + argc));
  }
  if (std::strcmp(command, "uninstall") == 0 && argc == 3) {
    return UninstallService();
  }
  if (std::strcmp(command, "run") == 0) {
    return Run(argc, argv);
  }
  if (std::strcmp(command, "uninstall") == 0) {
    std::fprintf(stderr, "kestrune: service uninstall takes no options, not \"%s\"\n",
                 Printable(argv[3]).text);
  } else if (argc < 3) {
    std::fputs("kestrune: service takes install, uninstall or run, and none was given\n", stderr);
  } else {
    std::fprintf(stderr, "kestrune: service takes install, uninstall or run, not \"%s\"\n",
                 Printable(command).text);
  }
  std::fputs("usage: kestrune service install [OPTIONS...] | kestrune service uninstall\n", stderr);
  return kMisusedStatus;
}

#endif
