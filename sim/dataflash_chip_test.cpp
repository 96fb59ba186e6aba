// SPDX-License-Identifier: MIT
// The AT45DB081 model, driven with raw select periods.
#include "sim/dataflash_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <cstdio>
#include <span>
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

constexpr size_t kPage = 264;
constexpr uint8_t kReadyStatus = 0xA4;  // ready, density 1001, 264-byte pages
constexpr uint8_t kBusyStatus = 0x24;

class DataFlashChipTest : public ::testing::Test {
 protected:
  void Use(SimConfig config) {
    config.chip = "AT45DB081";
    config.latencyUs = 0;
    sim_ = MakeSim(config);
    ASSERT_TRUE(sim_);
  }
  void SetUp() override { Use({}); }
  void Frames(const std::vector<std::string>& frames) {
    for (const auto& f : frames) SimFrame(*sim_, f);
  }
  void WaitReady() { ASSERT_NE(SimBusyNs(*sim_), 0u); }
  std::span<uint8_t> PageBytes(size_t page) { return sim_->Contents().subspan(page * kPage, kPage); }
  void FillPage(size_t page, uint8_t value) { std::ranges::fill(PageBytes(page), value); }
  /// Fills buffer 1 with 264 bytes counting up from `first`; returns them.
  std::vector<uint8_t> LoadBuffer(uint8_t first) {
    std::vector<uint8_t> data(kPage);
    std::iota(data.begin(), data.end(), first);
    std::vector<uint8_t> frame = HexBytes("84 00 00 00");
    frame.insert(frame.end(), data.begin(), data.end());
    SimFrame(*sim_, frame);
    return data;
  }
  std::vector<uint8_t> Buffer() {
    const auto rx = SimFrame(*sim_, "D4 00 00 00 00", kPage);
    return {rx.begin() + 5, rx.end()};
  }
  static std::vector<uint8_t> Bytes(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

  std::unique_ptr<SimInterface> sim_;
};

TEST_F(DataFlashChipTest, StatusShowsReadyDensityAndPageSize) {
  EXPECT_EQ(SimFrame(*sim_, "D7", 3), HexBytes("FF A4 A4 A4"));
  Use({.protect = true});
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | 0x02);
}

TEST_F(DataFlashChipTest, BufferWriteWrapsInsideTheBuffer) {
  Frames({"84 00 01 06 11 22 33 44"});
  EXPECT_EQ(SimFrame(*sim_, "D4 00 01 06 00", 4), HexBytes("FF FF FF FF FF 11 22 33 44"));
  EXPECT_EQ(SimFrame(*sim_, "D1 00 00 00", 2), HexBytes("FF FF FF FF 33 44"));
}

TEST_F(DataFlashChipTest, BufferToPageWritesTheWholeBufferAndKeepsIt) {
  FillPage(5, 0x5A);
  const auto data = LoadBuffer(0x10);
  Frames({"83 00 0A 00"});
  EXPECT_EQ(Bytes(PageBytes(5)), data);
  WaitReady();
  Frames({"84 00 00 08 EE", "83 00 0C 00"});  // page 6: one byte changed in the buffer
  auto expected = data;
  expected[8] = 0xEE;
  EXPECT_EQ(Bytes(PageBytes(6)), expected);
}

TEST_F(DataFlashChipTest, OffsetBitsOfAProgramAddressDoNotMatter) {
  const auto data = LoadBuffer(0x00);
  Frames({"83 00 0B 07"});  // page 5, offset 263
  EXPECT_EQ(Bytes(PageBytes(5)), data);
}

TEST_F(DataFlashChipTest, BufferToPageWithoutEraseOnlyClearsBits) {
  FillPage(3, 0xF0);
  Frames({"84 00 00 00 3C 0F"});
  std::vector<uint8_t> frame(kPage - 2, 0xFF);
  frame.insert(frame.begin(), {0x84, 0x00, 0x00, 0x02});
  SimFrame(*sim_, frame);
  Frames({"88 00 06 00"});
  EXPECT_EQ(PageBytes(3)[0], 0x30);
  EXPECT_EQ(PageBytes(3)[1], 0x00);
  EXPECT_EQ(PageBytes(3)[2], 0xF0);
}

