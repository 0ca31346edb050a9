// SPDX-License-Identifier: Apache-2.0
// Many tags from one seed: the bytes of each tag and the spacing between the
// tags come from the stream generator (stream.h), so that a checker can
// rebuild every tag from the scenario line alone:
//   state = seed; for each tag i:
//     its bytes: `bytes` steps, each giving state & 0xFF;
//     then one more step u = state (all 32 bits), and the spacing to the
//     next tag is minSpacing + floor(u * (maxSpacing - minSpacing + 1) / 2^32)
//     nanoseconds.
//   Tag 0's first byte is at `at`; tag i+1's first byte is at tag i's plus
//   the larger of the spacing and tag i's duration (its bytes times the
//   character time, rounded up), so a tag never starts before the previous
//   one has ended. Byte k of a tag arrives k character times after its first.
#ifndef KESTRUNE_BRIDGE_SIMULATED_TAGS_H
#define KESTRUNE_BRIDGE_SIMULATED_TAGS_H

#include <cstdint>
#include <vector>

#include "character_time.h"
#include "scenario.h"

namespace sim {

/// What the generator gives for one tag.
struct TagDraw {
  std::uint32_t state;  // the generator's state just before the tag's bytes
  Nanos spacing;        // from its first byte to the next tag's, at the least
};

/// The draws of every tag of the series, in order.
std::vector<TagDraw> DrawTags(const TagSeries& series);
/// The bytes of the tag whose draw has this state.
std::vector<std::uint8_t> TagBytes(std::uint32_t state, std::uint32_t count);
/// When the tag after one whose first byte came at `start` begins.
Nanos NextTagStart(Nanos start, Nanos spacing, Nanos duration);
/// Every tag of the series on a line running at character time `c` from
/// time 0 with no change of setting: each tag's first byte time and bytes.
std::vector<Frame> TagFrames(const TagSeries& series, CharTime c);

}  // namespace sim

#endif
