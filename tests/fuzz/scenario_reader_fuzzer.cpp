// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary text to the scenario reader. Whatever the text, the reader
// must return, without crashing, either a scenario whose values keep the
// format's limits or a single-line error that names a line of the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "scenario_reader.h"

namespace {

constexpr std::string_view kName = "fuzzed.scenario";
constexpr sim::Nanos kLatest = 1'000'000 * sim::kNanosPerSecond;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "scenario reader: %s: %s\n", what, detail.c_str());
  std::abort();
}

void CheckError(const sim::ParseResult& result, std::string_view text) {
  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  if (result.errorLine < 1 || result.errorLine > lines) {
    Fail("error line outside the text", std::to_string(result.errorLine));
  }
  const std::string prefix = std::string(kName) + ":" + std::to_string(result.errorLine) + ": ";
  if (result.error.compare(0, prefix.size(), prefix) != 0 || result.error.size() == prefix.size()) {
    Fail("error does not start with the name and line", result.error);
  }
  for (const char c : result.error) {
    // The message goes to a terminal as one line: no line break and no other
    // control byte from the text may pass through unquoted.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      Fail("error carries a control byte", result.error);
    }
  }
}

void CheckRules(const std::vector<sim::FailRule>& failures) {
  for (const sim::FailRule& rule : failures) {
    if (rule.status == 0) Fail("failure with status 0", std::string(sim::OpName(rule.op)));
  }
}

void CheckScenario(const sim::Scenario& scenario) {
  CheckRules(scenario.failures);
  for (const sim::FailRule& rule : scenario.failures) {
    if (!sim::IsGlobalOp(rule.op)) Fail("bridge operation among global failures", "");
  }
  for (const sim::BridgeSetup& bridge : scenario.bridges) {
    CheckRules(bridge.failures);
    for (const sim::Frame& frame : bridge.frames) {
      if (frame.bytes.empty()) Fail("empty frame", bridge.serial);
      if (frame.at < 0 || frame.at > kLatest) Fail("frame time out of range", bridge.serial);
    }
    for (const sim::Stream& stream : bridge.streams) {
      if (stream.seed == 0) Fail("stream seed 0", bridge.serial);
      if (stream.at < 0 || stream.at > kLatest) Fail("stream time out of range", bridge.serial);
    }
    for (const sim::UnplugRule& rule : bridge.unplugs) {
      if (rule.kind == sim::UnplugRule::Kind::At && (rule.at < 0 || rule.at > kLatest)) {
        Fail("unplug time out of range", bridge.serial);
      }
      if (rule.kind == sim::UnplugRule::Kind::After && rule.call == 0) {
        Fail("unplug after call 0", bridge.serial);
      }
    }
    if (bridge.attachAfter &&
        (!sim::IsGlobalOp(bridge.attachAfter->op) || bridge.attachAfter->call == 0)) {
      Fail("attach after a call that cannot come", bridge.serial);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sim::ParseResult result = sim::ParseScenario(text, kName);
  if (result.scenario.has_value() == (result.errorLine != 0 || !result.error.empty())) {
    Fail("neither or both of a scenario and an error", result.error);
  }
  if (result.scenario) {
    CheckScenario(*result.scenario);
  } else {
    CheckError(result, text);
  }
  return 0;
}
