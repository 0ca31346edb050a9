// SPDX-License-Identifier: Apache-2.0
// Frames and tags timed like a UART, on the line's own arithmetic with
// explicit times: what arrives when at several settings, a setting changed in
// the middle of a frame, instant frames, the tags schedule rebuilt here from
// its documented algorithm, and reads that end between two bytes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "line.h"
#include "scenario_reader.h"
#include "tags.h"

namespace sim {
namespace {

constexpr Nanos kMs = 1'000'000;

using Setting = hiduart::UartSetting;
constexpr Setting k9600{9600, HID_UART_EIGHT_DATA_BITS, 0, 0, 0};
constexpr Setting k19200{19200, HID_UART_EIGHT_DATA_BITS, 0, 0, 0};

struct Arrival {
  Nanos at;
  std::uint8_t byte;
};

// k characters of halfBits / 2 bits at `baud`, rounded up to the nanosecond.
Nanos Characters(std::uint64_t k, std::uint64_t halfBits, std::uint64_t baud) {
  return static_cast<Nanos>((k * halfBits * 1'000'000'000u + 2 * baud - 1) / (2 * baud));
}

std::vector<Arrival> Timed(Nanos at, const std::vector<std::uint8_t>& bytes, std::uint64_t halfBits,
                           std::uint64_t baud) {
  std::vector<Arrival> arrivals;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    arrivals.push_back({at + Characters(k, halfBits, baud), bytes[k]});
  }
  return arrivals;
}

std::vector<Arrival> Join(std::vector<Arrival> a, const std::vector<Arrival>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The tags algorithm as README.md tells it, for spreads below 2^32 ns, at
// 8N1 (20 half bits).
std::vector<Arrival> RebuiltTags(Nanos at, int count, int bytes, Nanos least, Nanos most,
                                 std::uint32_t seed, std::uint64_t baud) {
  std::uint32_t state = seed;
  const auto step = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  std::vector<Arrival> arrivals;
  Nanos start = at;
  for (int i = 0; i < count; ++i) {
    for (int k = 0; k < bytes; ++k) {
      arrivals.push_back({start + Characters(static_cast<std::uint64_t>(k), 20, baud),
                          static_cast<std::uint8_t>(step() & 0xFF)});
    }
    const std::uint64_t u = step();
    const auto spacing =
        least + static_cast<Nanos>(u * static_cast<std::uint64_t>(most - least + 1) >> 32);
    start += std::max(spacing, Characters(static_cast<std::uint64_t>(bytes), 20, baud));
  }
  return arrivals;
}

TEST(TimedLine, BytesArriveOneCharacterTimeApartAtTheWrittenSetting) {
  struct Case {
    const char* name;
    std::string bridge;  // the directives of one bridge
    std::vector<std::pair<Nanos, Setting>> written;
    std::vector<Arrival> expected;  // every byte, in order of arrival
  };
  const Case cases[] = {
      {"power-on 115200 8N1 until a setting is written",
       "frame at 0.001 01 02 03",
       {},
       {{kMs, 1}, {kMs + 86806, 2}, {kMs + 173612, 3}}},
      {"9600 8N1",
       "frame at 0.001 01 02 03 04 05",
       {{0, k9600}},
       {{kMs, 1}, {2'041'667, 2}, {3'083'334, 3}, {4'125'000, 4}, {5'166'667, 5}}},
      {"300 baud, 7 data bits, even parity, 2 stop bits: 11 bits",
       "frame at 1 41 42 43",
       {{0, {300, HID_UART_SEVEN_DATA_BITS, HID_UART_EVEN_PARITY, HID_UART_LONG_STOP_BIT, 0}}},
       Timed(1000 * kMs, {0x41, 0x42, 0x43}, 22, 300)},
      {"19200, odd parity: 11 bits",
       "frame at 0.25 01 02",
       {{0, {19200, HID_UART_EIGHT_DATA_BITS, HID_UART_ODD_PARITY, 0, 0}}},
       Timed(250 * kMs, {1, 2}, 22, 19200)},
      {"5 data bits take 1.5 stop bits: 7.5 bits",
       "frame at 0.5 01 02 03",
       {{0, {1'000'000, HID_UART_FIVE_DATA_BITS, 0, HID_UART_LONG_STOP_BIT, 0}}},
       {{500 * kMs, 1}, {500 * kMs + 7500, 2}, {500 * kMs + 15000, 3}}},
      {"a frame due while another is arriving follows right after its last byte",
       "frame at 0.002 0A 0B\nframe at 0.001 01 02 03",
       {{0, k9600}},
       Join(Timed(kMs, {1, 2, 3}, 20, 9600),
            Timed(kMs + Characters(3, 20, 9600), {10, 11}, 20, 9600))},
      {"instant frames arrive whole, before timed bytes of the same moment",
       "frame at 0.001 0A 0B\nframe at 0.001 instant 01 02",
       {{0, k9600}},
       {{kMs, 1}, {kMs, 2}, {kMs, 10}, {2'041'667, 11}}},
      // At 3 ms byte 2 still has 83334 ns to go at 9600 baud: at 19200 that is
      // 41667 ns, and the bytes after it follow 520833.3 ns apart. The next
      // frame, due at 4 ms, waits for the end of this one.
      {"a setting written in the middle of a frame re-times only what is to come",
       "frame at 0.001 01 02 03 04 05\nframe at 0.004 06",
       {{0, k9600}, {3 * kMs, k19200}},
       {{kMs, 1}, {2'041'667, 2}, {3'041'667, 3}, {3'562'501, 4}, {4'083'334, 5}, {4'604'167, 6}}},
      {"tags spaced by draws from their seed",
       "tags at 0.01 count 4 bytes 3 spacing 0.002 0.009 seed 5",
       {{0, k9600}},
       RebuiltTags(10 * kMs, 4, 3, 2 * kMs, 9 * kMs, 5, 9600)},
      {"tags drawn closer than their length follow one another back to back",
       "tags at 0.001 count 3 bytes 10 spacing 0 0.001 seed 9",
       {{0, k9600}},
       RebuiltTags(kMs, 3, 10, 0, kMs, 9, 9600)},
      // Rebuilt from the README's algorithm with exact integers elsewhere: the
      // spread of 9 s needs the draw's product beyond 64 bits.
      {"tags over a spread wider than 32 bits of nanoseconds",
       "tags at 0.001 count 3 bytes 2 spacing 1 10 seed 3",
       {{0, k9600}},
       {{1'000'000, 0x63},
        {2'041'667, 0x03},
        {7'340'720'875, 0x49},
        {7'341'762'542, 0xCB},
        {9'351'347'700, 0x43},
        {9'352'389'367, 0x04}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult parsed = ParseScenario("bridge \"T\"\n" + c.bridge, c.name);
    ASSERT_TRUE(parsed.scenario.has_value()) << parsed.error;
    const BridgeSetup& bridge = parsed.scenario->bridges[0];

    // The whole schedule, every setting written.
    Line schedule(bridge.frames, bridge.streams, bridge.tags);
    for (const auto& [at, setting] : c.written)
      schedule.SetCharacterTime(at, UartCharTime(setting));
    ASSERT_EQ(schedule.Total(), c.expected.size());
    for (std::size_t k = 0; k < c.expected.size(); ++k) {
      SCOPED_TRACE("byte " + std::to_string(k));
      EXPECT_EQ(schedule.PendingArrival(k + 1), c.expected[k].at);
      EXPECT_GE(schedule.Available(c.expected[k].at), k + 1);
      EXPECT_LE(schedule.Available(c.expected[k].at - 1), k);
    }
    EXPECT_FALSE(schedule.PendingArrival(c.expected.size() + 1).has_value());

    // Two reads, the first ending in the middle: it gets exactly what has
    // arrived by its end; settings are written as time goes by.
    Line line(bridge.frames, bridge.streams, bridge.tags);
    const Nanos end = c.expected[c.expected.size() / 2].at;
    std::size_t written = 0;
    for (; written < c.written.size() && c.written[written].first <= end; ++written) {
      line.SetCharacterTime(c.written[written].first, UartCharTime(c.written[written].second));
    }
    std::vector<std::uint8_t> first(1000);
    first.resize(line.Take(end, first.data(), 1000));
    std::vector<std::uint8_t> arrived;
    for (const Arrival& a : c.expected) {
      if (a.at <= end) arrived.push_back(a.byte);
    }
    EXPECT_EQ(first, arrived);
    for (; written < c.written.size(); ++written) {
      line.SetCharacterTime(c.written[written].first, UartCharTime(c.written[written].second));
    }
    std::vector<std::uint8_t> all = first;
    std::vector<std::uint8_t> rest(1000);
    rest.resize(line.Take(c.expected.back().at, rest.data(), 1000));
    all.insert(all.end(), rest.begin(), rest.end());
    std::vector<std::uint8_t> sent;
    for (const Arrival& a : c.expected) sent.push_back(a.byte);
    EXPECT_EQ(all, sent);
    EXPECT_TRUE(line.Drained());
  }
}

TEST(TimedLine, ManyTagsComeAsTagFramesSaysAtOneSetting) {
  TagSeries series;
  series.at = 100 * kMs;
  series.count = 100'000;
  series.bytes = 5;
  series.minSpacing = 4 * kMs;  // below a tag's 5.2 ms at 9600 baud now and then
  series.maxSpacing = 12 * kMs;
  series.seed = 77;
  const CharTime c = UartCharTime(k9600);
  const std::vector<Frame> tags = TagFrames(series, c);
  ASSERT_EQ(tags.size(), series.count);
  Line line({}, {}, {series}, c);
  for (std::size_t i = 0; i < tags.size(); i += 997) {
    SCOPED_TRACE("tag " + std::to_string(i));
    EXPECT_EQ(line.Available(tags[i].at - 1), 5 * i);
    EXPECT_EQ(line.Available(tags[i].at + Offset(c, 4)), 5 * i + 5);
    EXPECT_EQ(line.PendingArrival(5 * i + 1), tags[i].at);
  }
  std::vector<std::uint8_t> expected;
  for (const Frame& tag : tags) expected.insert(expected.end(), tag.bytes.begin(), tag.bytes.end());
  std::vector<std::uint8_t> taken(expected.size());
  for (std::size_t done = 0; done < taken.size();) {
    done += line.Take(tags.back().at + kMs * 10, taken.data() + done, 1000);
  }
  EXPECT_EQ(taken, expected);
}

}  // namespace
}  // namespace sim
