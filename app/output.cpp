#include "output.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Larger than any single report (a full read prints about 2.1 KB), so that a
// report, flushed as a whole, leaves in one write.
constexpr size_t kOutputBufferSize = 1 << 16;

#if defined(_WIN32)
// Set once standard output is in binary mode: line ends are then ours to
// write. Until then (as in tests that capture the output) the C runtime's
// text mode still writes them.
bool linesEndedByHand = false;

// Writes text with every LF as CR LF.
void WriteWithCrLf(const char* text, size_t size) {
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\n') {
      std::fwrite(text + start, 1, i - start, stdout);
      std::fwrite("\r\n", 1, 2, stdout);
      start = i + 1;
    }
  }
  std::fwrite(text + start, 1, size - start, stdout);
}
#endif

}  // namespace

void PrepareOutput() {
#if defined(_WIN32)
  linesEndedByHand = _setmode(_fileno(stdout), _O_BINARY) != -1;
#endif
  std::setvbuf(stdout, nullptr, _IOFBF, kOutputBufferSize);
}

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
#if defined(_WIN32)
  if (!linesEndedByHand) {
    std::vprintf(format, args);
    va_end(args);
    return;
  }
  char local[4096];
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(local, sizeof local, format, args);
  if (size >= 0 && static_cast<size_t>(size) < sizeof local) {
    WriteWithCrLf(local, static_cast<size_t>(size));
  } else if (size > 0) {
    std::vector<char> text(static_cast<size_t>(size) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    WriteWithCrLf(text.data(), static_cast<size_t>(size));
  }
  va_end(again);
#else
  std::vprintf(format, args);
#endif
  va_end(args);
}

void WriteRaw(const char* bytes, size_t size) { std::fwrite(bytes, 1, size, stdout); }

void FlushOutput() { std::fflush(stdout); }
