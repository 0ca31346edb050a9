// SPDX-License-Identifier: Apache-2.0
// The cfgmgr32 fallback, run under wine with the other Windows tests (where
// the system lacks what hidapi needs), and on Windows (where it does not).
#include "cfgmgr32_fallback.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "procedure_lookup.h"

namespace hidbridge {
namespace {

// The HID device interface class.
GUID HidClass() {
  return {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

TEST(Cfgmgr32Fallback, TakesOverOnlyTheThreeFunctionsOfALackingCfgmgr32) {
  const HMODULE cfgmgr32 = LoadLibraryW(L"cfgmgr32.dll");
  ASSERT_NE(cfgmgr32, nullptr);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const bool fallback = UsesCfgmgr32Fallback();
  struct Case {
    HMODULE module;
    const char* name;
    FARPROC ours;  // null: always the system's
  };
  const Case cases[] = {
      {cfgmgr32, "CM_Get_Device_Interface_List_SizeW", AsProcedure(&FallbackInterfaceListSize)},
      {cfgmgr32, "CM_Get_Device_Interface_ListW", AsProcedure(&FallbackInterfaceList)},
      {cfgmgr32, "CM_Get_Device_Interface_PropertyW", AsProcedure(&FallbackInterfaceProperty)},
      {cfgmgr32, "CM_Locate_DevNodeW", nullptr},
      {cfgmgr32, "CM_Get_Parent", nullptr},
      {cfgmgr32, "NoSuchFunction", nullptr},
      {kernel32, "GetTickCount", nullptr},
      {kernel32, "CM_Get_Device_Interface_ListW", nullptr},
      {cfgmgr32, MAKEINTRESOURCEA(1), nullptr},
  };
  for (const Case& c : cases) {
    const bool byName = reinterpret_cast<uintptr_t>(c.name) > 0xFFFF;
    SCOPED_TRACE(byName ? c.name : "an ordinal");
    const FARPROC system = GetProcAddress(c.module, c.name);
    const FARPROC resolved = KestruneResolveProcedure(c.module, c.name);
    EXPECT_EQ(resolved, c.ours != nullptr && fallback ? c.ours : system);
  }
  // hidapi needs all six; with the fallback where needed, none is missing.
  for (const char* name : {"CM_Locate_DevNodeW", "CM_Get_Parent", "CM_Get_DevNode_PropertyW",
                           "CM_Get_Device_Interface_PropertyW",
                           "CM_Get_Device_Interface_List_SizeW", "CM_Get_Device_Interface_ListW"}) {
    EXPECT_NE(KestruneResolveProcedure(cfgmgr32, name), nullptr) << name;
  }
  FreeLibrary(cfgmgr32);
}

TEST(Cfgmgr32Fallback, ListsInterfacesAndTheirInstanceIds) {
  GUID hid = HidClass();
  ULONG length = 0;
  ASSERT_EQ(FallbackInterfaceListSize(&length, &hid, nullptr, 0), kCrSuccess);
  ASSERT_GE(length, 1u);
  std::vector<WCHAR> list(length, L'?');
  ASSERT_EQ(FallbackInterfaceList(&hid, nullptr, list.data(), length, 0), kCrSuccess);
  EXPECT_EQ(list.back(), L'\0') << "the list ends in an empty path";

  // Each path has an instance ID; the size is asked first, as hidapi does.
  const DEVPROPKEY instanceId = {
      {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
  for (const WCHAR* path = list.data(); *path != L'\0'; path += std::wcslen(path) + 1) {
    DEVPROPTYPE type = 0;
    ULONG size = 0;
    ASSERT_EQ(FallbackInterfaceProperty(path, &instanceId, &type, nullptr, &size, 0),
              kCrBufferSmall);
    EXPECT_EQ(type, 0x12u) << "a string";
    std::vector<BYTE> value(size);
    ASSERT_EQ(FallbackInterfaceProperty(path, &instanceId, &type, value.data(), &size, 0),
              kCrSuccess);
    const auto* text = reinterpret_cast<const WCHAR*>(value.data());
    EXPECT_EQ(std::wcslen(text) + 1, size / sizeof(WCHAR));
  }

  if (length > 1) {
    std::vector<WCHAR> small(length - 1, L'?');
    EXPECT_EQ(FallbackInterfaceList(&hid, nullptr, small.data(), length - 1, 0), kCrBufferSmall);
    EXPECT_EQ(small[0], L'\0');
  }
}

TEST(Cfgmgr32Fallback, RefusesWhatItCannotAnswer) {
  GUID hid = HidClass();
  ULONG length = 0;
  WCHAR buffer[8];
  DEVPROPTYPE type = 0;
  ULONG size = sizeof buffer;
  const DEVPROPKEY instanceId = {
      {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
  const DEVPROPKEY otherKey = {
      {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 3};
  WCHAR device[] = L"USB\\VID_10C4&PID_EA80\\0001";
  struct Case {
    const char* name;
    DWORD got;
    DWORD expected;
  };
  const Case cases[] = {
      {"size with no length", FallbackInterfaceListSize(nullptr, &hid, nullptr, 0),
       kCrInvalidPointer},
      {"size with no class", FallbackInterfaceListSize(&length, nullptr, nullptr, 0),
       kCrInvalidPointer},
      {"size for one device", FallbackInterfaceListSize(&length, &hid, device, 0), kCrFailure},
      {"list with no buffer", FallbackInterfaceList(&hid, nullptr, nullptr, 8, 0),
       kCrInvalidPointer},
      {"list with no room", FallbackInterfaceList(&hid, nullptr, buffer, 0, 0), kCrInvalidPointer},
      {"list for one device", FallbackInterfaceList(&hid, device, buffer, 8, 0), kCrFailure},
      {"another property",
       FallbackInterfaceProperty(L"\\\\?\\hid#none", &otherKey, &type, nullptr, &size, 0),
       kCrNoSuchValue},
      {"an interface nobody has",
       FallbackInterfaceProperty(L"\\\\?\\hid#none#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                                 &instanceId, &type, nullptr, &size, 0),
       kCrFailure},
      {"no size", FallbackInterfaceProperty(L"x", &instanceId, &type, nullptr, nullptr, 0),
       kCrInvalidPointer},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace hidbridge
