// SPDX-License-Identifier: Apache-2.0
#include "capture/read_plan.h"

#include <algorithm>

namespace {

using std::chrono::milliseconds;

// At 9600 baud a byte comes about every millisecond: a gathering read takes
// a few of them, and a block's end is told that much later at most.
constexpr milliseconds kLongestGathering{3};
constexpr milliseconds kShortest{1};

}  // namespace

ReadPlan::ReadPlan(milliseconds gap)
    : gathering_(std::clamp(gap / 4, kShortest, kLongestGathering)),
      proving_(std::max(gap - gathering_, kShortest)) {}

ReadPlan::Read ReadPlan::Next() const {
  switch (phase_) {
    case Phase::kWaiting:
      return Read{false, kWaitingReadTimeout};
    case Phase::kGathering:
      return Read{true, gathering_};
    case Phase::kProving:
      break;
  }
  return Read{false, proving_};
}

bool ReadPlan::After(bool gotBytes) {
  if (gotBytes) {
    phase_ = Phase::kGathering;
    return false;
  }
  switch (phase_) {
    case Phase::kWaiting:
      return false;
    case Phase::kGathering:
      phase_ = Phase::kProving;
      return false;
    case Phase::kProving:
      break;
  }
  phase_ = Phase::kWaiting;
  return true;
}
