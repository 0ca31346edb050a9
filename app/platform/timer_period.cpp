// SPDX-License-Identifier: Apache-2.0
#include "platform/timer_period.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>
#endif

namespace {

#if defined(_WIN32)
constexpr UINT kPeriodMs = 1;
#endif

}  // namespace

FineTimerPeriod::FineTimerPeriod(bool wanted) {
#if defined(_WIN32)
  granted_ = wanted && timeBeginPeriod(kPeriodMs) == TIMERR_NOERROR;
#else
  (void)wanted;
#endif
}

FineTimerPeriod::~FineTimerPeriod() {
#if defined(_WIN32)
  if (granted_) {
    timeEndPeriod(kPeriodMs);
  }
#endif
}
