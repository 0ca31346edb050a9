// SPDX-License-Identifier: Apache-2.0
// Quoted strings as the scenario file and the call log write them.
#ifndef KESTRUNE_BRIDGE_SIMULATED_QUOTING_H
#define KESTRUNE_BRIDGE_SIMULATED_QUOTING_H

#include <string>
#include <string_view>

namespace sim {

/// `bytes` in double quotes; '"' and '\' are escaped with a backslash and
/// every byte outside printable ASCII is written as \xNN (upper-case hex).
std::string Quote(std::string_view bytes);

}  // namespace sim

#endif
