// Checks the program's block reports against the bytes a bridge sent, with a
// computation of its own, so that a fast run is only counted when its output
// is right to the byte.
#ifndef KESTRUNE_BENCH_REPORT_CHECK_H
#define KESTRUNE_BENCH_REPORT_CHECK_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

/// The first `count` bytes of the xorshift32 stream with this seed (nonzero),
/// the generator the simulated bridge uses for its streams.
std::vector<std::uint8_t> XorShiftBytes(std::uint32_t seed, std::size_t count);

struct CheckResult {
  bool ok = false;
  std::string problem;        // "line N: ..." when not ok
  std::uint64_t reports = 0;  // reports read
  std::uint64_t bytes = 0;    // bytes they carried
};

/// Reads block reports from `reports` up to its end and checks that they
/// are exactly the five-line reports of `sent`, in order, cut into blocks of
/// 1 to 1000 bytes, from the bridge `serial`, with nothing left over on
/// either side. `firstLine` numbers the first line read, for the messages.
CheckResult CheckReports(std::istream& reports, std::string_view serial,
                         const std::vector<std::uint8_t>& sent, std::uint64_t firstLine = 1);

}  // namespace bench

#endif
