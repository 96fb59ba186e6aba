// The M25P/N25Q models, driven with raw select periods.
#include "sim/sector_erase_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "sim/sim_interface.h"
#include "testsupport/sim_frames.h"

namespace {

using testsupport::HexBytes;
using testsupport::MakeSim;
using testsupport::SimBusyNs;
using testsupport::SimFrame;
using testsupport::SimStatus;

constexpr uint8_t kBusy = 0x01;
constexpr uint8_t kLatch = 0x02;

class SectorEraseChipTest : public ::testing::Test {
 protected:
  void Use(SimConfig config) {
    config.latencyUs = 0;
    sim_ = MakeSim(config);
    ASSERT_TRUE(sim_);
  }
  void SetUp() override { Use({.chip = "M25P80"}); }
  void Frames(const std::vector<std::string>& frames) {
    for (const auto& f : frames) SimFrame(*sim_, f);
  }
  void WaitReady() { ASSERT_NE(SimBusyNs(*sim_, 10'000'000), 0u); }
  std::span<uint8_t> Memory() { return sim_->Contents(); }

  std::unique_ptr<SimInterface> sim_;
};

struct LatchCase {
  const char* what;
  std::vector<std::string> frames;
  uint8_t status;  // read right after the frames
  uint8_t byte0;   // array byte 0, which starts as 5A
};

class SectorEraseLatchTest : public SectorEraseChipTest,
                             public ::testing::WithParamInterface<LatchCase> {};

TEST_P(SectorEraseLatchTest, LatchAndFramingDecideWhatRuns) {
  std::ranges::fill(Memory().subspan(0, 0x10000), 0x5A);
  Frames(GetParam().frames);
  EXPECT_EQ(SimStatus(*sim_), GetParam().status);
  EXPECT_EQ(Memory()[0], GetParam().byte0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SectorEraseLatchTest,
    ::testing::Values(
        LatchCase{"write enable sets the latch", {"06"}, kLatch, 0x5A},
        LatchCase{"write disable clears it", {"06", "04"}, 0x00, 0x5A},
        LatchCase{"write enable with an extra byte is cancelled", {"06 00"}, 0x00, 0x5A},
        LatchCase{"write disable with an extra byte is cancelled", {"06", "04 00"}, kLatch, 0x5A},
        LatchCase{"reads leave the latch", {"06", "9F 00 00 00", "03 00 00 00 00", "05 00"}, kLatch, 0x5A},
        LatchCase{"program without the latch is ignored", {"02 00 00 00 AA"}, 0x00, 0x5A},
        LatchCase{"program only clears bits", {"06", "02 00 00 00 AA"}, kBusy | kLatch, 0x0A},
        LatchCase{"program without data is not run", {"06", "02 00 00 00"}, kLatch, 0x5A},
        LatchCase{"sector erase", {"06", "D8 00 00 00"}, kBusy | kLatch, 0xFF},
        LatchCase{"sector erase without the latch", {"D8 00 00 00"}, 0x00, 0x5A},
        LatchCase{"sector erase short of its address", {"06", "D8 00 00"}, kLatch, 0x5A},
        LatchCase{"sector erase with a fifth byte is cancelled", {"06", "D8 00 00 00 00"}, kLatch, 0x5A},
        LatchCase{"bulk erase", {"06", "C7"}, kBusy | kLatch, 0xFF},
        LatchCase{"bulk erase without the latch", {"C7"}, 0x00, 0x5A},
        LatchCase{"bulk erase with a second byte is cancelled", {"06", "C7 00"}, kLatch, 0x5A},
        LatchCase{"unknown opcode", {"06", "B9", "AB 00 00 00"}, kLatch, 0x5A}),
    [](const auto& info) {
      std::string name = info.param.what;
      std::ranges::replace_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
      return name;
    });

TEST_F(SectorEraseChipTest, LatchClearsWhenTheOperationEnds) {
  Frames({"06", "02 00 00 00 AA"});
  WaitReady();
  EXPECT_EQ(SimStatus(*sim_), 0x00);
}

TEST_F(SectorEraseChipTest, StatusCanBeReadRepeatedlyInOneSelectAndShowsTheBusyEnd) {
  // 1 MHz: 8 us a byte, so the 0.64 ms program ends during the 80th status byte.
  Frames({"06", "02 00 00 00 AA"});
  const auto rx = SimFrame(*sim_, "05", 100);
  EXPECT_EQ(rx[1], kBusy | kLatch);
  EXPECT_EQ(rx[79], kBusy | kLatch);
  EXPECT_EQ(rx[80], 0x00);
  EXPECT_EQ(rx[99], 0x00);
}

TEST_F(SectorEraseChipTest, PageProgramAddressWrapsInsideThePage) {
  Frames({"06", "02 00 00 FE 11 22 33 44"});
  EXPECT_EQ(std::vector<uint8_t>(Memory().begin(), Memory().begin() + 2), HexBytes("33 44"));
  EXPECT_EQ(std::vector<uint8_t>(Memory().begin() + 0xFE, Memory().begin() + 0x101), HexBytes("11 22 FF"));
}

TEST_F(SectorEraseChipTest, PageProgramKeepsTheLast256DataBytes) {
  std::vector<uint8_t> frame = HexBytes("02 00 01 00");
  for (int i = 0; i < 300; ++i) frame.push_back(static_cast<uint8_t>(i * 7));
  SimFrame(*sim_, "06");
  SimFrame(*sim_, frame);
  for (int j = 0; j < 256; ++j) {
    const int source = j < 44 ? 256 + j : j;
    ASSERT_EQ(Memory()[0x100 + j], static_cast<uint8_t>(source * 7)) << "offset " << j;
  }
}

TEST_F(SectorEraseChipTest, ProgramAfterProgramAndsTheBits) {
  Frames({"06", "02 00 00 10 F0"});
  WaitReady();
  Frames({"06", "02 00 00 10 3C"});
  EXPECT_EQ(Memory()[0x10], 0x30);
}

TEST_F(SectorEraseChipTest, AddressBitsAboveTheSizeAreIgnored) {
  // 1 MiB: address bits 23..20 do not exist on the part.
  Frames({"06", "02 F0 00 10 AB"});
  WaitReady();
  EXPECT_EQ(Memory()[0x10], 0xAB);
  EXPECT_EQ(SimFrame(*sim_, "03 10 00 10", 1)[4], 0xAB);
  std::ranges::fill(Memory().subspan(0xE0000, 0x20000), 0x00);
  Frames({"06", "D8 7F 01 23"});
  WaitReady();
  EXPECT_EQ(Memory()[0xF0000], 0xFF);
  EXPECT_EQ(Memory()[0xEFFFF], 0x00);
}

TEST_F(SectorEraseChipTest, ReadRunsOnAndWrapsAtTheEndOfTheArray) {
  auto memory = Memory();
  std::iota(memory.end() - 3, memory.end(), uint8_t{0xA0});
  std::iota(memory.begin(), memory.begin() + 3, uint8_t{0x10});
  const auto rx = SimFrame(*sim_, "03 0F FF FD", 6);
  EXPECT_EQ(std::vector<uint8_t>(rx.begin(), rx.begin() + 4), HexBytes("FF FF FF FF"));
  EXPECT_EQ(std::vector<uint8_t>(rx.begin() + 4, rx.end()), HexBytes("A0 A1 A2 10 11 12"));
}

TEST_F(SectorEraseChipTest, ReadInTwoTransfersOfOneSelectContinues) {
  std::iota(Memory().begin(), Memory().begin() + 8, uint8_t{1});
  std::vector<uint8_t> rx(8);
  sim_->SetSelectLine(false);
  sim_->Transfer(HexBytes("03 00 00 02").data(), nullptr, 4);
  sim_->TransferFill(0x55, rx.data(), 3);
  sim_->TransferFill(0x55, rx.data() + 3, 3);
  sim_->SetSelectLine(true);
  EXPECT_EQ(rx, HexBytes("03 04 05 06 07 08 00 00"));
}

TEST_F(SectorEraseChipTest, OnlyStatusIsDecodedWhileBusy) {
  Memory()[0] = 0x42;
  Frames({"06", "D8 01 00 00"});
  EXPECT_EQ(SimFrame(*sim_, "9F", 3), HexBytes("FF FF FF FF"));
  EXPECT_EQ(SimFrame(*sim_, "03 00 00 00", 2), HexBytes("FF FF FF FF FF FF"));
  Frames({"06", "D8 00 00 00", "C7"});
  EXPECT_EQ(SimStatus(*sim_), kBusy | kLatch);
  WaitReady();
  EXPECT_EQ(SimStatus(*sim_), 0x00);  // the write enable sent while busy did nothing
  EXPECT_EQ(Memory()[0], 0x42);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kIgnored), 5u);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kSectorErase), 1u);
}

