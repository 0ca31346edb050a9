// Kestrune: watches every attached CP2110 bridge and prints what arrives.
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "output.h"
#include "sweep.h"

namespace {

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
  PrepareOutput();
  Print("Starting Kestrune application\n");
  FlushOutput();
  SweepDevices();
  return 0;
}
