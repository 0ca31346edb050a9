// SPDX-License-Identifier: Apache-2.0
// Checks ReportBlock against the test tools' model of its output, written
// without looking at how the report is built: the serial string shown safely,
// every byte in hex, the last eight bytes as a big-endian value and bits 16 to
// 47 of that value as a ten-digit decimal.
//
// Input: two bytes give the serial string's length (little-endian, up to
// 399), then the serial string's bytes, then the block itself (its first 1000
// bytes; an input without block bytes is skipped).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "output/block_report.h"
#include "report_model.h"

namespace {

int capturedOutput = -1;

std::string DrainCapturedOutput() {
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(capturedOutput, chunk, sizeof chunk);
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Standard output becomes a pipe that this process reads back after every
  // report. A report is far smaller than the pipe's capacity, so the write
  // never blocks; the report's own flush is what puts it into the pipe.
  int ends[2];
  if (pipe(ends) != 0 || dup2(ends[1], STDOUT_FILENO) < 0 ||
      fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
    std::perror("capturing standard output");
    std::abort();
  }
  close(ends[1]);
  capturedOutput = ends[0];
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t serialLength = (data[0] | static_cast<std::size_t>(data[1]) << 8) % 400;
  if (size - 2 <= serialLength) return 0;
  const std::string serial(reinterpret_cast<const char*>(data + 2), serialLength);
  const std::uint8_t* blockStart = data + 2 + serialLength;
  std::size_t blockSize = size - 2 - serialLength;
  if (blockSize > reports::kLargestBlock) blockSize = reports::kLargestBlock;
  const std::vector<std::uint8_t> block(blockStart, blockStart + blockSize);

  ReportBlock(serial.c_str(), block.data(), static_cast<int>(block.size()));
  const std::string printed = DrainCapturedOutput();
  const std::string expected = reports::Report(reports::Shown(serial), block);
  if (printed != expected) {
    std::fprintf(stderr, "block report differs from the model\n--- printed:\n%s--- expected:\n%s",
                 printed.c_str(), expected.c_str());
    std::abort();
  }
  return 0;
}
