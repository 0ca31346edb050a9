// SPDX-License-Identifier: Apache-2.0
// Windows: how many input reports the system holds for each open bridge
// until its reader takes them.
//
// hidapi asks for 64. A bridge that sends one byte per report at 9600 baud
// fills that in 67 ms, and the system then drops reports: a reader thread
// kept off the processor that long, on a busy machine, would lose data. The
// system accepts up to 512, about half a second at that worst rate and much
// longer at the usual one.
#ifndef KESTRUNE_BRIDGE_HID_WINDOWS_INPUT_QUEUE_H
#define KESTRUNE_BRIDGE_HID_WINDOWS_INPUT_QUEUE_H

#include <windows.h>

namespace hidbridge {

/// The queue asked for: the most the system accepts.
constexpr ULONG kInputQueueReports = 512;

/// HidD_SetNumInputBuffers's shape.
using SetInputBuffersFunction = BOOLEAN(__stdcall*)(HANDLE device, ULONG reports);

/// Sets the queue of `device` through `set` to kInputQueueReports, or, if
/// that is refused, to `requested` (never less than the caller asked for).
/// Returns what the last call of `set` returned: nonzero on success.
BOOLEAN DeepenInputQueue(SetInputBuffersFunction set, HANDLE device, ULONG requested);

/// Stands in for the system's HidD_SetNumInputBuffers, `system`, which it
/// calls through DeepenInputQueue. Returns the procedure to hand out.
FARPROC SetInputQueueProcedure(FARPROC system);

}  // namespace hidbridge

#endif
