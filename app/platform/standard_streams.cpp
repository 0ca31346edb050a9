// SPDX-License-Identifier: Apache-2.0
#include "platform/standard_streams.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

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
