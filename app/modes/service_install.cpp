// SPDX-License-Identifier: Apache-2.0
// `kestrune service install` and `kestrune service uninstall`: the service
// as the Service Control Manager keeps it.
#if defined(_WIN32)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/exit_status.h"
#include "modes/service_manager.h"
#include "modes/windows_service.h"
#include "text/device_text.h"

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

namespace {

// How long the manager waits after a failure before it starts the service
// again, and after how long without a failure it forgets the count.
constexpr DWORD kRestartDelayMs = 5000;
constexpr DWORD kFailureCountResetS = 24 * 60 * 60;
// How long uninstall waits for a running service to stop.
constexpr std::chrono::seconds kStopBound{30};

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

}  // namespace

int InstallService(const std::vector<std::string>& given) {
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

int UninstallService() {
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

#endif
