// SPDX-License-Identifier: Apache-2.0
// Framing and dedupe on their own: bytes and times in, blocks and holds out,
// with no bridge and no clock.
#include "capture/block_framer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "capture/repeat_filter.h"

namespace {

using std::chrono::milliseconds;

struct Step {
  enum Kind { kAdd, kFlush, kEndIfOver, kEnd } kind;
  uint32_t count = 0;  // kAdd: bytes 0x00, 0x01, ... (or all `fill`)
  int atMs = 0;
  uint8_t fill = 0;  // 0: counting bytes
};

Step Add(uint32_t count, int atMs, uint8_t fill = 0) { return {Step::kAdd, count, atMs, fill}; }
// A whole block: its bytes, then the quiet that ends it.
std::vector<Step> Block(uint32_t count, int atMs, uint8_t fill = 0) {
  return {Add(count, atMs, fill), {Step::kFlush}};
}

struct Case {
  const char* name;
  int windowMs;  // 0: no dedupe
  std::vector<std::vector<Step>> steps;
  const char* told;  // what came out, in order
};

CaptureClock::time_point At(int ms) { return CaptureClock::time_point(milliseconds(ms)); }

int Ms(CaptureClock::duration duration) {
  return static_cast<int>(std::chrono::duration_cast<milliseconds>(duration).count());
}

std::string Told(const Case& test) {
  std::string told;
  RepeatFilter filter(milliseconds(test.windowMs), [&](const EndedHold& hold) {
    told += "held " + std::to_string(hold.count) + "B@" +
            std::to_string(Ms(hold.reported.at.time_since_epoch())) + " x" +
            std::to_string(hold.repeats) + " " + std::to_string(Ms(hold.held)) + "ms; ";
  });
  BlockFramer framer([&](const uint8_t* bytes, uint32_t count, const BlockMoment& moment) {
    if (test.windowMs > 0 && filter.Repeats(bytes, count, moment)) {
      return;
    }
    told += "block " + std::to_string(count) + "B@" +
            std::to_string(Ms(moment.at.time_since_epoch())) + " first " +
            std::to_string(bytes[0]) + "; ";
  });
  for (const std::vector<Step>& group : test.steps) {
    for (const Step& step : group) {
      switch (step.kind) {
        case Step::kAdd: {
          std::vector<uint8_t> bytes(step.count, step.fill);
          for (uint32_t i = 0; step.fill == 0 && i < step.count; ++i) {
            bytes[i] = static_cast<uint8_t>(i);
          }
          framer.Add(bytes.data(), step.count, BlockMoment{{}, At(step.atMs)});
          break;
        }
        case Step::kFlush:
          framer.Flush();
          break;
        case Step::kEndIfOver:
          filter.EndIfOver(At(step.atMs));
          break;
        case Step::kEnd:
          filter.End();
          break;
      }
    }
  }
  return told;
}

TEST(BlockFramer, BlocksAndHoldsFollowFromWhatCameAndWhen) {
  const Case kCases[] = {
      {"several reads make one block, with the first read's time",
       0,
       {{Add(3, 0), Add(2, 5)}, {{Step::kFlush}}},
       "block 5B@0 first 0; "},
      {"a quiet with nothing pending hands on nothing", 0, {{{Step::kFlush}}}, ""},
      {"a block is cut at the largest size; the rest starts the next, with its read's time",
       0,
       {{Add(kMaxBlockSize - 1, 0), Add(3, 7)}, {{Step::kFlush}}},
       "block 1000B@0 first 0; block 2B@7 first 1; "},
      {"one read of exactly the largest size is handed on at once",
       0,
       {{Add(kMaxBlockSize, 0)}},
       "block 1000B@0 first 0; "},
      {"a repeat within the window is left out, and told when another block comes",
       100,
       {Block(5, 0, 7), Block(5, 50, 7), Block(5, 120, 9)},
       "block 5B@0 first 7; held 5B@0 x1 50ms; block 5B@120 first 9; "},
      {"the window runs from the last repeat, not from the block reported",
       100,
       {Block(5, 0, 7), Block(5, 80, 7), Block(5, 160, 7), {{Step::kEnd}}},
       "block 5B@0 first 7; held 5B@0 x2 160ms; "},
      {"the same bytes past the window are a new block",
       100,
       {Block(5, 0, 7), Block(5, 100, 7)},
       "block 5B@0 first 7; block 5B@100 first 7; "},
      {"a longer block with the same start is no repeat",
       100,
       {Block(5, 0, 7), Block(6, 10, 7)},
       "block 5B@0 first 7; block 6B@10 first 7; "},
      {"a hold ends once the window has passed since the last repeat, not before",
       100,
       {Block(5, 0, 7),
        Block(5, 50, 7),
        {{Step::kEndIfOver, 0, 149}},
        {{Step::kEndIfOver, 0, 150}}},
       "block 5B@0 first 7; held 5B@0 x1 50ms; "},
      {"the end of the capture tells a hold once",
       100,
       {Block(5, 0, 7), Block(5, 10, 7), {{Step::kEnd}, {Step::kEnd}}},
       "block 5B@0 first 7; held 5B@0 x1 10ms; "},
  };
  for (const Case& test : kCases) {
    EXPECT_EQ(Told(test), test.told) << test.name;
  }
}

}  // namespace
