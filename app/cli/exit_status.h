// SPDX-License-Identifier: Apache-2.0
// The program's exit statuses, every one of them; the manual page tells what
// each means to an operator.
#ifndef KESTRUNE_APP_CLI_EXIT_STATUS_H
#define KESTRUNE_APP_CLI_EXIT_STATUS_H

/// The run ended as meant, or the text asked for was printed.
constexpr int kRunFinished = 0;
/// The command line (or a names file) cannot be used as given.
constexpr int kMisusedStatus = 2;
/// Standard output failed for good: a service manager restarts the program.
constexpr int kOutputFailedStatus = 3;
/// --mqtt can never work as given (its URL or credentials, or the spool):
/// starting again cannot mend it.
constexpr int kBrokerUnusableStatus = 4;
/// A failure of the Windows Service Control Manager: no rights, already
/// installed, not installed, or a message of the system's.
constexpr int kServiceManagerFailedStatus = 5;

#endif
