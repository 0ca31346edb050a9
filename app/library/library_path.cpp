// SPDX-License-Identifier: Apache-2.0
#include "library/library_path.h"

#include "hid_uart.h"

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#else
#include <dlfcn.h>

#include <cstdlib>
#endif

#if defined(_WIN32)

std::string BridgeLibraryPath() {
  // The program imports the operations from a module of this name, and the
  // loader keeps one module per name: this is the file it took, wherever it
  // found it. (The address of an imported function would not tell: without
  // an import declaration it is a stub inside the program.)
  const HMODULE module = GetModuleHandleW(L"SLABHIDtoUART.dll");
  if (module == nullptr) {
    return {};
  }
  // Long paths reach 32767 characters; the size is doubled until it fits.
  std::vector<wchar_t> wide(MAX_PATH);
  DWORD length = 0;
  for (;;) {
    length = GetModuleFileNameW(module, wide.data(), static_cast<DWORD>(wide.size()));
    if (length == 0) {
      return {};
    }
    if (length < wide.size() || wide.size() >= 65536) {
      break;
    }
    wide.resize(wide.size() * 2);
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) {
    return {};
  }
  std::string path(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), path.data(), size, nullptr,
                      nullptr);
  return path;
}

#else

namespace {

// The file of the loaded object that holds an address, or empty.
std::string ObjectHolding(const void* address, const void** base) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  *base = info.dli_fbase;
  return info.dli_fname;
}

}  // namespace

std::string BridgeLibraryPath() {
  // The address the program calls, resolved by the loader, lies in the
  // library it bound: whichever file LD_LIBRARY_PATH or the program's own
  // search path led to.
  const void* libraryBase = nullptr;
  std::string path =
      ObjectHolding(reinterpret_cast<const void*>(&HidUart_GetNumDevices), &libraryBase);
  const void* programBase = nullptr;
  ObjectHolding(reinterpret_cast<const void*>(&BridgeLibraryPath), &programBase);
  if (path.empty() || libraryBase == programBase) {
    // Linked into the program, or reached through a stub of the program's
    // own: the loader's own answer for the name, when another object has it.
    const void* symbol = dlsym(RTLD_DEFAULT, "HidUart_GetNumDevices");
    path = symbol == nullptr ? std::string() : ObjectHolding(symbol, &libraryBase);
    if (path.empty() || libraryBase == programBase) {
      return {};
    }
  }
  // The name the loader used may be relative to the folder the program
  // started in (a relative LD_LIBRARY_PATH): the file itself is what counts.
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    path = resolved;
    std::free(resolved);
  }
  return path;
}

#endif
