// SPDX-License-Identifier: Apache-2.0
// Windows: the system functions hidapi's Windows backend finds at run time,
// by name, and the few it is given in their place.
#ifndef KESTRUNE_BRIDGE_HID_WINDOWS_PROCEDURE_LOOKUP_H
#define KESTRUNE_BRIDGE_HID_WINDOWS_PROCEDURE_LOOKUP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/// Stands in for GetProcAddress in hidapi's Windows backend (the build makes
/// the backend call this one). Returns what GetProcAddress returns, except:
/// - the three interface functions of a cfgmgr32.dll that lacks
///   CM_Get_Device_Interface_PropertyW come from the SetupAPI fallback
///   (cfgmgr32_fallback.h);
/// - HidD_SetNumInputBuffers of hid.dll, when the system has it, is the
///   stand-in of input_queue.h, which asks for a deeper queue.
/// Null when the system lacks the function and nothing stands in for it.
FARPROC WINAPI KestruneResolveProcedure(HMODULE module, LPCSTR name);

#ifdef __cplusplus
}

namespace hidbridge {

/// A function as GetProcAddress hands it out. The detour through a function
/// of no arguments is the cast that compilers accept without a warning.
template <typename Function>
FARPROC AsProcedure(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace hidbridge
#endif

#endif
