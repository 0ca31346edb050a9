// Kestrune: watches every attached CP2110 bridge and prints what arrives.
#include <cstdio>

#include "sweep.h"

namespace {

// Larger than any single report, so that a report, flushed as a whole, leaves
// in one write and an interrupted run never ends in the middle of a line.
constexpr size_t kOutputBufferSize = 1 << 16;

}  // namespace

int main(int /*argc*/, char* /*argv*/[]) {
  std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
  std::printf("Starting Kestrune application\n");
  std::fflush(stdout);
  SweepDevices();
  return 0;
}
