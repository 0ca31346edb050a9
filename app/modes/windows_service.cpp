// SPDX-License-Identifier: Apache-2.0
#include "modes/windows_service.h"

#include <cstdio>
#include <cstring>

#include "cli/arguments.h"
#include "modes/run.h"
#include "text/device_text.h"

#if defined(_WIN32)
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/stop_request.h"
#endif

namespace {

// Options that print something and end, or list bridges: a service has no
// one to show it to, and the manager would restart it over and over.
bool EndsAtOnce(const std::string& option) {
  return option == "--help" || option == "-h" || option == "--version" || option == "--list";
}

bool Contains(const std::vector<std::string>& options, const char* option) {
  for (const std::string& given : options) {
    if (given == option) {
      return true;
    }
  }
  return false;
}

}  // namespace

ServiceOptions MakeServiceOptions(const std::vector<std::string>& given,
                                  const std::string& folder) {
  ServiceOptions options;
  for (const std::string& option : given) {
    if (EndsAtOnce(option)) {
      options.problem = "a service reads bridges: \"" + option + "\" has no place in its options";
      return options;
    }
  }
  // Added in front, so that an option left without its value at the end
  // is still said to be missing it.
  std::vector<std::string> stored;
  if (!Contains(given, "--watch")) {
    stored.push_back("--watch");
  }
  // A service's log is read in a file: one line per event, and the readers
  // by their names.
  if (!folder.empty() && !Contains(given, "--one-line") && !Contains(given, "--json")) {
    stored.push_back("--one-line");
  }
  if (!folder.empty() && !Contains(given, "--log")) {
    stored.push_back("--log");
    stored.push_back(folder + "\\kestrune.log");
  }
  if (!folder.empty() && !Contains(given, "--names")) {
    stored.push_back("--names");
    stored.push_back(folder + "\\names.txt");
  }
  stored.insert(stored.end(), given.begin(), given.end());
  std::vector<const char*> argv{"kestrune"};
  for (const std::string& option : stored) {
    argv.push_back(option.c_str());
  }
  const Arguments parsed = ParseArguments(static_cast<int>(argv.size()), argv.data());
  if (parsed.action == Arguments::Action::kMisused) {
    options.problem =
        parsed.problem.empty() ? "unknown argument \"" + parsed.unknown + "\"" : parsed.problem;
    return options;
  }
  options.stored = std::move(stored);
  return options;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

#if !defined(_WIN32)

int ServiceCommand(int /*argc*/, char* /*argv*/[]) {
  std::fputs(
      "kestrune: the service commands are for Windows; on Linux the package's systemd unit runs "
      "the station (kestrune.service)\n",
      stderr);
  return kMisusedStatus;
}

#else

namespace {

constexpr const wchar_t* kServiceNameW = L"Kestrune";
constexpr const wchar_t* kDisplayName = L"Kestrune station";
constexpr const wchar_t* kDescription =
    L"Reads every attached CP2110 tag reader and reports each tag (kestrune --watch).";
// How long the manager waits after a failure before it starts the service
// again, and after how long without a failure it forgets the count.
constexpr DWORD kRestartDelayMs = 5000;
constexpr DWORD kFailureCountResetS = 24 * 60 * 60;
// A stop completes the blocks still arriving (a frame gap, at most 60 s in
// theory, 20 ms in practice) and closes every bridge: a second or so.
constexpr DWORD kPendingWaitHintMs = 10000;
// How long uninstall waits for a running service to stop.
constexpr std::chrono::seconds kStopBound{30};

// The system's message for error, on one line, with its number.
std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = text != nullptr ? text : "";
  LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  for (char& c : message) {
    if (c == '\r' || c == '\n') {
      c = ' ';
    }
  }
  if (message.empty()) {
    message = "error";
  }
  return message + " (" + std::to_string(error) + ")";
}

// Says why the manager refused what (a verb such as "installing") and
// returns kServiceManagerFailedStatus.
int ManagerRefused(const char* what, DWORD error) {
  if (error == ERROR_ACCESS_DENIED) {
    std::fprintf(stderr,
                 "kestrune: %s the service needs an administrator: run the Command Prompt as "
                 "administrator\n",
                 what);
  } else {
    std::fprintf(stderr, "kestrune: %s the service failed: %s\n", what,
                 SystemMessage(error).c_str());
  }
  return kServiceManagerFailedStatus;
}

struct ServiceHandle {
  SC_HANDLE handle;
  explicit ServiceHandle(SC_HANDLE opened) : handle(opened) {}
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  ~ServiceHandle() {
    if (handle != nullptr) {
      CloseServiceHandle(handle);
    }
  }
};

// The arguments (in the system's ANSI code page, as main receives them) in
// UTF-16, for the manager.
std::wstring Wide(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// The full path of this program; empty if the system cannot say.
std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The value stored after --log, or empty.
std::string LogFile(const std::vector<std::string>& stored) {
  for (size_t i = 0; i + 1 < stored.size(); ++i) {
    if (stored[i] == "--log") {
      return stored[i + 1];
    }
  }
  return {};
}

// `service install OPTIONS...`: 0 when installed, 2 for options a service
// cannot take, kServiceManagerFailedStatus when the manager (or the log's
// folder) refused or the service is installed already.
int Install(const std::vector<std::string>& given) {
  const char* data = std::getenv("ProgramData");
  const std::string folder =
      std::string(data != nullptr && *data != '\0' ? data : "C:\\ProgramData") + "\\Kestrune";
  const ServiceOptions options = MakeServiceOptions(given, folder);
  if (!options.problem.empty()) {
    std::fprintf(stderr, "kestrune: %s\n", PrintableString(options.problem).c_str());
    std::fputs(
        "usage: kestrune service install [OPTIONS...] | kestrune service uninstall\n"
        "Run kestrune --help for what each option does.\n",
        stderr);
    return kMisusedStatus;
  }
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (manager.handle == nullptr) {
    return ManagerRefused("installing", GetLastError());
  }
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    std::fprintf(stderr, "kestrune: cannot make the service's folder %s: %s\n", folder.c_str(),
                 SystemMessage(GetLastError()).c_str());
    return kServiceManagerFailedStatus;
  }
  // The names file the service reads, kept if there is one: an operator
  // fills it in, and it is read at each start.
  const std::string names = folder + "\\names.txt";
  // Made only when missing (CREATE_NEW): an operator's file is kept.
  const HANDLE created = CreateFileA(names.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created != INVALID_HANDLE_VALUE) {
    static constexpr char kNamesHeader[] =
        "# Names of the readers, one per line: SERIAL NAME (the serial string as the\r\n"
        "# log shows it; in double quotes if it holds a space). Then restart the\r\n"
        "# service: sc stop Kestrune, sc start Kestrune.\r\n"
        "# SIM0001 North door\r\n";
    DWORD written = 0;
    WriteFile(created, kNamesHeader, sizeof kNamesHeader - 1, &written, nullptr);
    CloseHandle(created);
  }
  if (GetFileAttributesA(names.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // The service would refuse to start without it.
    std::fprintf(stderr, "kestrune: cannot make the service's names file %s: %s\n", names.c_str(),
                 SystemMessage(GetLastError()).c_str());
    return kServiceManagerFailedStatus;
  }
  const std::wstring program = ProgramPath();
  if (program.empty()) {
    return ManagerRefused("installing", GetLastError());
  }
  std::wstring commandLine = L"\"" + program + L"\" service run";
  for (const std::string& option : options.stored) {
    commandLine += L" " + Wide(QuoteArgument(option));
  }
  const ServiceHandle service(
      CreateServiceW(manager.handle, kServiceNameW, kDisplayName, SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                     commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (service.handle == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS || error == ERROR_DUPLICATE_SERVICE_NAME) {
      std::fprintf(stderr,
                   "kestrune: the service %s is installed already; kestrune service uninstall "
                   "removes it\n",
                   kServiceName);
      return kServiceManagerFailedStatus;
    }
    return ManagerRefused("installing", error);
  }
  SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
  SC_ACTION restarts[3] = {{SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs}};
  SERVICE_FAILURE_ACTIONSW failureActions{};
  failureActions.dwResetPeriod = kFailureCountResetS;
  failureActions.cActions = 3;
  failureActions.lpsaActions = restarts;
  // Without the flag only a crash counts as a failure; the station ends with
  // a status of its own (3: its output failed) and should be restarted too.
  SERVICE_FAILURE_ACTIONS_FLAG failureFlag{TRUE};
  if (!ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_DESCRIPTION, &description) ||
      !ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions)) {
    // A service that would not be restarted is not what was asked for.
    const DWORD error = GetLastError();
    DeleteService(service.handle);
    return ManagerRefused("installing", error);
  }
  if (!ChangeServiceConfig2W(service.handle, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &failureFlag)) {
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_LEVEL) {
      DeleteService(service.handle);
      return ManagerRefused("installing", error);
    }
    // Windows knows the flag; a manager that does not (wine's) still
    // restarts the service after a crash.
    std::fprintf(stderr,
                 "kestrune: this service manager restarts the service after a crash only, not "
                 "after an exit status other than 0\n");
  }
  const std::string log = LogFile(options.stored);
  std::printf(
      "kestrune: installed the service %s (starts with the system, restarted 5 s after a "
      "failure; sc start %s starts it now); %s%s\n",
      kServiceName, kServiceName,
      log.empty() ? "its output is not kept" : "its log: ", PrintableString(log).c_str());
  return kRunFinished;
}