TEST_F(DataFlashChipTest, PageToBufferCopiesAPage) {
  std::iota(PageBytes(7).begin(), PageBytes(7).end(), uint8_t{0x40});
  Frames({"53 00 0E 00"});
  EXPECT_EQ(SimStatus(*sim_), kBusyStatus);
  WaitReady();
  EXPECT_EQ(Buffer(), Bytes(PageBytes(7)));
  Frames({"83 00 10 00"});
  EXPECT_EQ(Bytes(PageBytes(8)), Bytes(PageBytes(7)));
}

TEST_F(DataFlashChipTest, ReadRunsAcrossPagesAndWrapsAtTheEnd) {
  auto memory = sim_->Contents();
  std::iota(memory.begin(), memory.begin() + 2 * kPage, uint8_t{0});
  memory[memory.size() - 1] = 0xEE;
  const auto rx = SimFrame(*sim_, "03 00 01 06", 4);  // page 0, offset 262
  EXPECT_EQ(std::vector<uint8_t>(rx.begin() + 4, rx.end()),
            HexBytes("06 07 08 09"));  // bytes 262, 263, then page 1 bytes 0, 1
  const auto end = SimFrame(*sim_, "03 1F FF 07", 3);  // page 4095, offset 263
  EXPECT_EQ(std::vector<uint8_t>(end.begin() + 4, end.end()), HexBytes("EE 00 01"));
}

TEST_F(DataFlashChipTest, PageBitsAboveTheDeviceAreIgnored) {
  FillPage(5, 0x00);
  Frames({"81 E0 0A 00"});  // page 0x7005 on a part of 4096 pages
  EXPECT_EQ(PageBytes(5)[0], 0xFF);
  WaitReady();
  memcpy(PageBytes(9).data(), "ab", 2);
  EXPECT_EQ(SimFrame(*sim_, "03 20 12 00", 2)[5], 'b');
}

TEST_F(DataFlashChipTest, PageEraseTakesOnePage) {
  for (size_t p = 4; p <= 6; ++p) FillPage(p, 0x00);
  Frames({"81 00 0A 00"});
  EXPECT_EQ(PageBytes(4).back(), 0x00);
  EXPECT_TRUE(std::ranges::all_of(PageBytes(5), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(PageBytes(6).front(), 0x00);
}

TEST_F(DataFlashChipTest, BlockEraseTakesTheEightPagesOfTheBlock) {
  for (size_t p = 7; p <= 16; ++p) FillPage(p, 0x00);
  Frames({"50 00 16 00"});  // page 11, in block 1 (pages 8..15)
  EXPECT_EQ(PageBytes(7).back(), 0x00);
  for (size_t p = 8; p <= 15; ++p) EXPECT_EQ(PageBytes(p).front(), 0xFF) << "page " << p;
  EXPECT_EQ(PageBytes(16).front(), 0x00);
}

struct ChipEraseCase {
  const char* frame;
  bool erases;
};

class DataFlashChipEraseTest : public DataFlashChipTest, public ::testing::WithParamInterface<ChipEraseCase> {};

TEST_P(DataFlashChipEraseTest, ChipEraseNeedsItsExactSequence) {
  std::ranges::fill(sim_->Contents(), 0x00);
  Frames({GetParam().frame});
  const bool erased = std::ranges::all_of(sim_->Contents(), [](uint8_t b) { return b == 0xFF; });
  EXPECT_EQ(erased, GetParam().erases);
  EXPECT_EQ(sim_->Contents().front(), GetParam().erases ? 0xFF : 0x00);
}

INSTANTIATE_TEST_SUITE_P(Frames, DataFlashChipEraseTest,
                         ::testing::Values(ChipEraseCase{"C7 94 80 9A", true},
                                           ChipEraseCase{"C7 94 80 00", false},
                                           ChipEraseCase{"C7 94 80", false},
                                           ChipEraseCase{"C7 94 80 9A 00", false}));

TEST_F(DataFlashChipTest, WhileBusyOnlyStatusAndTheBufferAreServed) {
  FillPage(0, 0x11);
  LoadBuffer(0x00);
  Frames({"83 00 02 00"});
  EXPECT_EQ(SimStatus(*sim_), kBusyStatus);
  EXPECT_EQ(SimFrame(*sim_, "9F", 2), HexBytes("FF FF FF"));
  EXPECT_EQ(SimFrame(*sim_, "03 00 00 00", 1), HexBytes("FF FF FF FF FF"));
  Frames({"81 00 00 00", "53 00 00 00", "C7 94 80 9A", "84 00 00 00 77"});
  EXPECT_EQ(SimFrame(*sim_, "D1 00 00 00", 1)[4], 0x77);
  WaitReady();
  EXPECT_EQ(PageBytes(0)[0], 0x11);
  EXPECT_EQ(PageBytes(1)[0], 0x00);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kIgnored), 5u);
}

