// SPDX-License-Identifier: MIT
// How long each modelled operation keeps its part busy, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/sim_interface.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::MakeSim;
using testsupport::SimBusyNs;
using testsupport::SimFrame;

constexpr uint64_t kUs = 1000;
constexpr uint64_t kMs = 1000 * kUs;
constexpr uint64_t kS = 1000 * kMs;

struct BusyCase {
  const char* chip;
  std::vector<std::string> frames;  // the last one starts the operation
  uint64_t ns;                      // typical time of the operation
};

std::string Describe(const BusyCase& c) {
  std::string name = std::string(c.chip) + "_" + c.frames.back().substr(0, 11);
  std::ranges::replace(name, ' ', '_');
  return name;
}

class BusyTimeTest : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyTimeTest, OperationIsBusyForItsTypicalTime) {
  auto sim = MakeSim({.chip = GetParam().chip, .latencyUs = 0});
  ASSERT_TRUE(sim);
  // A clock that resolves the operation to about a thousandth of it.
  sim->SetClock(static_cast<uint32_t>(std::min<uint64_t>(30'000'000, 8'000'000'000'000 / GetParam().ns)));
  for (const auto& frame : GetParam().frames) SimFrame(*sim, frame);
  const double byteNs = 8e9 / sim->GetClock();
  EXPECT_NEAR(static_cast<double>(SimBusyNs(*sim, 10'000'000)), static_cast<double>(GetParam().ns), 3 * byteNs);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, BusyTimeTest,
    ::testing::Values(BusyCase{"M25P80", {"06", "02 00 00 00 00"}, 640 * kUs},
                      BusyCase{"M25P16", {"06", "02 00 00 00 00"}, 640 * kUs},
                      BusyCase{"M25P32", {"06", "02 00 00 00 00"}, 640 * kUs},
                      BusyCase{"M25P64", {"06", "02 00 00 00 00"}, 1400 * kUs},
                      BusyCase{"N25Q128", {"06", "02 00 00 00 00"}, 500 * kUs},
                      BusyCase{"M25P80", {"06", "D8 00 00 00"}, 600 * kMs},
                      BusyCase{"N25Q128", {"06", "D8 00 00 00"}, 600 * kMs},
                      BusyCase{"M25P80", {"06", "C7"}, 8 * kS},
                      BusyCase{"M25P16", {"06", "C7"}, 13 * kS},
                      BusyCase{"M25P32", {"06", "C7"}, 23 * kS},
                      BusyCase{"AT45DB081", {"83 00 00 00"}, 14 * kMs},
                      BusyCase{"AT45DB081", {"81 00 00 00"}, 13 * kMs},
                      BusyCase{"AT45DB081", {"50 00 00 00"}, 30 * kMs},
                      BusyCase{"AT45DB081", {"53 00 00 00"}, 200 * kUs},
                      BusyCase{"M25P80", {"06", "01 1C"}, 1300 * kUs},
                      BusyCase{"M25P64", {"06", "01 1C"}, 5 * kMs},
                      BusyCase{"N25Q128", {"06", "01 1C"}, 1300 * kUs},
                      BusyCase{"AT45DB081", {"3D 2A 7F CF"}, 13 * kMs},
                      BusyCase{"AT45DB081", {"3D 2A 7F FC 00"}, 2 * kMs}),
    [](const auto& info) { return Describe(info.param); });

}  // namespace
