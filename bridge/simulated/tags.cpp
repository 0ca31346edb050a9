// SPDX-License-Identifier: Apache-2.0
#include "tags.h"

#include <algorithm>

#include "stream.h"

namespace sim {

std::vector<TagDraw> DrawTags(const TagSeries& series) {
  std::vector<TagDraw> draws;
  draws.reserve(series.count);
  StreamGenerator generator(series.seed);
  // The spread is below 2^50 (times end at 10^6 s), so the product with a
  // 32-bit draw is split in two halves that each fit 64 bits.
  const auto spread = static_cast<std::uint64_t>(series.maxSpacing - series.minSpacing) + 1;
  const std::uint64_t spreadHigh = spread >> 32;
  const std::uint64_t spreadLow = spread & 0xFFFFFFFFu;
  for (std::uint32_t i = 0; i < series.count; ++i) {
    const std::uint32_t state = generator.State();
    for (std::uint32_t k = 0; k < series.bytes; ++k) generator.NextState();
    const std::uint64_t u = generator.NextState();
    const std::uint64_t drawn = u * spreadHigh + ((u * spreadLow) >> 32);
    draws.push_back(TagDraw{state, series.minSpacing + static_cast<Nanos>(drawn)});
  }
  return draws;
}

std::vector<std::uint8_t> TagBytes(std::uint32_t state, std::uint32_t count) {
  StreamGenerator generator(state);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t& byte : bytes) byte = generator.Next();
  return bytes;
}

Nanos NextTagStart(Nanos start, Nanos spacing, Nanos duration) {
  return start + std::max(spacing, duration);
}

std::vector<Frame> TagFrames(const TagSeries& series, CharTime c) {
  std::vector<Frame> frames;
  frames.reserve(series.count);
  const Nanos duration = Offset(c, series.bytes);
  Nanos start = series.at;
  for (const TagDraw& draw : DrawTags(series)) {
    frames.push_back(Frame{start, TagBytes(draw.state, series.bytes)});
    start = NextTagStart(start, draw.spacing, duration);
  }
  return frames;
}

}  // namespace sim
