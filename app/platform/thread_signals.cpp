// SPDX-License-Identifier: Apache-2.0
#include "platform/thread_signals.h"

#include <utility>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

std::thread StartQuietThread(std::function<void()> run) {
#if defined(_WIN32)
  return std::thread(std::move(run));
#else
  // A new thread inherits the mask of the thread that starts it.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread(std::move(run));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
#endif
}
