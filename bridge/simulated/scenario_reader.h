// SPDX-License-Identifier: Apache-2.0
// Reading a scenario from its text form (documented in README.md beside this
// file). The reader is a pure function of the text: it never crashes, and any
// input that is not a well-formed scenario gives one error naming the line.
#ifndef KESTRUNE_BRIDGE_SIMULATED_SCENARIO_READER_H
#define KESTRUNE_BRIDGE_SIMULATED_SCENARIO_READER_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "scenario.h"

namespace sim {

struct ParseResult {
  std::optional<Scenario> scenario;  // set when the text is well formed
  std::size_t errorLine = 0;         // line of the error, from 1; 0 for none
  std::string error;                 // "NAME:LINE: what is wrong"
};

/// Reads a scenario; `name` (usually the file's path) only labels errors.
ParseResult ParseScenario(std::string_view text, std::string_view name);

/// Reads the scenario file at `path`; an unreadable file is an error too.
ParseResult ReadScenarioFile(const std::string& path);

/// The scenario used when no scenario file is named: one tag reader that
/// sends a few tags and is then unplugged.
std::string_view DemoScenarioText();

}  // namespace sim

#endif
