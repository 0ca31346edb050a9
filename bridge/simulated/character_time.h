// SPDX-License-Identifier: Apache-2.0
// How long one character takes on a line, as an exact fraction of a second,
// and the integer arithmetic that arrival times are built from. Every result
// is rounded the same documented way (up, to the nanosecond), so that a
// checker in any language can rebuild an arrival time exactly.
#ifndef KESTRUNE_BRIDGE_SIMULATED_CHARACTER_TIME_H
#define KESTRUNE_BRIDGE_SIMULATED_CHARACTER_TIME_H

#include <cstdint>

#include "hid_uart_values.h"
#include "scenario.h"

namespace sim {

/// One character takes num / den seconds; num 0: no time at all, so that
/// every byte of a run arrives with its first one. A UART gives at most
/// 24 / 600 (12 bits at 300 baud, in half bits), a stream 1 / rate.
struct CharTime {
  std::uint32_t num = 0;
  std::uint32_t den = 1;
};

inline bool operator==(CharTime a, CharTime b) {
  return std::uint64_t{a.num} * b.den == std::uint64_t{b.num} * a.den;
}
inline bool operator!=(CharTime a, CharTime b) { return !(a == b); }

inline constexpr CharTime kInstant{};

/// What a bridge runs at until a setting is written to it.
inline constexpr hiduart::UartSetting kPowerOnSetting{115200, HID_UART_EIGHT_DATA_BITS,
                                                      HID_UART_NO_PARITY, HID_UART_SHORT_STOP_BIT,
                                                      HID_UART_NO_FLOW_CONTROL};

/// The character time of a valid UART setting: a start bit, 5 to 8 data
/// bits, a parity bit unless there is no parity, and 1 stop bit, or 2 (1.5
/// with 5 data bits), over the baud rate.
CharTime UartCharTime(const hiduart::UartSetting& setting);
/// One byte every 1 / bytesPerSecond seconds; 0 gives kInstant.
CharTime RateCharTime(std::uint32_t bytesPerSecond);

/// When byte `index` of a run arrives, counted from the run's first byte:
/// index character times, rounded up to the nanosecond. Exact for any index
/// below 2^32.
Nanos Offset(CharTime c, std::uint64_t index);
/// How many of a run's `count` bytes have arrived `elapsed` nanoseconds
/// after its first byte (none for a negative elapsed time).
std::uint64_t ArrivedWithin(CharTime c, Nanos elapsed, std::uint64_t count);
/// A span of at most one character of `from` (UART times only), as the same
/// share of a character of `to`, rounded up: what is left of a character
/// when the line's setting changes in the middle of it.
Nanos Rescale(Nanos span, CharTime from, CharTime to);

}  // namespace sim

#endif
