// SPDX-License-Identifier: Apache-2.0
#include "output/output_channel.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// How the system answers one write: the bytes it takes (all when negative)
// and the fault that stopped it.
struct Answer {
  long takes;
  WriteFault fault;
};

constexpr Answer kAll{-1, WriteFault::kNone};
constexpr Answer kNoRoom{0, WriteFault::kFull};
constexpr Answer kClosed{0, WriteFault::kGone};

struct ChannelCase {
  const char* name;
  std::vector<std::string> flushes;
  std::deque<Answer> answers;       // once they run out, every write is taken whole
  std::string received;             // what the system took, in order
  std::vector<std::string> writes;  // what each write was asked to take
  std::vector<std::string> notices;
  bool gone;
};

TEST(OutputChannel, SaysWhatHoldsWhenTheSystemStopsTakingLines) {
  const std::string full =
      "standard output is full: No space left on device; lines are left "
      "out until it takes them again";
  const ChannelCase cases[] = {
      {"a closed pipe ends the output, and nothing is written after it",
       {"one\n", "two\n", "three\n"},
       {kAll, kClosed},
       "one\n",
       {"one\n", "two\n"},
       {"standard output failed: Broken pipe; stopping"},
       true},
      {"a flush cut by a full disk is finished first, what came meanwhile left out",
       {"one\n", "two\ntwo\n", "three\n", "four\nfour\n", "five\n"},
       {kAll, {5, WriteFault::kFull}, kNoRoom, {2, WriteFault::kFull}, kAll, kAll},
       "one\ntwo\ntwo\nfive\n",
       {"one\n", "two\ntwo\n", "wo\n", "wo\n", "\n", "five\n"},
       {full, "standard output takes lines again; 3 lines were left out while it was full"},
       false},
      {"a flush refused whole is left out whole; one with nothing in it proves no room",
       {"one\n", "two\n", "", "three\n", "four\n"},
       {kAll, kNoRoom, kNoRoom},
       "one\nfour\n",
       {"one\n", "two\n", "three\n", "four\n"},
       {full, "standard output takes lines again; 2 lines were left out while it was full"},
       false},
      {"still full at the end, with a line cut short",
       {"one\ntwo\n", "three\n"},
       {{5, WriteFault::kFull}, kNoRoom, kNoRoom},
       "one\nt",
       {"one\ntwo\n", "wo\n", "wo\n"},
       {full,
        "standard output was still full at the end; 1 line was left out, and the last "
        "line written is cut short"},
       false},
      {"still full at the end, cut between two lines",
       {"one\ntwo\n"},
       {{4, WriteFault::kFull}, kNoRoom},
       "one\n",
       {"one\ntwo\n", "two\n"},
       {full, "standard output was still full at the end; 1 line was left out"},
       false},
  };
  for (const ChannelCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::deque<Answer> answers = c.answers;
    std::string received;
    std::vector<std::string> writes;
    std::vector<std::string> notices;
    OutputChannel channel(
        [&](const char* data, size_t size) {
          writes.emplace_back(data, size);
          Answer answer = kAll;
          if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
          }
          const size_t taken = answer.takes < 0 ? size : static_cast<size_t>(answer.takes);
          received.append(data, taken);
          return WriteAttempt{
              taken, answer.fault,
              answer.fault == WriteFault::kGone ? "Broken pipe" : "No space left on device"};
        },
        [&](const std::string& line) { notices.push_back(line); });
    for (const std::string& flush : c.flushes) {
      // Printed in two parts, flushed as one.
      if (!flush.empty()) {
        channel.Append(flush.data(), 1);
        channel.Append(flush.data() + 1, flush.size() - 1);
      }
      channel.Flush();
    }
    channel.Finish();
    EXPECT_EQ(received, c.received);
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(notices, c.notices);
    EXPECT_EQ(channel.gone(), c.gone);
  }
}

}  // namespace
