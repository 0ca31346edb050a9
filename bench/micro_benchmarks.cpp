// SPDX-License-Identifier: Apache-2.0
// Micro-benchmarks of the program's own work: the block report, the status
// texts and a whole connection on the simulated bridge; and what one read
// costs the simulated bridge's line when it holds many tags.
//
// The program's output goes to /dev/null with the program's own buffering,
// so each report still costs its formatting and its one write; the results
// go to the standard output the benchmark was started with.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <vector>

#include "capture/capture.h"
#include "hid_uart.h"
#include "library/connection.h"
#include "line.h"
#include "operations.h"
#include "output/block_report.h"
#include "output/events.h"
#include "scenario_reader.h"
#include "stream.h"
#include "text/status_text.h"

namespace {

constexpr char kSerial[] = "BENCH1";

void BM_ReportBlock(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  const std::vector<std::uint8_t> bytes = sim::StreamBytes(7, static_cast<std::size_t>(count));
  for ([[maybe_unused]] auto _ : state) {
    ReportBlock(kSerial, bytes.data(), count);
  }
  state.SetBytesProcessed(state.iterations() * count);
}
BENCHMARK(BM_ReportBlock)->Arg(1)->Arg(5)->Arg(8)->Arg(1000);

// The same block as one JSON line (--json), its time formatted each time.
void BM_JsonBlock(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint8_t> bytes = sim::StreamBytes(7, count);
  SetOutputFormat(OutputFormat::kJsonLines);
  for ([[maybe_unused]] auto _ : state) {
    EmitBlock({kSerial, bytes.data(), count, std::chrono::system_clock::now(), false});
  }
  SetOutputFormat(OutputFormat::kHuman);
  state.SetBytesProcessed(state.iterations() * count);
}
BENCHMARK(BM_JsonBlock)->Arg(1)->Arg(5)->Arg(8)->Arg(1000);

// A short text, a long one (beyond the small-string buffer) and the fallback.
void BM_StatusText(benchmark::State& state) {
  const auto code = static_cast<HID_UART_STATUS>(state.range(0));
  for ([[maybe_unused]] auto _ : state) {
    benchmark::DoNotOptimize(StatusText(code));
  }
}
BENCHMARK(BM_StatusText)->Arg(HID_UART_SUCCESS)->Arg(HID_UART_DEVICE_NOT_FOUND)->Arg(0x06);

// Find, open, identify, set, verify and report one bridge, then close it, so
// that every iteration starts from the same installation.
void BM_ConnectBySerial(benchmark::State& state) {
  sim::ParseResult parsed = sim::ParseScenario("bridge \"BENCH1\"\n", "benchmark");
  sim::Reset(std::move(*parsed.scenario));
  for ([[maybe_unused]] auto _ : state) {
    if (!ConnectBySerial(kSerial)) {
      state.SkipWithError("the simulated bridge refused the connection");
      break;
    }
    HidUart_Close(ConnectedDevice.handle);
  }
  sim::ResetToEnvironment();
}
BENCHMARK(BM_ConnectBySerial);

// One 200 ms read of the program on a line of N scheduled 5-byte tags at 9600
// baud, 10 to 30 ms apart: what has arrived, when the request would be
// filled, and the bytes taken. Its cost must not grow with N.
void BM_TimedLineRead(benchmark::State& state) {
  sim::TagSeries series;
  series.count = static_cast<std::uint32_t>(state.range(0));
  series.bytes = 5;
  series.minSpacing = 10'000'000;
  series.maxSpacing = 30'000'000;
  series.seed = 7;
  const sim::CharTime c = sim::UartCharTime(kConnectionLineSetting);
  std::vector<std::uint8_t> buffer(kReadBufferSize);
  sim::Line line({}, {}, {series}, c);
  sim::Nanos now = 0;
  for ([[maybe_unused]] auto _ : state) {
    if (line.Drained()) {
      state.PauseTiming();
      line = sim::Line({}, {}, {series}, c);
      now = 0;
      state.ResumeTiming();
    }
    now += std::chrono::nanoseconds(kConnectionReadTimeout).count();
    benchmark::DoNotOptimize(line.Available(now));
    benchmark::DoNotOptimize(line.PendingArrival(kReadBufferSize));
    benchmark::DoNotOptimize(line.Take(now, buffer.data(), kReadBufferSize));
  }
}
BENCHMARK(BM_TimedLineRead)->Arg(1000)->Arg(100000);

// An unbuffered stream buffer on a file descriptor, for the results.
class DescriptorBuffer : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return WriteAll(&ch, 1) ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    return WriteAll(text, count) ? count : 0;
  }

 private:
  bool WriteAll(const char* text, std::streamsize count) {
    while (count > 0) {
      const ssize_t written = ::write(fd_, text, static_cast<size_t>(count));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      text += written;
      count -= written;
    }
    return true;
  }

  int fd_;
};

}  // namespace

int main(int argc, char** argv) {
  const int results = ::dup(STDOUT_FILENO);
  const int null = ::open("/dev/null", O_WRONLY);
  if (results < 0 || null < 0 || ::dup2(null, STDOUT_FILENO) < 0) {
    std::perror("cannot send the program's output to /dev/null");
    return 1;
  }
  ::close(null);
  // As the program itself does: a report is formatted into the buffer and
  // leaves in one write when it is flushed.
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);

  DescriptorBuffer resultBuffer(results);
  std::streambuf* const programOutput = std::cout.rdbuf(&resultBuffer);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::cout.rdbuf(programOutput);
  return 0;
}
