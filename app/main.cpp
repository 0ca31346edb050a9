// Kestrune: watches every attached CP2110 bridge and prints what arrives.
#include <cstdio>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "sweep.h"

namespace {

// Larger than any single report, so that a report, flushed as a whole, leaves
// in one write and an interrupted run never ends in the middle of a line.
constexpr size_t kOutputBufferSize = 1 << 16;

// A standard descriptor the program was started without would be the first
// one the bridge library opens (a log file, a device node), and every line
// printed would then land there, or be sent to the bridge itself. Holding the
// missing ones on /dev/null discards that output, as a closed stream would.
void HoldStandardDescriptors() {
#if !defined(_WIN32)
  for (;;) {
    const int fd = open("/dev/null", O_RDWR);
    if (fd < 0) {
      return;
    }
    if (fd > 2) {
      close(fd);
      return;
    }
  }
#endif
}

}  // namespace

int main(int /*argc*/, char* /*argv*/[]) {
  HoldStandardDescriptors();
  std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
  std::printf("Starting Kestrune application\n");
  std::fflush(stdout);
  SweepDevices();
  return 0;
}
