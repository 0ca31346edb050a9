// SPDX-License-Identifier: Apache-2.0
#include "procedure_lookup.h"

#include <cstdint>
#include <cstring>

#include "cfgmgr32_fallback.h"
#include "input_queue.h"

extern "C" FARPROC WINAPI KestruneResolveProcedure(HMODULE module, LPCSTR name) {
  using namespace hidbridge;
  // A name may also be an ordinal, a number below 0x10000.
  const bool byName = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
  if (!byName || module == nullptr) {
    return GetProcAddress(module, name);
  }
  if (module == GetModuleHandleW(L"hid.dll") && std::strcmp(name, "HidD_SetNumInputBuffers") == 0) {
    return SetInputQueueProcedure(GetProcAddress(module, name));
  }
  struct Fallback {
    const char* name;
    FARPROC procedure;
  };
  static const Fallback kFallbacks[] = {
      {"CM_Get_Device_Interface_List_SizeW", AsProcedure(&FallbackInterfaceListSize)},
      {"CM_Get_Device_Interface_ListW", AsProcedure(&FallbackInterfaceList)},
      {"CM_Get_Device_Interface_PropertyW", AsProcedure(&FallbackInterfaceProperty)},
  };
  if (module == GetModuleHandleW(L"cfgmgr32.dll") && UsesCfgmgr32Fallback()) {
    for (const Fallback& fallback : kFallbacks) {
      if (std::strcmp(name, fallback.name) == 0) {
        return fallback.procedure;
      }
    }
  }
  return GetProcAddress(module, name);
}
