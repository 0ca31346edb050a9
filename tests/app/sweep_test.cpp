// SPDX-License-Identifier: Apache-2.0
// The sweep on a healthy bridge; every step failing with every status is in
// tests/reliability/fault_matrix_test.cpp, hostile values and bridges that
// share a serial string in tests/reliability/hostile_bridge_test.cpp.
#include "modes/sweep.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge_harness.h"
#include "capture/capture.h"
#include "fake_bridge.h"

namespace {

using harness::AddBridge;
using harness::BlockLines;
using harness::ConnectedLines;
using harness::CountLine;
using harness::Sweep;

const std::vector<uint8_t> kFrame = {0x12, 0x34, 0x56, 0x78, 0x9A};

class SweepTest : public testing::Test {
 protected:
  void SetUp() override { harness::Reset(); }
};

TEST_F(SweepTest, NoBridgeAttached) { EXPECT_EQ(Sweep(), CountLine(0)); }

TEST_F(SweepTest, ReportsEveryNonEmptyBlockUntilAReadFails) {
  AddBridge("S1", {{0x12, kFrame, {}}, {0x12, {}, {}}, {0x00, kFrame, {}}});
  EXPECT_EQ(Sweep(), CountLine(1) + ConnectedLines("S1") + BlockLines("S1", kFrame) +
                         BlockLines("S1", kFrame));
  EXPECT_EQ(
      fake::CallsStartingWith("Read handle=1 request=" + std::to_string(kReadBufferSize)).size(),
      4u);
  EXPECT_EQ(fake::HandleProblems(), "") << "the handle is closed once its loop ends";
}

}  // namespace
