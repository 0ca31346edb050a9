// SPDX-License-Identifier: Apache-2.0
// Windows: what hidapi's Windows backend looks up in cfgmgr32.dll, answered
// through SetupAPI where the system's cfgmgr32.dll falls short.
//
// hidapi finds its cfgmgr32 functions at run time, by name. Windows has them
// all; wine 8 lacks CM_Get_Device_Interface_PropertyW and only stubs the two
// interface list functions (one fails, one aborts the process), so hidapi
// cannot list a single device there. Wine does implement SetupAPI, which
// answers the same questions.
#ifndef KESTRUNE_BRIDGE_HID_WINDOWS_CFGMGR32_FALLBACK_H
#define KESTRUNE_BRIDGE_HID_WINDOWS_CFGMGR32_FALLBACK_H

#include <windows.h>
// After windows.h, which it needs.
#include <devpropdef.h>

#include <cstdint>

namespace hidbridge {

/// The configuration manager's result codes that the fallback gives.
constexpr DWORD kCrSuccess = 0x00;
constexpr DWORD kCrInvalidPointer = 0x03;
constexpr DWORD kCrFailure = 0x13;
constexpr DWORD kCrBufferSmall = 0x1A;
constexpr DWORD kCrNoSuchValue = 0x25;

/// CM_Get_Device_Interface_List_SizeW: the size, in characters, of the list
/// of present interfaces of the class (each path ends in NUL, the list in
/// one more). A device filter is not supported: kCrFailure.
DWORD __stdcall FallbackInterfaceListSize(ULONG* length, GUID* interfaceClass, WCHAR* deviceId,
                                          ULONG flags);

/// CM_Get_Device_Interface_ListW: that list, or kCrBufferSmall when it does
/// not fit in `length` characters (the buffer then holds an empty list).
DWORD __stdcall FallbackInterfaceList(GUID* interfaceClass, WCHAR* deviceId, WCHAR* buffer,
                                      ULONG length, ULONG flags);

/// CM_Get_Device_Interface_PropertyW for the one property hidapi asks about,
/// the device instance ID (a string), of a present HID interface. With no buffer, or one too small:
/// kCrBufferSmall and the size needed in bytes. Other properties:
/// kCrNoSuchValue. An interface the system does not know: kCrFailure.
DWORD __stdcall FallbackInterfaceProperty(const WCHAR* interfacePath, const DEVPROPKEY* key,
                                          DEVPROPTYPE* type, BYTE* buffer, ULONG* size,
                                          ULONG flags);

/// True when the system's cfgmgr32.dll lacks what hidapi needs, so that the
/// fallback is used.
bool UsesCfgmgr32Fallback();

}  // namespace hidbridge

#endif
