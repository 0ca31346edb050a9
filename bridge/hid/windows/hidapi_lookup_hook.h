// SPDX-License-Identifier: Apache-2.0
/* Included ahead of hidapi's Windows backend by the build, so that its
   run-time look-ups of system functions pass through
   KestruneResolveProcedure. The system headers come first, so that their own
   declaration of GetProcAddress stays as it is; only the backend's calls are
   redirected. hidapi's source itself is not changed. */
#ifndef KESTRUNE_BRIDGE_HID_WINDOWS_HIDAPI_LOOKUP_HOOK_H
#define KESTRUNE_BRIDGE_HID_WINDOWS_HIDAPI_LOOKUP_HOOK_H

#include <windows.h>

#include "procedure_lookup.h"

#define GetProcAddress KestruneResolveProcedure

/* hidapi marks its functions for export from whatever DLL holds them. Here
   they serve the bridge library inside its DLL, which exports the twelve
   bridge operations and nothing else: __declspec(dllexport) is made an empty
   __declspec() for the backend. */
#define dllexport

#endif
