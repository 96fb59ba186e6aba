// SPDX-License-Identifier: MIT
// The M25P/N25Q models, driven with raw select periods.
#include "sim/sector_erase_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
        LatchCase{"unknown opcode", {"06", "B9", "AB 00 00 00"}, kLatch, 0x5A},
        LatchCase{"write status without the latch is ignored", {"01 1C"}, 0x00, 0x5A},
        LatchCase{"write status sets the bits the part holds", {"06", "01 FF"}, kBusy | kLatch | 0x9C, 0x5A},
        LatchCase{"write status without its data byte is cancelled", {"06", "01"}, kLatch, 0x5A},
        LatchCase{"write status with a second data byte is cancelled", {"06", "01 1C 00"}, kLatch, 0x5A},
        LatchCase{"write disable before write status", {"06", "04", "01 1C"}, 0x00, 0x5A}),
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

// A protected area from a protected-area table: [first, end) of the array.
struct AreaCase {
  const char* chip;
  uint8_t status;  // the protection bits the part starts with
  uint32_t first;
  uint32_t end;
};

std::string Describe(const AreaCase& c) {
  char name[32];
  std::snprintf(name, sizeof name, "%s_%02X", c.chip, c.status);
  return name;
}

class ProtectedAreaTest : public SectorEraseChipTest, public ::testing::WithParamInterface<AreaCase> {
 protected:
  void SetUp() override {
    Use({.chip = GetParam().chip, .protectBits = GetParam().status});
    sim_->SetClock(1);  // about 8.7 ms a byte: a wait for an erase takes few polls
  }
  /// Programs 00 at `address`, then erases its sector: returns the byte after
  /// each of the two (it starts as 5A).
  std::pair<uint8_t, uint8_t> ProgramAndErase(uint32_t address) {
    const std::vector<uint8_t> a = {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                                    static_cast<uint8_t>(address)};
    Memory()[address] = 0x5A;
    SimFrame(*sim_, "06");
    SimFrame(*sim_, {0x02, a[0], a[1], a[2], 0x00});
    WaitReady();
    const uint8_t programmed = Memory()[address];
    Memory()[address] = 0x5A;
    SimFrame(*sim_, "06");
    SimFrame(*sim_, {0xD8, a[0], a[1], a[2]});
    WaitReady();
    return {programmed, Memory()[address]};
  }
};

TEST_P(ProtectedAreaTest, ProgramAndEraseRunOnlyOutsideTheArea) {
  const AreaCase& c = GetParam();
  const uint32_t size = static_cast<uint32_t>(Memory().size());
  EXPECT_EQ(SimStatus(*sim_), c.status);
  const std::pair<uint8_t, uint8_t> untouched{0x5A, 0x5A};
  const std::pair<uint8_t, uint8_t> done{0x00, 0xFF};
  EXPECT_EQ(ProgramAndErase(c.first), untouched) << "first protected byte";
  EXPECT_EQ(ProgramAndErase(c.end - 1), untouched) << "last protected byte";
  if (c.first > 0) {
    EXPECT_EQ(ProgramAndErase(c.first - 1), done) << "byte below the area";
  }
  if (c.end < size) {
    EXPECT_EQ(ProgramAndErase(c.end), done) << "byte above the area";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ProtectedAreaTest,
    ::testing::Values(
        // M25P80, 16 sectors: upper 16th, 8th, quarter, half, then all.
        AreaCase{"M25P80", 0x04, 0xF0000, 0x100000}, AreaCase{"M25P80", 0x08, 0xE0000, 0x100000},
        AreaCase{"M25P80", 0x0C, 0xC0000, 0x100000}, AreaCase{"M25P80", 0x10, 0x80000, 0x100000},
        AreaCase{"M25P80", 0x14, 0, 0x100000}, AreaCase{"M25P80", 0x1C, 0, 0x100000},
        // M25P16, 32 sectors: upper 32nd ... half, then all.
        AreaCase{"M25P16", 0x04, 0x1F0000, 0x200000}, AreaCase{"M25P16", 0x14, 0x100000, 0x200000},
        AreaCase{"M25P16", 0x18, 0, 0x200000},
        // M25P32, 64 sectors: upper 64th ... half, then all.
        AreaCase{"M25P32", 0x04, 0x3F0000, 0x400000}, AreaCase{"M25P32", 0x18, 0x200000, 0x400000},
        AreaCase{"M25P32", 0x1C, 0, 0x400000},
        // M25P64, 128 sectors: its smallest area is the upper 64th, two sectors.
        AreaCase{"M25P64", 0x04, 0x7E0000, 0x800000}, AreaCase{"M25P64", 0x18, 0x400000, 0x800000},
        AreaCase{"M25P64", 0x1C, 0, 0x800000},
        // M25P128, 64 sectors of 256 KiB.
        AreaCase{"M25P128", 0x04, 0xFC0000, 0x1000000}, AreaCase{"M25P128", 0x18, 0x800000, 0x1000000},
        AreaCase{"M25P128", 0x1C, 0, 0x1000000},
        // N25Q128, 256 sectors: BP3..BP0 from one sector to half, then all;
        // TB moves the area to the bottom.
        AreaCase{"N25Q128", 0x04, 0xFF0000, 0x1000000}, AreaCase{"N25Q128", 0x1C, 0xC00000, 0x1000000},
        AreaCase{"N25Q128", 0x40, 0x800000, 0x1000000}, AreaCase{"N25Q128", 0x44, 0, 0x1000000},
        AreaCase{"N25Q128", 0x24, 0, 0x10000}, AreaCase{"N25Q128", 0x38, 0, 0x200000},
        AreaCase{"N25Q128", 0x60, 0, 0x800000}, AreaCase{"N25Q128", 0x7C, 0, 0x1000000}),
    [](const auto& info) { return Describe(info.param); });

struct BulkEraseCase {
  const char* chip;
  uint8_t status;
  bool erases;
};

class BulkEraseProtectionTest : public SectorEraseChipTest,
                                public ::testing::WithParamInterface<BulkEraseCase> {};

TEST_P(BulkEraseProtectionTest, BulkEraseRunsOnlyWithEveryBlockProtectBitClear) {
  Use({.chip = GetParam().chip, .protectBits = GetParam().status});
  Memory()[0] = 0x00;
  Frames({"06", "C7"});
  EXPECT_EQ(Memory()[0], GetParam().erases ? 0xFF : 0x00);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kChipErase), GetParam().erases ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, BulkEraseProtectionTest,
                         ::testing::Values(BulkEraseCase{"M25P80", 0x00, true}, BulkEraseCase{"M25P80", 0x80, true},
                                           BulkEraseCase{"M25P80", 0x04, false},
                                           BulkEraseCase{"N25Q128", 0x20, true},
                                           BulkEraseCase{"N25Q128", 0x40, false}),
                         [](const auto& info) {
                           return std::string(info.param.chip) + "_" + std::to_string(info.param.status);
                         });

