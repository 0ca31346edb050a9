// SPDX-License-Identifier: Apache-2.0
#include "stream.h"

namespace sim {

std::vector<std::uint8_t> StreamBytes(std::uint32_t seed, std::size_t count) {
  StreamGenerator generator(seed);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t& byte : bytes) byte = generator.Next();
  return bytes;
}

}  // namespace sim
