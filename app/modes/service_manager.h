// SPDX-License-Identifier: Apache-2.0
// What the service's commands share on Windows: the manager's names for the
// service, its handles, and how a refusal of the system is told.
#ifndef KESTRUNE_APP_MODES_SERVICE_MANAGER_H
#define KESTRUNE_APP_MODES_SERVICE_MANAGER_H

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <vector>

constexpr const wchar_t* kServiceNameW = L"Kestrune";
constexpr const wchar_t* kDisplayName = L"Kestrune station";
constexpr const wchar_t* kDescription =
    L"Reads every attached CP2110 tag reader and reports each tag (kestrune --watch).";
/// A stop completes the blocks still arriving (a frame gap, at most 60 s in
/// theory, 20 ms in practice) and closes every bridge: a second or so.
constexpr DWORD kPendingWaitHintMs = 10000;

/// The system's message for error, on one line, with its number.
std::string SystemMessage(DWORD error);

/// Says why the manager refused what (a verb such as "installing") and
/// returns kServiceManagerFailedStatus.
int ManagerRefused(const char* what, DWORD error);

/// A handle of the manager's, closed when it goes.
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

/// `service install OPTIONS...`: 0 when installed, 2 for options a service
/// cannot take, kServiceManagerFailedStatus when the manager (or the log's
/// folder) refused or the service is installed already.
int InstallService(const std::vector<std::string>& given);

/// `service uninstall`: stops the service if it runs (waiting a bounded
/// time) and removes it. 0 when removed, kServiceManagerFailedStatus when it
/// is not installed, the manager refused, or it did not stop in time (it is
/// then removed once it stops).
int UninstallService();

#endif
#endif