TEST_F(SectorEraseChipTest, SelectWithoutBytesDoesNothing) {
  Frames({"06", ""});
  EXPECT_EQ(SimStatus(*sim_), kLatch);
}

struct ChipSectorCase {
  const char* chip;
  uint32_t sector;
};

class SectorSizeTest : public SectorEraseChipTest, public ::testing::WithParamInterface<ChipSectorCase> {};

TEST_P(SectorSizeTest, SectorEraseClearsExactlyTheSectorHoldingTheAddress) {
  const uint32_t sector = GetParam().sector;
  Use({.chip = GetParam().chip});
  std::ranges::fill(Memory(), 0x00);
  const uint32_t address = sector + 0x1234;
  SimFrame(*sim_, "06");
  SimFrame(*sim_, {0xD8, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                   static_cast<uint8_t>(address)});
  auto memory = Memory();
  EXPECT_EQ(memory[sector - 1], 0x00);
  EXPECT_TRUE(std::ranges::all_of(memory.subspan(sector, sector), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(memory[2 * sector], 0x00);
}

INSTANTIATE_TEST_SUITE_P(Chips, SectorSizeTest,
                         ::testing::Values(ChipSectorCase{"M25P80", 0x10000}, ChipSectorCase{"M25P16", 0x10000},
                                           ChipSectorCase{"M25P32", 0x10000}, ChipSectorCase{"M25P64", 0x10000},
                                           ChipSectorCase{"M25P128", 0x40000},
                                           ChipSectorCase{"N25Q128", 0x10000}),
                         [](const auto& info) { return std::string(info.param.chip); });

TEST_F(SectorEraseChipTest, BulkEraseSetsEveryByte) {
  std::ranges::fill(Memory(), 0x00);
  Frames({"06", "C7"});
  EXPECT_TRUE(std::ranges::all_of(Memory(), [](uint8_t b) { return b == 0xFF; }));
}

struct ProtectCase {
  const char* chip;
  uint8_t status;
};

class SectorProtectTest : public SectorEraseChipTest, public ::testing::WithParamInterface<ProtectCase> {};

TEST_P(SectorProtectTest, ProtectedPartIgnoresProgramAndErase) {
  Use({.chip = GetParam().chip, .protect = true});
  std::ranges::fill(Memory().subspan(0, 0x100), 0x5A);
  EXPECT_EQ(SimStatus(*sim_), GetParam().status);
  Frames({"06", "02 00 00 00 00", "06", "D8 00 00 00", "06", "C7", "06"});
  EXPECT_EQ(SimStatus(*sim_), GetParam().status | kLatch);
  EXPECT_EQ(Memory()[0], 0x5A);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kIgnored), 3u);
}

INSTANTIATE_TEST_SUITE_P(Chips, SectorProtectTest,
                         ::testing::Values(ProtectCase{"M25P80", 0x1C}, ProtectCase{"M25P128", 0x1C},
                                           ProtectCase{"N25Q128", 0x5C}),
                         [](const auto& info) { return std::string(info.param.chip); });

TEST_F(SectorEraseChipTest, StuckPartStaysBusyAfterItsFirstProgram) {
  Use({.chip = "M25P80", .stuck = true});
  EXPECT_EQ(SimStatus(*sim_), 0x00);
  Frames({"06", "02 00 00 00 AA"});
  sim_->SetClock(1);  // about 8.7 ms a byte
  EXPECT_EQ(SimBusyNs(*sim_, 100'000), 0u);  // over 14 minutes
  EXPECT_EQ(Memory()[0], 0xAA);
}

}  // namespace
