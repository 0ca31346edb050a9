// SPDX-License-Identifier: Apache-2.0
// Threads of the program's own that signals never reach.
#ifndef KESTRUNE_APP_THREAD_SIGNALS_H
#define KESTRUNE_APP_THREAD_SIGNALS_H

#include <functional>
#include <thread>

/// Starts a thread with every signal blocked, so that Ctrl+C and SIGTERM go
/// to the main thread, which acts on them, and never cut a wait of this one
/// short. Where there are no signals (Windows), an ordinary thread.
std::thread StartQuietThread(std::function<void()> run);

#endif