TEST_F(DataFlashChipTest, ProtectedPartIgnoresProgramAndEraseButServesTheBuffer) {
  Use({.protect = true});
  FillPage(1, 0x5A);
  Frames({"53 00 02 00"});
  WaitReady();
  Frames({"84 00 00 00 00", "83 00 02 00", "88 00 02 00", "81 00 02 00", "50 00 02 00", "C7 94 80 9A"});
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | 0x02);
  EXPECT_TRUE(std::ranges::all_of(PageBytes(1), [](uint8_t b) { return b == 0x5A; }));
  const auto buffer = Buffer();
  EXPECT_EQ(buffer[0], 0x00);
  EXPECT_EQ(buffer[1], 0x5A);
}

TEST_F(DataFlashChipTest, FastArrayReadHasADontCareByteBeforeTheData) {
  std::iota(PageBytes(2).begin(), PageBytes(2).end(), uint8_t{0});
  EXPECT_EQ(SimFrame(*sim_, "0B 00 04 05 55", 3), HexBytes("FF FF FF FF FF 05 06 07"));
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kFastRead), 1u);
}

constexpr uint8_t kProtectionOn = 0x02;

// Pages at the edges of the protection sectors.
constexpr uint32_t kLast0a = 7;
constexpr uint32_t kFirst0b = 8;
constexpr uint32_t kFirst1 = 256;
constexpr uint32_t kFirst15 = 15 * 256;

class DataFlashProtectionTest : public DataFlashChipTest {
 protected:
  /// Frames, each followed by a wait for ready.
  void FramesWaiting(const std::vector<std::string>& frames) {
    for (const auto& f : frames) {
      SimFrame(*sim_, f);
      WaitReady();
    }
  }
  std::vector<uint8_t> Register() {
    const auto rx = SimFrame(*sim_, "32 00 00 00", 17);
    return {rx.begin() + 4, rx.end()};
  }
  /// "Sectors" in the register's terms: 16 bytes, then the floating line.
  static std::vector<uint8_t> RegisterOf(std::string_view sectors) {
    auto bytes = HexBytes(sectors);
    bytes.push_back(0xFF);
    return bytes;
  }
};

TEST_F(DataFlashProtectionTest, ProtectKeysSetTheRegisterAndEnableProtection) {
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus);
  EXPECT_EQ(Register(), RegisterOf("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
  Use({.protectBits = 0x8003});
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | kProtectionOn);
  EXPECT_EQ(Register(), RegisterOf("FF FF 00 00 00 00 00 00 00 00 00 00 00 00 00 FF"));
  Use({.protectBits = 0});
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | kProtectionOn);
  Use({.writeProtectPin = true});
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | kProtectionOn);
}

struct SequenceCase {
  const char* what;
  SimConfig config;
  std::vector<std::string> frames;
  bool on;                 // status bit 1 afterwards
  const char* registerBytes;  // the 16 bytes read back afterwards
};

class ProtectionSequenceTest : public DataFlashProtectionTest,
                               public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(ProtectionSequenceTest, SequencesChangeTheStateAndTheRegister) {
  Use(GetParam().config);
  FramesWaiting(GetParam().frames);
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | (GetParam().on ? kProtectionOn : 0));
  EXPECT_EQ(Register(), RegisterOf(GetParam().registerBytes));
}

constexpr const char* kOpen = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
constexpr const char* kAll = "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF";
const SimConfig kUnprotected{};
const SimConfig kSector1{.protectBits = 0x0002};
const SimConfig kSector1PinLow{.protectBits = 0x0002, .writeProtectPin = true};

