// SPDX-License-Identifier: Apache-2.0
#include "character_time.h"

#include <algorithm>

namespace sim {
namespace {

constexpr auto kPerSecond = static_cast<std::uint64_t>(kNanosPerSecond);

}  // namespace

CharTime UartCharTime(const hiduart::UartSetting& setting) {
  // Counted in half bits, for the one and a half stop bits of 5-bit data.
  const std::uint32_t dataBits = 5u + setting.dataBits;
  std::uint32_t halfBits = 2 * (1 + dataBits);
  if (setting.parity != HID_UART_NO_PARITY) halfBits += 2;
  if (setting.stopBits == HID_UART_SHORT_STOP_BIT) {
    halfBits += 2;
  } else {
    halfBits += dataBits == 5 ? 3 : 4;
  }
  return CharTime{halfBits, 2 * std::max<std::uint32_t>(setting.baudRate, 1)};
}

CharTime RateCharTime(std::uint32_t bytesPerSecond) {
  return bytesPerSecond == 0 ? kInstant : CharTime{1, bytesPerSecond};
}

Nanos Offset(CharTime c, std::uint64_t index) {
  if (c.num == 0) return 0;
  // index * num * 10^9 / den, split so that no product passes 2^63: the
  // remainder is below den (at most 2 * 10^9), the quotient part stays below
  // 2^32 * 24 / 600 * 10^9 for a UART and 2^32 * 10^9 for a stream.
  const std::uint64_t bits = index * c.num;
  const std::uint64_t whole = bits / c.den;
  const std::uint64_t rest = bits % c.den;
  return static_cast<Nanos>(whole * kPerSecond + (rest * kPerSecond + c.den - 1) / c.den);
}

std::uint64_t ArrivedWithin(CharTime c, Nanos elapsed, std::uint64_t count) {
  if (elapsed < 0 || count == 0) return 0;
  if (c.num == 0) return count;
  // Byte k has arrived when k * num / den seconds <= elapsed, that is when
  // k <= elapsed * den / (num * 10^9).
  const std::uint64_t perCharacter = std::uint64_t{c.num} * kPerSecond;
  const auto e = static_cast<std::uint64_t>(elapsed);
  const std::uint64_t characters = e / perCharacter;
  if (characters >= count) return count;
  const std::uint64_t last = characters * c.den + (e % perCharacter) * c.den / perCharacter;
  return std::min<std::uint64_t>(last + 1, count);
}

Nanos Rescale(Nanos span, CharTime from, CharTime to) {
  if (span <= 0 || to.num == 0) return 0;
  if (from.num == 0) return span;
  // span * (to.num / to.den) / (from.num / from.den); span is at most one
  // UART character (4 * 10^7 ns), so the products stay below 2^51.
  const std::uint64_t over = std::uint64_t{to.num} * from.den;
  const std::uint64_t under = std::uint64_t{to.den} * from.num;
  const auto s = static_cast<std::uint64_t>(span);
  return static_cast<Nanos>((s * over + under - 1) / under);
}

}  // namespace sim
