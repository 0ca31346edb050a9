// SPDX-License-Identifier: Apache-2.0
// The far end of a stalled output: makes the pipe on its standard input as
// small as the system allows, reads nothing for a while, then copies
// everything to its standard output. The writer is blocked for most of the
// pause, as a program is behind a paused terminal or a slow log.
//
// Usage: stalled_reader SECONDS < PIPE > FILE
// Prints on standard error how many bytes the pipe held when the pause ended;
// a full pipe shows that the writer was held up.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stalled_reader SECONDS < PIPE > FILE\n");
    return 2;
  }
  const int pipeSize = fcntl(STDIN_FILENO, F_SETPIPE_SZ, 4096);
  if (pipeSize < 0) {
    std::perror("stalled_reader: F_SETPIPE_SZ");
  }
  sleep(static_cast<unsigned>(std::atoi(argv[1])));
  int held = -1;
  ioctl(STDIN_FILENO, FIONREAD, &held);
  std::fprintf(stderr, "stalled_reader: the pipe of %d bytes held %d bytes after the pause\n",
               pipeSize, held);
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      return n == 0 ? 0 : 1;
    }
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = write(STDOUT_FILENO, buffer + written, static_cast<size_t>(n - written));
      if (w <= 0) {
        return 1;
      }
      written += w;
    }
  }
}
