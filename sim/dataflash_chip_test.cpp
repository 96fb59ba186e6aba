// The AT45DB081 model, driven with raw select periods.
#include "sim/dataflash_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
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

TEST_F(DataFlashChipTest, StuckPartStaysBusyAfterItsFirstProgramOnly) {
  Use({.stuck = true});
  Frames({"53 00 00 00"});
  WaitReady();  // a transfer is not a program
  Frames({"81 00 00 00"});
  sim_->SetClock(1);
  EXPECT_EQ(SimBusyNs(*sim_, 100'000), 0u);
}

}  // namespace
