// SPDX-License-Identifier: Apache-2.0
#include "cfgmgr32_fallback.h"

// After windows.h, which they need.
#include <setupapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace hidbridge {

namespace {

// {78C34FC8-104A-4ACA-9EA4-524D52996E57}, 256: the device instance ID.
const DEVPROPKEY kInstanceIdKey = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
constexpr DEVPROPTYPE kStringType = 0x00000012;  // DEVPROP_TYPE_STRING

// The longest device instance ID the system gives, NUL not counted.
constexpr DWORD kMaxDeviceIdLength = 200;

// The HID device interface class: hidapi asks about no other.
const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Calls visit(path, instance ID) for each present interface of a class, until
// it returns false; false when SetupAPI cannot list them.
template <typename Visit>
bool ForEachInterface(const GUID* interfaceClass, Visit visit) {
  const HDEVINFO set =
      SetupDiGetClassDevsW(interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    return false;
  }
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
      continue;
    }
    std::vector<unsigned char> storage(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &device)) {
      continue;
    }
    WCHAR id[kMaxDeviceIdLength + 1] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, kMaxDeviceIdLength + 1, nullptr)) {
      id[0] = L'\0';
    }
    if (!visit(detail->DevicePath, id)) {
      break;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return true;
}

// The paths of the present interfaces of a class, each ending in NUL, and
// one more NUL; false when SetupAPI cannot list them.
bool InterfaceList(const GUID* interfaceClass, std::wstring* list) {
  list->clear();
  const bool listed = ForEachInterface(interfaceClass, [&](const WCHAR* path, const WCHAR*) {
    list->append(path);
    list->push_back(L'\0');
    return true;
  });
  list->push_back(L'\0');
  return listed;
}

// The device instance ID behind an HID interface path. Paths differ in case
// only between the system's listings, never between devices.
bool InstanceIdOf(const WCHAR* interfacePath, std::wstring* id) {
  bool found = false;
  ForEachInterface(&kHidInterfaceClass, [&](const WCHAR* path, const WCHAR* instanceId) {
    if (_wcsicmp(path, interfacePath) != 0 || instanceId[0] == L'\0') {
      return true;
    }
    id->assign(instanceId);
    found = true;
    return false;
  });
  return found;
}

bool SameKey(const DEVPROPKEY& a, const DEVPROPKEY& b) {
  return std::memcmp(&a.fmtid, &b.fmtid, sizeof a.fmtid) == 0 && a.pid == b.pid;
}

}  // namespace

DWORD __stdcall FallbackInterfaceListSize(ULONG* length, GUID* interfaceClass, WCHAR* deviceId,
                                          ULONG /*flags*/) {
  if (length == nullptr || interfaceClass == nullptr) {
    return kCrInvalidPointer;
  }
  std::wstring list;
  if (deviceId != nullptr || !InterfaceList(interfaceClass, &list)) {
    return kCrFailure;
  }
  *length = static_cast<ULONG>(list.size());
  return kCrSuccess;
}

DWORD __stdcall FallbackInterfaceList(GUID* interfaceClass, WCHAR* deviceId, WCHAR* buffer,
                                      ULONG length, ULONG /*flags*/) {
  if (interfaceClass == nullptr || buffer == nullptr || length == 0) {
    return kCrInvalidPointer;
  }
  std::wstring list;
  if (deviceId != nullptr || !InterfaceList(interfaceClass, &list)) {
    return kCrFailure;
  }
  if (list.size() > length) {
    // Another device came between the size and the list.
    buffer[0] = L'\0';
    return kCrBufferSmall;
  }
  std::wmemcpy(buffer, list.data(), list.size());
  return kCrSuccess;
}

DWORD __stdcall FallbackInterfaceProperty(const WCHAR* interfacePath, const DEVPROPKEY* key,
                                          DEVPROPTYPE* type, BYTE* buffer, ULONG* size,
                                          ULONG /*flags*/) {
  if (interfacePath == nullptr || key == nullptr || type == nullptr || size == nullptr) {
    return kCrInvalidPointer;
  }
  if (!SameKey(*key, kInstanceIdKey)) {
    return kCrNoSuchValue;
  }
  std::wstring id;
  if (!InstanceIdOf(interfacePath, &id)) {
    return kCrFailure;
  }
  const auto needed = static_cast<ULONG>((id.size() + 1) * sizeof(WCHAR));
  *type = kStringType;
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return kCrBufferSmall;
  }
  std::memcpy(buffer, id.c_str(), needed);
  *size = needed;
  return kCrSuccess;
}

bool UsesCfgmgr32Fallback() {
  const HMODULE cfgmgr32 = LoadLibraryW(L"cfgmgr32.dll");
  if (cfgmgr32 == nullptr) {
    return true;
  }
  const bool lacking = GetProcAddress(cfgmgr32, "CM_Get_Device_Interface_PropertyW") == nullptr;
  FreeLibrary(cfgmgr32);
  return lacking;
}

}  // namespace hidbridge