struct StatusWriteCase {
  const char* what;
  uint8_t status;  // the part starts with it
  bool pinLow;     // W# held low
  uint8_t after;   // status once "06", "01 00" have run
};

class StatusWriteProtectTest : public SectorEraseChipTest,
                               public ::testing::WithParamInterface<StatusWriteCase> {};

TEST_P(StatusWriteProtectTest, SrwdWithWriteProtectLowLocksTheStatusRegister) {
  const StatusWriteCase& c = GetParam();
  Use({.chip = "M25P80", .protectBits = c.status, .writeProtectPin = c.pinLow});
  Frames({"06", "01 00"});
  WaitReady();
  EXPECT_EQ(SimStatus(*sim_), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusWriteProtectTest,
    ::testing::Values(StatusWriteCase{"W_alone_does_nothing", 0x1C, true, 0x00},
                      StatusWriteCase{"SRWD_alone_does_nothing", 0x9C, false, 0x00},
                      // The write is not run, so the latch stays set.
                      StatusWriteCase{"SRWD_and_W_low_lock_it", 0x9C, true, 0x9C | kLatch}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(SectorEraseChipTest, WrittenProtectionTakesEffectAndCanBeCleared) {
  std::ranges::fill(Memory(), 0x5A);
  Frames({"06", "01 04"});
  WaitReady();
  Frames({"06", "02 0F 00 00 00"});  // the upper 16th is now protected
  WaitReady();
  EXPECT_EQ(Memory()[0xF0000], 0x5A);
  Frames({"06", "01 00"});
  WaitReady();
  Frames({"06", "02 0F 00 00 00"});
  WaitReady();
  EXPECT_EQ(Memory()[0xF0000], 0x00);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kWriteStatus), 2u);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kIgnored), 1u);
}

TEST_F(SectorEraseChipTest, WhileTheStatusWriteRunsOnlyStatusIsDecoded) {
  Frames({"06", "01 9C", "06", "01 00"});
  WaitReady();
  EXPECT_EQ(SimStatus(*sim_), 0x9C);
}

TEST_F(SectorEraseChipTest, FastReadHasADummyByteBeforeTheData) {
  std::iota(Memory().begin(), Memory().begin() + 8, uint8_t{0x10});
  EXPECT_EQ(SimFrame(*sim_, "0B 00 00 02 55", 3), HexBytes("FF FF FF FF FF 12 13 14"));
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kFastRead), 1u);
  Frames({"06", "02 00 00 00 00"});
  EXPECT_EQ(SimFrame(*sim_, "0B 00 00 02 55", 1), HexBytes("FF FF FF FF FF FF"));  // busy: not decoded
}

TEST_F(SectorEraseChipTest, FlipAddressTakesADroppedBitOnlyWhenProgrammed) {
  Use({.chip = "M25P80", .flips = {0x103, 0x1F0}});
  Frames({"06", "02 00 01 00 00 F0 7F 5A"});
  EXPECT_EQ(std::vector<uint8_t>(Memory().begin() + 0x100, Memory().begin() + 0x105),
            HexBytes("00 F0 7F 5B FF"));
  EXPECT_EQ(Memory()[0x1F0], 0xFF);  // in the page, but no data came for it
}

TEST_F(SectorEraseChipTest, StuckPartStaysBusyAfterItsFirstProgram) {
  Use({.chip = "M25P80", .stuck = true});
  EXPECT_EQ(SimStatus(*sim_), 0x00);
  Frames({"06", "02 00 00 00 AA"});
  sim_->SetClock(1);  // about 8.7 ms a byte
  EXPECT_EQ(SimBusyNs(*sim_, 100'000), 0u);  // over 14 minutes
  EXPECT_EQ(Memory()[0], 0xAA);
}

}  // namespace
