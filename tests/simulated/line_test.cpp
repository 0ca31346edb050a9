// SPDX-License-Identifier: Apache-2.0
#include "line.h"

#include <gtest/gtest.h>

#include <vector>

#include "stream.h"

namespace sim {
namespace {

constexpr Nanos kMs = 1'000'000;

std::vector<std::uint8_t> Take(Line& line, Nanos now, std::uint32_t max) {
  std::vector<std::uint8_t> out(max);
  out.resize(line.Take(now, out.data(), max));
  return out;
}

TEST(StreamGenerator, IsXorshift32) {
  // Rebuilt by hand from the documented recurrence.
  EXPECT_EQ(StreamBytes(7, 8),
            (std::vector<std::uint8_t>{0xE7, 0x07, 0x43, 0x45, 0xFF, 0x94, 0xBA, 0x57}));
  EXPECT_EQ(StreamBytes(1, 2), (std::vector<std::uint8_t>{0x21, 0x01}));
}

TEST(Line, InstantFramesArriveWholeAndMergeOnlyOnceArrived) {
  Line line({{500 * kMs, {1, 2, 3}, true}, {100 * kMs, {9}, true}, {500 * kMs, {4}, true}}, {});
  EXPECT_EQ(line.Total(), 5u);
  EXPECT_EQ(line.Available(99 * kMs), 0u);
  EXPECT_EQ(line.NextArrival(0), 100 * kMs);
  EXPECT_EQ(Take(line, 200 * kMs, 100), (std::vector<std::uint8_t>{9}));
  EXPECT_EQ(line.NextArrival(200 * kMs), 500 * kMs);
  // Frames due at the same moment keep their file order; bytes beyond the
  // request stay for the next take.
  EXPECT_EQ(Take(line, 600 * kMs, 2), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(line.Available(600 * kMs), 2u);
  EXPECT_EQ(Take(line, 600 * kMs, 100), (std::vector<std::uint8_t>{3, 4}));
  EXPECT_TRUE(line.Drained());
  EXPECT_FALSE(line.NextArrival(600 * kMs).has_value());
}

TEST(Line, StreamByteCountsFollowTheRate) {
  // 960 bytes/s from t = 1 s: byte k arrives at 1 s + ceil(k / 960 s).
  Line line({}, {{kNanosPerSecond, 960, 9600, 7}});
  EXPECT_EQ(line.Available(kNanosPerSecond - 1), 0u);
  EXPECT_EQ(line.Available(kNanosPerSecond), 1u);
  EXPECT_EQ(line.Available(2 * kNanosPerSecond), 961u);
  EXPECT_EQ(line.Available(11 * kNanosPerSecond - 1), 9600u);
  EXPECT_EQ(line.Available(1000 * kNanosPerSecond), 9600u);
  // The next arrival after 1.5 s is byte 481, at 1 s + 481/960 s.
  EXPECT_EQ(line.NextArrival(1500 * kMs), kNanosPerSecond + (481 * kNanosPerSecond + 959) / 960);
  EXPECT_EQ(Take(line, 1500 * kMs, 1000), StreamBytes(7, 481));
  EXPECT_EQ(line.Delivered(), 481u);
}

TEST(Line, FastAndInstantStreamsAreCountedNotStepped) {
  Line fast({}, {{0, 960'000, 4'000'000'000u, 3}});
  EXPECT_EQ(fast.Available(3600 * kNanosPerSecond), 3'456'000'001u);
  Line instant({}, {{2 * kMs, 0, 5000, 3}});
  EXPECT_EQ(instant.Available(kMs), 0u);
  EXPECT_EQ(instant.NextArrival(kMs), 2 * kMs);
  EXPECT_EQ(instant.Available(2 * kMs), 5000u);
}

TEST(Line, FramesAndStreamsInterleaveByArrival) {
  // Stream bytes at 0, 10, 20 ms; a frame at 10 ms goes before the stream
  // byte of the same moment.
  Line line({{10 * kMs, {0xAA, 0xBB}, true}}, {{0, 100, 3, 7}});
  const auto stream = StreamBytes(7, 3);
  EXPECT_EQ(Take(line, 30 * kMs, 10),
            (std::vector<std::uint8_t>{stream[0], 0xAA, 0xBB, stream[1], stream[2]}));
}

// Bytes are taken in runs where one sender keeps the turn. Whatever the
// sizes and times of the takes, the bytes and their order must be those of
// taking one byte at a time, where each byte is chosen on its own.
TEST(Line, TakingManyAtOnceKeepsTheOrderOfOneByOne) {
  struct LineCase {
    const char* name;
    std::vector<Frame> frames;
    std::vector<Stream> streams;
    std::vector<TagSeries> tags;
  };
  const LineCase cases[] = {
      {"one stream alone, all at once", {}, {{0, 0, 5000, 3}}, {}},
      {"two streams of the same rate tie at every byte",
       {},
       {{0, 1000, 300, 5}, {0, 1000, 300, 9}},
       {}},
      {"a slow stream inside a fast one", {}, {{0, 100000, 3000, 5}, {kMs / 2, 700, 40, 9}}, {}},
      {"instant and timed frames, tags and a stream",
       {{2 * kMs, {1, 2, 3, 4}, true}, {3 * kMs, {5, 6, 7}, false}, {3 * kMs, {8, 9}, true}},
       {{kMs, 2000, 200, 11}},
       {{0, 30, 6, 5 * kMs, 9 * kMs, 4}}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    Line many(c.frames, c.streams, c.tags);
    Line single(c.frames, c.streams, c.tags);
    std::vector<std::uint8_t> fromMany;
    std::vector<std::uint8_t> fromSingle;
    StreamGenerator sizes(17);
    Nanos now = 0;
    while (!many.Drained() || !single.Drained()) {
      // Takes now close together, now far apart, so that some find a
      // long backlog of several senders.
      now += kMs / 3 + static_cast<Nanos>(sizes.Next() % 20) * kMs / 2;
      ASSERT_LT(now, 100'000 * kMs);
      const std::vector<std::uint8_t> part = Take(many, now, 1u + sizes.Next() % 600u);
      fromMany.insert(fromMany.end(), part.begin(), part.end());
      // As many single bytes as the other line gave, then whatever is left
      // once it has given all it had.
      for (std::size_t i = 0; i < part.size(); ++i) {
        const std::vector<std::uint8_t> one = Take(single, now, 1);
        fromSingle.insert(fromSingle.end(), one.begin(), one.end());
      }
      if (many.Available(now) == 0) {
        for (std::vector<std::uint8_t> one; !(one = Take(single, now, 1)).empty();) {
          fromSingle.insert(fromSingle.end(), one.begin(), one.end());
        }
      }
    }
    EXPECT_EQ(fromMany.size(), many.Total());
    EXPECT_EQ(fromMany, fromSingle);
  }
}

}  // namespace
}  // namespace sim
