// The simulated interface device: chips by name, identification, faults, the
// SPI clock, time, statistics and the image file.
#include "sim/sim_interface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::HexBytes;
using testsupport::MakeSim;
using testsupport::SimFrame;
using testsupport::SimStatus;

struct IdCase {
  const char* name;  // as a user might type it
  const char* answer;  // first bytes of the RDID answer
  uint32_t size;
};

class SimChipIdTest : public ::testing::TestWithParam<IdCase> {};

TEST_P(SimChipIdTest, ChipAnswersItsCodeAndMore) {
  auto sim = MakeSim({.chip = GetParam().name});
  ASSERT_TRUE(sim);
  const auto expected = HexBytes(GetParam().answer);
  const auto rx = SimFrame(*sim, "9F", expected.size());
  EXPECT_EQ(std::vector<uint8_t>(rx.begin() + 1, rx.end()), expected);
  EXPECT_EQ(sim->Contents().size(), GetParam().size);
  EXPECT_TRUE(std::ranges::all_of(sim->Contents(), [](uint8_t b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(
    Chips, SimChipIdTest,
    ::testing::Values(IdCase{"M25P80", "20 20 14 10 00", 1u << 20}, IdCase{"m25p16", "20 20 15 10 00", 2u << 20},
                      IdCase{"M25p32", "20 20 16 10 00", 4u << 20}, IdCase{"M25P64", "20 20 17 10 00", 8u << 20},
                      IdCase{"M25P128", "20 20 18 FF FF", 16u << 20},
                      IdCase{"n25q128", "20 BA 18 10 00", 16u << 20},
                      IdCase{"at45db081", "1F 25 00 00 FF", 4096 * 264}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimInterfaceTest, UnknownChipIsRefused) {
  std::string error;
  EXPECT_EQ(SimInterface::Create({.chip = "M25P99"}, &error), nullptr);
  EXPECT_EQ(error, "unknown chip \"M25P99\"");
}

TEST(SimInterfaceTest, IdOverrideReplacesTheCodeOnly) {
  auto sim = MakeSim({.chip = "N25Q128", .id = std::array<uint8_t, 3>{0x12, 0x34, 0x56}});
  ASSERT_TRUE(sim);
  EXPECT_EQ(SimFrame(*sim, "9F", 4), HexBytes("FF 12 34 56 10"));
}

TEST(SimInterfaceTest, WithoutAChipEveryByteReadsFF) {
  auto sim = MakeSim({.noChip = true});
  ASSERT_TRUE(sim);
  EXPECT_EQ(sim->Chip(), nullptr);
  EXPECT_EQ(SimFrame(*sim, "9F 00 00 00"), HexBytes("FF FF FF FF"));
  EXPECT_EQ(SimFrame(*sim, "D7", 1), HexBytes("FF FF"));
  EXPECT_EQ(sim->Stats().selects, 2u);
}

TEST(SimInterfaceTest, BytesClockedWhileDeselectedReachNoChip) {
  auto sim = MakeSim({.chip = "M25P80"});
  ASSERT_TRUE(sim);
  const uint8_t wren = 0x06;
  uint8_t rx = 0;
  sim->Transfer(&wren, &rx, 1);
  EXPECT_EQ(rx, 0xFF);
  EXPECT_EQ(SimStatus(*sim), 0x00);
}

TEST(SimInterfaceTest, TheNthCallFails) {
  auto sim = MakeSim({.chip = "M25P80", .failCall = 3});
  ASSERT_TRUE(sim);
  std::vector<bool> results;
  for (int i = 0; i < 5; ++i) results.push_back(sim->BeginCall());
  EXPECT_EQ(results, std::vector<bool>({true, true, false, true, true}));
  EXPECT_EQ(sim->Stats().calls, 5u);
}

TEST(SimInterfaceTest, ClockIsTheFastestDivisionNotAboveTheRequest) {
  auto sim = MakeSim({.chip = "M25P80"});
  ASSERT_TRUE(sim);
  const std::vector<std::pair<uint32_t, uint32_t>> cases = {
      {50'000'000, 30'000'000}, {30'000'000, 30'000'000}, {29'999'999, 20'000'000}, {20'000'000, 20'000'000},
      {1'000'000, 1'000'000},   {999'999, 983'606},       {1, 915},                 {0, 915}};
  for (const auto& [request, granted] : cases) {
    EXPECT_EQ(sim->SetClock(request), granted) << request;
    EXPECT_EQ(sim->GetClock(), granted);
  }
}

TEST(SimInterfaceTest, TimeIsCallLatencyPlusBitsAtTheClock) {
  auto sim = MakeSim({.chip = "M25P80", .latencyUs = 250});
  ASSERT_TRUE(sim);
  sim->SetClock(20'000'000);  // 400 ns a byte
  EXPECT_EQ(sim->NowNs(), 0u);
  EXPECT_TRUE(sim->BeginCall());
  SimFrame(*sim, "03 00 00 00", 96);
  EXPECT_EQ(sim->NowNs(), 250'000u + 100 * 400);
  EXPECT_EQ(sim->Stats().timeNs, sim->NowNs());
}

TEST(SimInterfaceTest, StatisticsCountCallsBytesSelectsAndOperations) {
  auto sim = MakeSim({.chip = "M25P80"});
  ASSERT_TRUE(sim);
  for (const char* frame : {"06", "02 00 00 00 AA BB", "05 00", "05 00", "9F 00 00 00", "03 00 00 00 00"}) {
    ASSERT_TRUE(sim->BeginCall());
    SimFrame(*sim, frame);
  }
  const SimStats stats = sim->Stats();
  EXPECT_EQ(stats.calls, 6u);
  EXPECT_EQ(stats.bytes, 1u + 6 + 2 + 2 + 4 + 5);
  EXPECT_EQ(stats.selects, 6u);
  EXPECT_EQ(stats.Ops(SimOp::kWriteEnable), 1u);
  EXPECT_EQ(stats.Ops(SimOp::kPageProgram), 1u);
  EXPECT_EQ(stats.Ops(SimOp::kReadStatus), 2u);
  EXPECT_EQ(stats.Ops(SimOp::kIgnored), 2u);  // read id and read while busy
  EXPECT_STREQ(SimOpName(SimOp::kPageProgram), "page program");
}

class SimImageTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir_;
  std::string path_ = dir_.File("chip.bin");
};

TEST_F(SimImageTest, MissingImageIsCreatedErased) {
  auto sim = MakeSim({.chip = "AT45DB081", .image = path_});
  ASSERT_TRUE(sim);
  EXPECT_EQ(testsupport::ReadFile(path_), std::string(4096 * 264, '\xFF'));
}

TEST_F(SimImageTest, ContentsSurviveSaveAndReopen) {
  {
    auto sim = MakeSim({.chip = "M25P80", .image = path_});
    ASSERT_TRUE(sim);
    SimFrame(*sim, "06");
    SimFrame(*sim, "02 0F FF FE 12 34");
    std::string error;
    ASSERT_TRUE(sim->Save(&error)) << error;
  }
  auto sim = MakeSim({.chip = "M25P80", .image = path_});
  ASSERT_TRUE(sim);
  EXPECT_EQ(SimFrame(*sim, "03 0F FF FD", 3), HexBytes("FF FF FF FF FF 12 34"));
  EXPECT_EQ(testsupport::ReadFile(path_).size(), 1u << 20);
}

TEST_F(SimImageTest, ImageOfAnotherSizeIsRefused) {
  testsupport::WriteFile(path_, std::string(1000, '\0'));
  std::string error;
  EXPECT_EQ(SimInterface::Create({.chip = "M25P80", .image = path_}, &error), nullptr);
  EXPECT_EQ(error, "image file \"" + path_ + "\" holds 1000 bytes; the M25P80 holds 1048576");
}

TEST_F(SimImageTest, UnusableImagePathIsRefused) {
  std::string error;
  EXPECT_EQ(SimInterface::Create({.chip = "M25P80", .image = dir_.File("no/such/dir/chip.bin")}, &error),
            nullptr);
  EXPECT_EQ(error, "cannot write image file \"" + dir_.File("no/such/dir/chip.bin") + "\"");
  EXPECT_EQ(SimInterface::Create({.chip = "M25P80", .image = dir_.path()}, &error), nullptr);
  EXPECT_EQ(error, "cannot read image file \"" + dir_.path() + "\"");
}

TEST_F(SimImageTest, WithoutAnImageNothingIsSaved) {
  auto sim = MakeSim({.chip = "M25P80"});
  ASSERT_TRUE(sim);
  std::string error;
  EXPECT_TRUE(sim->Save(&error));
  EXPECT_TRUE(error.empty());
}

}  // namespace
