// SPDX-License-Identifier: Apache-2.0
#include "platform/stop_request.h"

#include <atomic>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

// Set from a signal handler, or from the thread Windows runs console control
// handlers on: it must be lock-free to be safe in both.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be lock-free");

#if defined(_WIN32)
HANDLE stoppedEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // A second one is left to the system's handler, which ends the process.
      return stopRequested.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: wait for the loop to close the
      // bridges and flush (Windows itself gives up after a few seconds).
      stopRequested = true;
      if (stoppedEvent != nullptr) {
        WaitForSingleObject(stoppedEvent, INFINITE);
      }
      return TRUE;
    default:
      return FALSE;
  }
}
#else
void OnSignal(int /*signal*/) { stopRequested = true; }
#endif

}  // namespace

void InstallStopHandlers() {
#if defined(_WIN32)
  stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // A write to standard output is resumed, not failed, when a signal comes;
  // SA_RESETHAND gives the next signal its default effect.
  action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

bool StopRequested() { return stopRequested; }

void RequestStop() { stopRequested = true; }

void ConfirmStopped() {
#if defined(_WIN32)
  if (stoppedEvent != nullptr) {
    SetEvent(stoppedEvent);
  }
#endif
}
