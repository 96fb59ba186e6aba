// SPDX-License-Identifier: MIT
// The simulated interface device: chips by name, identification, faults, the
// SPI clock, time, statistics and the image file.
#include "sim/sim_interface.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

struct RefusedCase {
  const char* what;
  SimConfig config;
  const char* error;
};

class SimFaultRefusedTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SimFaultRefusedTest, FaultTheChipCannotHaveIsRefused) {
  std::string error;
  EXPECT_EQ(SimInterface::Create(GetParam().config, &error), nullptr);
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimFaultRefusedTest,
    ::testing::Values(
        RefusedCase{"M25P_has_no_BP3", {.chip = "M25P80", .protectBits = 0x40},
                    "protection bits 0x40 are not all in the M25P80 status register (0x9C)"},
        RefusedCase{"status_bits_are_not_protection", {.chip = "N25Q128", .protectBits = 0x1FE},
                    "protection bits 0x1FE are not all in the N25Q128 status register (0xFC)"},
        RefusedCase{"DataFlash_has_16_sectors", {.chip = "AT45DB081", .protectBits = 0x10000},
                    "protection mask 0x10000 names sectors the AT45DB081 does not have (it has 16)"},
        RefusedCase{"flip_past_the_end", {.chip = "M25P80", .flips = {0x10, 0x100000}},
                    "flip address 0x100000 is beyond the M25P80 (1048576 bytes)"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(SimInterfaceTest, BareProtectWinsOverProtectionBits) {
  auto sim = MakeSim({.chip = "N25Q128", .protect = true, .protectBits = 0x04});
  ASSERT_TRUE(sim);
  EXPECT_EQ(SimStatus(*sim), 0x5C);
}

struct FlipCase {
  const char* chip;
  std::vector<std::string> frames;  // program `sent` at address 0x10
  uint8_t sent;
  uint8_t reads;
};

class SimFlipTest : public ::testing::TestWithParam<FlipCase> {};

TEST_P(SimFlipTest, FlipAddressNeverHoldsWhatWasSent) {
  auto sim = MakeSim({.chip = GetParam().chip, .flips = {0x10}, .latencyUs = 0});
  ASSERT_TRUE(sim);
  for (const auto& frame : GetParam().frames) SimFrame(*sim, frame);
  EXPECT_EQ(sim->Contents()[0x10], GetParam().reads);
  EXPECT_NE(GetParam().reads, GetParam().sent);
}

std::vector<std::string> SectorEraseProgram(uint8_t value) {
  char frame[32];
  std::snprintf(frame, sizeof frame, "02 00 00 10 %02X", value);
  return {"06", frame};
}

std::vector<std::string> DataFlashProgram(uint8_t value) {
  char frame[32];
  std::snprintf(frame, sizeof frame, "84 00 00 10 %02X", value);
  return {frame, "83 00 00 00"};
}

INSTANTIATE_TEST_SUITE_P(
    Values, SimFlipTest,
    ::testing::Values(FlipCase{"M25P80", SectorEraseProgram(0x00), 0x00, 0x01},
                      FlipCase{"M25P80", SectorEraseProgram(0xF0), 0xF0, 0xF1},
                      FlipCase{"M25P80", SectorEraseProgram(0x7F), 0x7F, 0xFF},
                      FlipCase{"M25P80", SectorEraseProgram(0xFE), 0xFE, 0xFF},
                      FlipCase{"M25P80", SectorEraseProgram(0xFF), 0xFF, 0xFE},
                      FlipCase{"AT45DB081", DataFlashProgram(0x00), 0x00, 0x01},
                      FlipCase{"AT45DB081", DataFlashProgram(0xA5), 0xA5, 0xA7},
                      FlipCase{"AT45DB081", DataFlashProgram(0xFF), 0xFF, 0xFE}),
    [](const auto& info) {
      char name[32];
      std::snprintf(name, sizeof name, "%s_%02X", info.param.chip, info.param.sent);
      return std::string(name);
    });

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
  /// The names in the scratch folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::ranges::sort(names);
    return names;
  }

  /// An M25P80 over an image of 11 bytes whose contents are now all 22.
  std::unique_ptr<SimInterface> OpenOverOldImage() {
    testsupport::WriteFile(path_, old_);
    auto sim = MakeSim({.chip = "M25P80", .image = path_});
    if (sim) std::ranges::fill(sim->Contents(), 0x22);
    return sim;
  }

  testsupport::ScratchDir dir_;
  std::string path_ = dir_.File("chip.bin");
  const std::string old_ = std::string(1u << 20, '\x11');
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

// A run that only reads leaves the image file alone (a save replaces the
// file, so its inode tells); one that erases rewrites it.
TEST_F(SimImageTest, OnlyARunThatProgramsOrErasesRewritesTheImage) {
  testsupport::WriteFile(path_, old_);
  const auto inode = [&] {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const auto before = inode();
  auto sim = MakeSim({.chip = "M25P80", .image = path_});
  ASSERT_TRUE(sim);
  SimFrame(*sim, "9F", 3);
  SimFrame(*sim, "05", 1);
  EXPECT_EQ(SimFrame(*sim, "03 00 00 00", 2), HexBytes("FF FF FF FF 11 11"));
  std::string error;
  ASSERT_TRUE(sim->Save(&error)) << error;
  EXPECT_EQ(inode(), before);
  SimFrame(*sim, "06");
  SimFrame(*sim, "D8 00 00 00");
  sim->Wait(10'000'000'000);
  ASSERT_TRUE(sim->Save(&error)) << error;
  EXPECT_NE(inode(), before);
  const std::string image = testsupport::ReadFile(path_);
  EXPECT_EQ(image, std::string(65536, '\xFF') + old_.substr(65536));
}

TEST_F(SimImageTest, SaveReplacesTheImageWholeAndKeepsItsPermissions) {
  auto sim = OpenOverOldImage();
  ASSERT_TRUE(sim);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::string error;
  ASSERT_TRUE(sim->Save(&error)) << error;
  EXPECT_EQ(testsupport::ReadFile(path_), std::string(1u << 20, '\x22'));
  EXPECT_EQ(std::filesystem::status(path_).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(Files(), std::vector<std::string>{"chip.bin"});
}

TEST_F(SimImageTest, SaveKilledMidwayLeavesTheOldImageWhole) {
  auto sim = OpenOverOldImage();
  ASSERT_TRUE(sim);
  const auto end = testsupport::RunWithFileSizeLimit(300'000, true, [&] {
    std::string error;
    return sim->Save(&error) ? 0 : 1;
  });
  EXPECT_EQ(end, std::nullopt);  // killed in the middle of the write
  EXPECT_TRUE(testsupport::ReadFile(path_) == old_);
}

TEST_F(SimImageTest, FailedSaveLeavesTheOldImageAndNoOtherFile) {
  auto sim = OpenOverOldImage();
  ASSERT_TRUE(sim);
  const auto end = testsupport::RunWithFileSizeLimit(300'000, false, [&] {
    std::string error;
    const bool saved = sim->Save(&error);
    return !saved && error == "cannot write image file \"" + path_ + "\"" ? 0 : 1;
  });
  EXPECT_EQ(end, 0);
  EXPECT_TRUE(testsupport::ReadFile(path_) == old_);
  EXPECT_EQ(Files(), std::vector<std::string>{"chip.bin"});
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
