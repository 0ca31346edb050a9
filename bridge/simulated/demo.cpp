// SPDX-License-Identifier: Apache-2.0
#include "scenario_reader.h"

namespace sim {

std::string_view DemoScenarioText() {
  return R"(# Built-in demo: a tag reader shows three tags a second apart, then its
# bridge is unplugged, so a program that reads until the bridge fails ends.
# A tag takes some 5 ms at 9600 baud: each one comes in the middle of one of
# the program's 200 ms reads, never across the end of one.
library-version 6 14 release
hid-library-version 1 9 release

bridge "SIM0001"
  path "sim:demo/tag-reader"
  frame at 1.1 12 34 56 78 9A
  frame at 2.1 00 00 BC 61 4E
  frame at 3.1 0F 42 40 00 2A
  unplug at 3.5
)";
}

}  // namespace sim
