// SPDX-License-Identifier: Apache-2.0
#include "input_queue.h"

#include <atomic>

#include "procedure_lookup.h"

namespace hidbridge {

namespace {

std::atomic<SetInputBuffersFunction> systemSetInputBuffers{nullptr};

BOOLEAN __stdcall SetInputQueue(HANDLE device, ULONG requested) {
  const SetInputBuffersFunction system = systemSetInputBuffers.load();
  return system != nullptr ? DeepenInputQueue(system, device, requested) : FALSE;
}

}  // namespace

BOOLEAN DeepenInputQueue(SetInputBuffersFunction set, HANDLE device, ULONG requested) {
  if (requested < kInputQueueReports && set(device, kInputQueueReports)) {
    return TRUE;
  }
  return set(device, requested);
}

FARPROC SetInputQueueProcedure(FARPROC system) {
  if (system == nullptr) {
    return nullptr;
  }
  systemSetInputBuffers =
      reinterpret_cast<SetInputBuffersFunction>(reinterpret_cast<void (*)()>(system));
  return AsProcedure(&SetInputQueue);
}

}  // namespace hidbridge