// `service uninstall`: stops the service if it runs (waiting at most
// kStopBound) and removes it. 0 when removed, kServiceManagerFailedStatus
// when it is not installed, the manager refused, or it did not stop in time
// (it is then removed once it stops).
int Uninstall() {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.handle == nullptr) {
    return ManagerRefused("uninstalling", GetLastError());
  }
  const ServiceHandle service(
      OpenServiceW(manager.handle, kServiceNameW, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (service.handle == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::fprintf(stderr, "kestrune: the service %s is not installed\n", kServiceName);
      return kServiceManagerFailedStatus;
    }
    return ManagerRefused("uninstalling", error);
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.handle, &status)) {
    return ManagerRefused("uninstalling", GetLastError());
  }
  bool stopped = status.dwCurrentState == SERVICE_STOPPED;
  if (!stopped) {
    if (status.dwCurrentState != SERVICE_STOP_PENDING &&
        !ControlService(service.handle, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
      return ManagerRefused("uninstalling", GetLastError());
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopBound;
    while (!(stopped = QueryServiceStatus(service.handle, &status) &&
                       status.dwCurrentState == SERVICE_STOPPED) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
  if (!DeleteService(service.handle)) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
      std::fprintf(stderr, "kestrune: the service %s is being removed already\n", kServiceName);
      return kServiceManagerFailedStatus;
    }
    return ManagerRefused("uninstalling", error);
  }
  if (!stopped) {
    std::fprintf(stderr,
                 "kestrune: the service %s did not stop within %d s; it is removed once it "
                 "stops\n",
                 kServiceName, static_cast<int>(kStopBound.count()));
    return kServiceManagerFailedStatus;
  }
  std::printf("kestrune: stopped and removed the service %s; its log files are kept\n",
              kServiceName);
  return kRunFinished;
}

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
    return Install(std::vector<std::string>(argv + 3, argv + argc));
  }
  if (std::strcmp(command, "uninstall") == 0 && argc == 3) {
    return Uninstall();
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
