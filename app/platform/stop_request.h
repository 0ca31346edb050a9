// SPDX-License-Identifier: Apache-2.0
// The operator's request to stop station mode: Ctrl+C or SIGTERM, and on
// Windows also Ctrl+Break and closing the console.
#ifndef KESTRUNE_APP_STOP_REQUEST_H
#define KESTRUNE_APP_STOP_REQUEST_H

/// Installs the handlers that turn those events into a stop request. A
/// second Ctrl+C or SIGTERM ends the process the system's way, so that a run
/// stuck writing to an output nobody reads can still be ended.
void InstallStopHandlers();

/// Whether a stop has been requested.
bool StopRequested();

/// Requests the stop from within the program: a service manager's stop or
/// shutdown control.
void RequestStop();

/// Tells a waiting close-the-console handler that every handle is closed and
/// the output flushed; Windows ends the process as soon as it returns.
void ConfirmStopped();

#endif
