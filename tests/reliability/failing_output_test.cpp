// SPDX-License-Identifier: Apache-2.0
// The real program with its standard output closed, full, or a pipe whose
// reader goes away. It never crashes on a failed write, goes on with its
// sweep as if the write had worked, and where it can write, loses nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"
#include "report_model.h"
#include "stream.h"

namespace {

using runner::Output;

const std::vector<uint8_t> kTag = {0x12, 0x34, 0x56, 0x78, 0x9A};

// The lines of a call log that keep accepts, each with its line end.
std::string LinesWhere(const std::string& log, bool (*keep)(const std::string& line)) {
  std::string kept;
  for (size_t start = 0, end = 0; start < log.size(); start = end + 1) {
    end = std::min(log.find('\n', start), log.size());
    const std::string line = log.substr(start, end - start);
    if (keep(line)) {
      kept += line + "\n";
    }
  }
  return kept;
}

// The call log without reads that only waited out the time-out: how many of
// those come depends on timing, not on the program.
std::string CallsThatMatter(const std::string& log) {
  return LinesWhere(log, [](const std::string& line) {
    return line.find("-> 0x12 numBytesRead=0") == std::string::npos;
  });
}

// Every line of the call log is one the simulated library wrote.
std::string ForeignLines(const std::string& log) {
  return LinesWhere(log, [](const std::string& line) { return line.rfind("HidUart_", 0) != 0; });
}

struct Reference {
  std::string output;
  std::string calls;
};

// A run with standard output to a file: the whole sweep, checked.
const Reference& ReferenceRun() {
  static const Reference reference = [] {
    const runner::Child child = runner::Start({"reference", "sweep.scenario"});
    const int status = runner::Wait(child);
    EXPECT_TRUE(runner::ExitedWithZero(status)) << runner::Describe(status);
    EXPECT_EQ(runner::ReadFile(child.errorFile), "");
    return Reference{runner::ReadFile(child.outputFile),
                     CallsThatMatter(runner::ReadFile(child.callLog))};
  }();
  return reference;
}

TEST(FailingOutput, AFileGetsTheWholeSweep) {
  const Reference& reference = ReferenceRun();
  std::vector<reports::Block> blocks;
  std::vector<std::string> other;
  ASSERT_EQ(reports::ParseReports(reference.output, &blocks, &other), "");
  EXPECT_EQ(reports::BytesFrom(blocks, "S1"), kTag);
  EXPECT_EQ(reports::BytesFrom(blocks, "S2"), sim::StreamBytes(7, 3000));
  EXPECT_NE(reference.output.find("Failed to connect to BAD: Invalid parameter\nNot Connected\n"),
            std::string::npos);
  EXPECT_EQ(other.back(), "Connected to S2");
}

TEST(FailingOutput, WritesThatFailChangeNothingElse) {
  const struct {
    const char* name;
    runner::Options options;
  } cases[] = {
      {"standard output closed", {"closed", "sweep.scenario", Output::kClosed}},
      {"a full device", {"full", "sweep.scenario", Output::kDevFull}},
      {"a pipe with no reader, broken pipes ignored",
       {"no-reader-ignored", "sweep.scenario", Output::kPipe, false, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const runner::Child child = runner::Start(c.options);
    if (child.pipe >= 0) {
      close(child.pipe);
    }
    const int status = runner::Wait(child);
    EXPECT_TRUE(runner::ExitedWithZero(status)) << runner::Describe(status);
    EXPECT_EQ(runner::ReadFile(child.errorFile), "") << "the program writes nothing else";
    const std::string log = runner::ReadFile(child.callLog);
    EXPECT_EQ(ForeignLines(log), "") << "the program's output landed in the library's file";
    EXPECT_EQ(CallsThatMatter(log), ReferenceRun().calls)
        << "the sweep and the capture go on as if the writes had worked";
  }
}

TEST(FailingOutput, ABrokenPipeEndsTheRunByItsSignal) {
  // The reader is gone before the first line.
  runner::Child child = runner::Start({"no-reader", "sweep.scenario", Output::kPipe});
  close(child.pipe);
  int status = runner::Wait(child);
  EXPECT_TRUE(runner::KilledBy(status, SIGPIPE) || runner::ExitedWithZero(status))
      << runner::Describe(status);

  // The reader goes once the first bridge is connected: what it got is the
  // start of the full output, in whole lines.
  child = runner::Start({"reader-leaves", "sweep.scenario", Output::kPipe});
  const std::string got = runner::ReadUntil(
      child.pipe,
      [](const std::string& text) { return text.find("Connected to S1\n") != std::string::npos; },
      256);
  close(child.pipe);
  status = runner::Wait(child);
  EXPECT_TRUE(runner::KilledBy(status, SIGPIPE) || runner::ExitedWithZero(status))
      << runner::Describe(status);
  EXPECT_EQ(ReferenceRun().output.substr(0, got.size()), got);
  EXPECT_EQ(got.back(), '\n');
}

TEST(FailingOutput, OtherStandardStreamsClosedLeaveTheOutputWhole) {
  const runner::Child child = runner::Start(
      {"no-stdin-stderr", "sweep.scenario", Output::kFile, /*closeStdinAndStderr=*/true});
  const int status = runner::Wait(child);
  EXPECT_TRUE(runner::ExitedWithZero(status)) << runner::Describe(status);
  EXPECT_EQ(runner::ReadFile(child.outputFile), ReferenceRun().output);
  EXPECT_EQ(ForeignLines(runner::ReadFile(child.callLog)), "");
}

TEST(FailingOutput, ASlowReaderLosesNothing) {
  const runner::Child child = runner::Start({"slow-reader", "big-stream.scenario", Output::kPipe});
  // Slower than the program writes, so that the pipe fills and the program
  // waits in its writes.
  const std::string got =
      runner::ReadUntil(child.pipe, nullptr, 4096, std::chrono::milliseconds(2));
  close(child.pipe);
  const int status = runner::Wait(child);
  EXPECT_TRUE(runner::ExitedWithZero(status)) << runner::Describe(status);
  std::vector<reports::Block> blocks;
  std::vector<std::string> other;
  ASSERT_EQ(reports::ParseReports(got, &blocks, &other), "");
  EXPECT_EQ(blocks.size(), 100u);
  EXPECT_EQ(reports::BytesFrom(blocks, "BIG"), sim::StreamBytes(11, 100000));
}

}  // namespace
