// Standard output, as the program writes it: whole reports, one write each.
#ifndef KESTRUNE_APP_OUTPUT_H
#define KESTRUNE_APP_OUTPUT_H

// Defines how the C runtime spells its printf format for the checks below.
#include <cstdio>

#if defined(__MINGW_PRINTF_FORMAT)
#define KESTRUNE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define KESTRUNE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define KESTRUNE_PRINTF(formatIndex, firstArgument)
#endif

/// Gives standard output a buffer larger than any report, and on Windows
/// puts it in binary mode: the C runtime's text mode hands every line to the
/// system on its own, so a reader of a growing log, or an interrupted run,
/// could see half a report. Line ends are then written by Print instead.
void PrepareOutput();

/// Formats like printf onto standard output. Each "\n" of the result is
/// written as CR LF on Windows, as text mode would, and as LF elsewhere.
void Print(const char* format, ...) KESTRUNE_PRINTF(1, 2);

/// Writes bytes onto standard output as they are, with no line-end
/// translation: for machine formats whose lines end in LF everywhere.
void WriteRaw(const char* bytes, size_t size);

/// Hands everything printed since the last flush to the system at once.
void FlushOutput();

#endif
