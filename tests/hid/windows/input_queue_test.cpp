// SPDX-License-Identifier: Apache-2.0
// The deeper queue of input reports that hidapi's Windows backend gets.
#include "input_queue.h"

#include <gtest/gtest.h>

#include <vector>

#include "procedure_lookup.h"

namespace hidbridge {
namespace {

// A system that accepts queues up to a limit, recording what it was asked.
ULONG acceptedUpTo = 0;
std::vector<ULONG> asked;

BOOLEAN __stdcall FakeSetInputBuffers(HANDLE, ULONG reports) {
  asked.push_back(reports);
  return reports >= 2 && reports <= acceptedUpTo ? TRUE : FALSE;
}

TEST(InputQueue, AsksForTheDeepestQueueAndNeverLessThanRequested) {
  struct Case {
    const char* what;
    ULONG acceptedUpTo;
    ULONG requested;
    std::vector<ULONG> asked;
    BOOLEAN result;
  };
  const Case cases[] = {
      {"the system's limit", 512, 64, {512}, TRUE},
      {"a system with a lower limit", 200, 64, {512, 64}, TRUE},
      {"a refused handle", 0, 64, {512, 64}, FALSE},
      {"a request above ours", 1024, 600, {600}, TRUE},
      {"a request of our depth", 512, 512, {512}, TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    acceptedUpTo = c.acceptedUpTo;
    asked.clear();
    EXPECT_EQ(DeepenInputQueue(&FakeSetInputBuffers, nullptr, c.requested), c.result);
    EXPECT_EQ(asked, c.asked);
  }
}

TEST(InputQueue, HidapiGetsTheStandInOnlyWhereTheSystemHasTheFunction) {
  const HMODULE hid = LoadLibraryW(L"hid.dll");
  ASSERT_NE(hid, nullptr);
  const FARPROC system = GetProcAddress(hid, "HidD_SetNumInputBuffers");
  ASSERT_NE(system, nullptr);
  const FARPROC resolved = KestruneResolveProcedure(hid, "HidD_SetNumInputBuffers");
  EXPECT_NE(resolved, nullptr);
  EXPECT_NE(resolved, system);
  EXPECT_EQ(SetInputQueueProcedure(nullptr), nullptr);
  // Other hid.dll functions, and the same name elsewhere, are the system's.
  EXPECT_EQ(KestruneResolveProcedure(hid, "HidD_GetAttributes"),
            GetProcAddress(hid, "HidD_GetAttributes"));
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  EXPECT_EQ(KestruneResolveProcedure(kernel32, "HidD_SetNumInputBuffers"), nullptr);
  // The stand-in reaches the system's function: a handle that is no device
  // is refused, as the system refuses it.
  using SetFunction = BOOLEAN(__stdcall*)(HANDLE, ULONG);
  const auto standIn = reinterpret_cast<SetFunction>(reinterpret_cast<void (*)()>(resolved));
  EXPECT_EQ(standIn(INVALID_HANDLE_VALUE, 64), FALSE);
  FreeLibrary(hid);
}

}  // namespace
}  // namespace hidbridge
