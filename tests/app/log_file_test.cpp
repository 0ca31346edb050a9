// SPDX-License-Identifier: Apache-2.0
#include "output/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Events of the given sizes, each a line of its own letter, written one
// write each: every event must be whole in exactly one file, the files in
// order FILE.N ... FILE.1, FILE; none past the size unless one event alone
// is; at most keep older files.
TEST(LogFile, RotatesAtEventBoundariesAndKeepsTheNewest) {
  struct RotationCase {
    const char* name;
    uint64_t limit;
    int keep;
    std::vector<size_t> events;
    std::vector<size_t> eventsPerFile;  // newest file last
  };
  const RotationCase cases[] = {
      {"all fit", 100, 2, {10, 20, 30}, {3}},
      {"exactly full stays", 60, 2, {10, 20, 30}, {3}},
      {"one byte over rotates before it", 59, 2, {10, 20, 30}, {2, 1}},
      {"each event alone", 10, 5, {10, 10, 10}, {1, 1, 1}},
      {"an event larger than the size has a file of its own", 50, 3, {10, 200, 10}, {1, 1, 1}},
      {"the oldest beyond keep is deleted", 25, 2, {20, 20, 20, 20, 20}, {1, 1, 1}},
      {"keep 0 starts the file again", 25, 0, {20, 20, 20}, {1}},
  };
  for (const RotationCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = fs::path(testing::TempDir()) / "kestrune-log-rotation";
    fs::remove_all(dir);
    const fs::path path = dir / "station.log";
    std::vector<std::string> written;
    {
      LogFile log(path, c.limit, c.keep);
      std::string problem;
      ASSERT_TRUE(log.Open(problem)) << problem;
      for (size_t i = 0; i < c.events.size(); ++i) {
        std::string event(c.events[i] - 1, static_cast<char>('a' + i));
        event += '\n';
        const WriteAttempt attempt = log.Write(event.data(), event.size());
        EXPECT_EQ(attempt.fault, WriteFault::kNone);
        EXPECT_EQ(attempt.written, event.size());
        written.push_back(event);
      }
    }
    std::vector<fs::path> files;
    for (int n = c.keep; n >= 1; --n) {
      fs::path older = path;
      older += "." + std::to_string(n);
      if (fs::exists(older)) {
        files.push_back(older);
      }
    }
    files.push_back(path);
    EXPECT_FALSE(fs::exists(path.string() + "." + std::to_string(c.keep + 1)));
    ASSERT_EQ(files.size(), c.eventsPerFile.size());
    // The newest events, in order, whole, one file each.
    size_t event = written.size();
    for (size_t f = files.size(); f-- > 0;) {
      event -= c.eventsPerFile[f];
      std::string expected;
      for (size_t i = event; i < event + c.eventsPerFile[f]; ++i) {
        expected += written[i];
      }
      EXPECT_EQ(Read(files[f]), expected) << files[f];
    }
    fs::remove_all(dir);
  }
}

TEST(LogFile, GoesOnWhereAnEarlierRunLeftItAndSaysWhatTheDiskSays) {
  const fs::path dir = fs::path(testing::TempDir()) / "kestrune-log-again";
  fs::remove_all(dir);
  const fs::path path = dir / "deeper" / "station.log";
  {
    LogFile first(path, 30, 1);
    std::string problem;
    ASSERT_TRUE(first.Open(problem)) << problem;
    first.Write("0123456789\n", 11);
  }
  {
    // The size counts what the file held: the second write rotates.
    LogFile again(path, 30, 1);
    std::string problem;
    ASSERT_TRUE(again.Open(problem)) << problem;
    EXPECT_EQ(again.size(), 11u);
    again.Write("abcdefghijklmnopqrst\n", 21);
  }
  EXPECT_EQ(Read(path.string() + ".1"), "0123456789\n");
  EXPECT_EQ(Read(path), "abcdefghijklmnopqrst\n");
  fs::remove_all(dir);

#if !defined(_WIN32)
  LogFile full("/dev/full", 1 << 20, 0);
  std::string problem;
  ASSERT_TRUE(full.Open(problem)) << problem;
  const WriteAttempt attempt = full.Write("line\n", 5);
  EXPECT_EQ(attempt.fault, WriteFault::kFull);
  EXPECT_EQ(attempt.written, 0u);
#endif
}

}  // namespace