INSTANTIATE_TEST_SUITE_P(
    Rows, ProtectionSequenceTest,
    ::testing::Values(
        SequenceCase{"enable", kUnprotected, {"3D 2A 7F A9"}, true, kOpen},
        SequenceCase{"enable_with_a_fifth_byte", kUnprotected, {"3D 2A 7F A9 00"}, false, kOpen},
        SequenceCase{"disable", kSector1, {"3D 2A 7F 9A"}, false, "00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        SequenceCase{"disable_short", kSector1, {"3D 2A 7F"}, true, "00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        SequenceCase{"disable_with_WP_low", kSector1PinLow, {"3D 2A 7F 9A"}, true,
                     "00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        SequenceCase{"unknown_last_byte", kUnprotected, {"3D 2A 7F 00"}, false, kOpen},
        SequenceCase{"erase_register", kUnprotected, {"3D 2A 7F CF"}, false, kAll},
        SequenceCase{"erase_register_with_WP_low", kSector1PinLow, {"3D 2A 7F CF"}, true,
                     "00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        SequenceCase{"program_register",
                     kUnprotected,
                     {"3D 2A 7F CF", "3D 2A 7F FC 30 00 FF 00 00 00 00 00 00 00 00 00 00 00 00 FF"},
                     false,
                     "30 00 FF 00 00 00 00 00 00 00 00 00 00 00 00 FF"},
        SequenceCase{"program_register_only_clears_bits", kSector1, {"3D 2A 7F FC FF FF FF"}, true,
                     "00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        SequenceCase{"program_register_short_leaves_the_rest",
                     kUnprotected,
                     {"3D 2A 7F CF", "3D 2A 7F FC C0 00"},
                     false,
                     "C0 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF"},
        SequenceCase{"program_register_with_WP_low", kSector1PinLow, {"3D 2A 7F FC 00 00"}, true,
                     "00 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}),
    [](const auto& info) { return std::string(info.param.what); });

struct SectorCase {
  const char* what;
  SimConfig config;
  std::vector<std::string> frames;  // after the configuration
  uint32_t page;
  bool protectedPage;
};

class SectorProtectionTest : public DataFlashProtectionTest, public ::testing::WithParamInterface<SectorCase> {
 protected:
  static std::string Command(const char* opcode, uint32_t page) {
    char text[16];
    const uint32_t address = page << 9;
    std::snprintf(text, sizeof text, "%s %02X %02X 00", opcode, address >> 16, (address >> 8) & 0xFF);
    return text;
  }
};

TEST_P(SectorProtectionTest, ProtectedSectorTakesNoProgramOrErase) {
  const SectorCase& c = GetParam();
  Use(c.config);
  FramesWaiting(c.frames);
  const uint64_t ignoredBefore = sim_->Stats().Ops(SimOp::kIgnored);
  LoadBuffer(0x00);
  // Each command, on a page that starts as 5A: what it leaves at byte 1.
  const std::vector<std::pair<std::string, uint8_t>> commands = {
      {"83", 0x01}, {"88", 0x5A & 0x01}, {"81", 0xFF}, {"50", 0xFF}};
  for (const auto& [opcode, done] : commands) {
    FillPage(c.page, 0x5A);
    FramesWaiting({Command(opcode.c_str(), c.page)});
    EXPECT_EQ(PageBytes(c.page)[1], c.protectedPage ? 0x5A : done) << "opcode " << opcode;
  }
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kIgnored) - ignoredBefore, c.protectedPage ? 4u : 0u);
}

const SimConfig kSector0{.protectBits = 0x0001};
const SimConfig kSector15{.protectBits = 0x8000};
const SimConfig kNoSector{.protectBits = 0x0000};

INSTANTIATE_TEST_SUITE_P(
    Rows, SectorProtectionTest,
    ::testing::Values(
        SectorCase{"sector_0_covers_0a", kSector0, {}, kLast0a, true},
        SectorCase{"sector_0_covers_0b", kSector0, {}, 255, true},
        SectorCase{"sector_0_ends_before_sector_1", kSector0, {}, kFirst1, false},
        SectorCase{"sector_1_first_page", kSector1, {}, kFirst1, true},
        SectorCase{"sector_1_last_page", kSector1, {}, 2 * kFirst1 - 1, true},
        SectorCase{"page_before_sector_1", kSector1, {}, kFirst1 - 1, false},
        SectorCase{"page_after_sector_1", kSector1, {}, 2 * kFirst1, false},
        SectorCase{"sector_15", kSector15, {}, kFirst15, true},
        SectorCase{"page_before_sector_15", kSector15, {}, kFirst15 - 1, false},
        SectorCase{"0a_alone_covers_its_last_page",
                   kNoSector,
                   {"3D 2A 7F CF", "3D 2A 7F FC C0 00"},
                   kLast0a,
                   true},
        SectorCase{"0a_alone_leaves_0b", kNoSector, {"3D 2A 7F CF", "3D 2A 7F FC C0 00"}, kFirst0b, false},
        SectorCase{"0b_alone_covers_its_first_page",
                   kNoSector,
                   {"3D 2A 7F CF", "3D 2A 7F FC 30 00"},
                   kFirst0b,
                   true},
        SectorCase{"0b_alone_leaves_0a", kNoSector, {"3D 2A 7F CF", "3D 2A 7F FC 30 00"}, kLast0a, false},
        SectorCase{"register_set_but_protection_disabled", kSector1, {"3D 2A 7F 9A"}, kFirst1, false},
        SectorCase{"WP_low_keeps_protection_on", kSector1PinLow, {"3D 2A 7F 9A"}, kFirst1, true},
        SectorCase{"erased_register_protects_every_sector", kNoSector, {"3D 2A 7F CF"}, kFirst1, true}),
    [](const auto& info) { return std::string(info.param.what); });

struct ChipEraseProtectCase {
  const char* what;
  uint32_t mask;           // protected sectors
  std::vector<uint32_t> kept;  // pages the chip erase leaves as they were
  bool runs;
};

class ChipEraseUnderProtectionTest : public DataFlashProtectionTest,
                                     public ::testing::WithParamInterface<ChipEraseProtectCase> {};

TEST_P(ChipEraseUnderProtectionTest, ChipEraseLeavesProtectedSectorsAlone) {
  const ChipEraseProtectCase& c = GetParam();
  Use({.protectBits = c.mask});
  std::ranges::fill(sim_->Contents(), 0x00);
  Frames({"C7 94 80 9A"});
  for (uint32_t page : {0u, kLast0a, kFirst0b, kFirst1 - 1, kFirst1, kFirst15 - 1, kFirst15, 4095u}) {
    const bool kept = std::ranges::find(c.kept, page) != c.kept.end();
    EXPECT_EQ(PageBytes(page).front(), kept ? 0x00 : 0xFF) << "page " << page;
  }
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kChipErase), c.runs ? 1u : 0u);
  EXPECT_EQ(SimStatus(*sim_) & 0x80, c.runs ? 0 : 0x80);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChipEraseUnderProtectionTest,
    ::testing::Values(ChipEraseProtectCase{"none", 0x0000, {}, true},
                      ChipEraseProtectCase{"sector_1", 0x0002, {kFirst1, 2 * kFirst1 - 1}, true},
                      ChipEraseProtectCase{"sectors_0_and_15",
                                           0x8001,
                                           {0, kLast0a, kFirst0b, kFirst1 - 1, kFirst15, 4095},
                                           true},
                      ChipEraseProtectCase{"all",
                                           0xFFFF,
                                           {0, kLast0a, kFirst0b, kFirst1 - 1, kFirst1, kFirst15 - 1, kFirst15, 4095},
                                           false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(DataFlashProtectionTest, ProtectionCommandsWaitWhileBusy) {
  Use({.protectBits = 0x0002});
  Frames({"81 00 00 00", "3D 2A 7F 9A", "32 00 00 00"});
  WaitReady();
  EXPECT_EQ(SimStatus(*sim_), kReadyStatus | kProtectionOn);
  EXPECT_EQ(sim_->Stats().Ops(SimOp::kIgnored), 2u);
}

TEST_F(DataFlashChipTest, FlipAddressComesOutOfAProgramDifferentAndTheBufferDoesNot) {
  Use({.flips = {2 * kPage + 5}});
  const auto data = LoadBuffer(0x00);
  Frames({"83 00 04 00"});
  auto expected = data;
  expected[5] = 0x05 | 0x02;  // 05: the lowest bit it clears, bit 1, stays 1
  EXPECT_EQ(Bytes(PageBytes(2)), expected);
  EXPECT_EQ(Buffer(), data);
}

TEST_F(DataFlashChipTest, StuckPartStaysBusyAfterItsFirstProgramOnly) {
  Use({.stuck = true});
  Frames({"53 00 00 00"});
  WaitReady();  // a transfer is not a program
  Frames({"81 00 00 00"});
  sim_->SetClock(1);
  EXPECT_EQ(SimBusyNs(*sim_, 100'000), 0u);
}

}  // namespace
