// SPDX-License-Identifier: Apache-2.0
// Standard output, as the program writes it: whole reports, one write each.
#ifndef KESTRUNE_APP_OUTPUT_H
#define KESTRUNE_APP_OUTPUT_H

// Defines how the C runtime spells its printf format for the checks below.
#include <cstdint>
#include <cstdio>
#include <string>

#if defined(__MINGW_PRINTF_FORMAT)
#define KESTRUNE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define KESTRUNE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KESTRUNE_PRINTF(formatIndex, firstArgument)
#endif

/// Gets standard output ready before the first line: on Windows puts it in
/// binary mode, since the C runtime's text mode hands every line to the
/// system on its own, so that a reader of a growing log, or an interrupted
/// run, could see half a report. Line ends are then written by Print.
void PrepareOutput();

/// From now on a failure of standard output is told on standard error and
/// OutputFailed() says when it is for good; on POSIX systems a closed pipe
/// then fails the write instead of ending the process. Without it the
/// program takes no notice of its output failing, as a run with no
/// arguments never has: a closed pipe ends it by SIGPIPE, and what cannot be
/// written is lost without a word.
void WatchOutput();

/// From now on what a thread prints up to its flush is one event, queued
/// for a writer thread of its own (at most kOutputQueueBytes wait), so that
/// no thread that prints ever waits for standard output. Events leave whole,
/// in the order they were flushed. Call it before starting the threads that
/// print, and FinishOutput after they have ended.
void QueueOutput();

/// From now on nothing is written to standard output (--quiet, when a
/// broker gets every event). Call it before the first event.
void SilenceOutput();

/// From now on the lines go to path instead of standard output, rotated
/// (LogFile) once it would pass size bytes, keep older files kept. Call it
/// before the first event. Returns false, with why in problem, when the
/// file cannot be opened.
bool LogToFile(const std::string& path, uint64_t size, int keep, std::string& problem);

/// Tells the operator line (without "kestrune: " and its line end) on
/// standard error, and with a log file in the log as well, in its place
/// among the events. From any thread that is not printing an event, or
/// before the run's threads start.
void Notice(const std::string& line);

/// Formats like printf onto standard output. Each "\n" of the result is
/// written as CR LF on Windows, as text mode would, and as LF elsewhere.
void Print(const char* format, ...) KESTRUNE_PRINTF(1, 2);

/// Writes bytes onto standard output as they are, with no line-end
/// translation: for machine formats whose lines end in LF everywhere.
void WriteRaw(const char* bytes, size_t size);

/// Hands everything printed since the last flush to the system in one write
/// (with QueueOutput: to the queue, as one event).
/// While standard output has no room (a full disk), what cannot be written
/// is left out and counted, and the rest of a flush it took only in part is
/// written first once it has room again; each change is told on standard
/// error (once WatchOutput was called). After a write that fails for good (a
/// closed pipe, a device error) everything printed is discarded.
void FlushOutput();

/// Whether standard output has failed for good: the run should stop.
bool OutputFailed();

/// Flushes, writes every event queued and ends the writer thread, and tells
/// on standard error how many lines were left out if standard output still
/// has no room at the end of the run.
void FinishOutput();

#endif
