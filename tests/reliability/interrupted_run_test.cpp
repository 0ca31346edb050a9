// SPDX-License-Identifier: Apache-2.0
// The real program reading a healthy bridge until it is stopped by a signal,
// with its output to a file and to a pipe: every report that was complete
// before the signal is there, none is cut short, and the bytes are exactly
// those the bridge sent, from the first on.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"
#include "report_model.h"
#include "stream.h"

namespace {

using runner::Output;

constexpr uint32_t kSeed = 2024;  // of endless-stream.scenario
constexpr size_t kReportsBeforeTheSignal = 3;

size_t Reports(const std::string& output) {
  size_t count = 0;
  for (size_t at = output.find("<<<\n"); at != std::string::npos;
       at = output.find("<<<\n", at + 1)) {
    ++count;
  }
  return count;
}

// Reads the log calls that delivered bytes: the program had those blocks in
// hand, whether or not it could report the last one before the signal.
size_t ReadsWithBytes(const std::string& log) {
  size_t count = 0;
  for (size_t at = log.find("HidUart_Read "); at != std::string::npos;
       at = log.find("HidUart_Read ", at + 1)) {
    const size_t end = log.find('\n', at);
    if (log.substr(at, end - at).find("numBytesRead=0") == std::string::npos) {
      ++count;
    }
  }
  return count;
}

void CheckOutput(const std::string& output, const std::string& log) {
  std::vector<reports::Block> blocks;
  std::vector<std::string> other;
  ASSERT_EQ(reports::ParseReports(output, &blocks, &other), "");
  EXPECT_GE(blocks.size(), kReportsBeforeTheSignal);
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(other.back(), "Connected to STREAM") << "only reports follow the connection";
  // The output ends right after a report's closing line.
  EXPECT_EQ(output.substr(output.size() - 4), "<<<\n");

  const std::vector<uint8_t> bytes = reports::BytesFrom(blocks, "STREAM");
  EXPECT_EQ(bytes, sim::StreamBytes(kSeed, bytes.size()));
  // At most the block being reported when the signal came is missing.
  const size_t read = ReadsWithBytes(log);
  EXPECT_GE(blocks.size() + 1, read) << read << " reads delivered bytes";
  EXPECT_LE(blocks.size(), read);
}

class InterruptedRun : public testing::TestWithParam<int> {};

TEST_P(InterruptedRun, ToAFile) {
  const int signal = GetParam();
  const runner::Child child =
      runner::Start({"signal-" + std::to_string(signal) + "-file", "endless-stream.scenario"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Reports(runner::ReadFile(child.outputFile)) < kReportsBeforeTheSignal &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(child.pid, signal);
  const int status = runner::Wait(child);
  EXPECT_TRUE(runner::KilledBy(status, signal)) << runner::Describe(status);
  CheckOutput(runner::ReadFile(child.outputFile), runner::ReadFile(child.callLog));
}

TEST_P(InterruptedRun, ToAPipeThatIsFull) {
  const int signal = GetParam();
  const runner::Child child = runner::Start(
      {"signal-" + std::to_string(signal) + "-pipe", "endless-stream.scenario", Output::kPipe});
  std::string output = runner::ReadUntil(
      child.pipe, [](const std::string& got) { return Reports(got) >= kReportsBeforeTheSignal; });
  // Stop reading until the pipe is full and the program waits in a write,
  // then stop the program there.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(child.pid, signal);
  output += runner::ReadAll(child.pipe);
  close(child.pipe);
  const int status = runner::Wait(child);
  EXPECT_TRUE(runner::KilledBy(status, signal)) << runner::Describe(status);
  // Half a second of the stream is some 50 reports; a full pipe holds far
  // fewer, so the program was waiting in a write when the signal came.
  EXPECT_LT(Reports(output), 45u) << "the pipe was never full";
  CheckOutput(output, runner::ReadFile(child.callLog));
}

INSTANTIATE_TEST_SUITE_P(BySignal, InterruptedRun, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& signal) {
                           return std::string(signal.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

}  // namespace
