// SPDX-License-Identifier: MIT
#include "flash/sfpb.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flash/programmer_test_cases.h"
#include "testsupport/fake_clock.h"
#include "testsupport/recording_spictl.h"

namespace {

using namespace flashtest;
using testsupport::FakeClock;
using testsupport::RecordingSpiCtl;

constexpr const char* kDataFlash = "AT45DB081";
constexpr uint32_t kPageSize = 264;
constexpr uint32_t kDeviceSize = 4096 * kPageSize;

class DataFlash : public ReadyChip<SFPB> {
 protected:
  DataFlash() : ReadyChip(kDataFlash) {}
};

class DataFlashCommands : public DataFlash, public testing::WithParamInterface<Case> {};

TEST_P(DataFlashCommands, AreTheChipsCommandsInOrder) { RunCase(GetParam(), programmer, ctl); }

// A piece that covers a whole page goes straight into buffer 1; one that
// covers part of a page first loads the page into buffer 1 (53).
INSTANTIATE_TEST_SUITE_P(
    Write, DataFlashCommands,
    testing::Values(Case{"ThreeHundredBytesAtZero",
                         kDataFlash,
                         WriteOf(0, 300),
                         true,
                         {"84 00 00 00 +264", "83 00 00 00", "D7 poll", "53 00 02 00", "D7 poll",
                          "84 00 00 00 +36", "83 00 02 00", "D7 poll"}},
                    Case{"ThousandBytesFromInsidePage248",
                         kDataFlash,
                         WriteOf(65536, 1000),
                         true,
                         {"53 01 F0 00", "D7 poll", "84 00 00 40 +200", "83 01 F0 40", "D7 poll",  //
                          "84 00 00 00 +264", "83 01 F2 00", "D7 poll",                            //
                          "84 00 00 00 +264", "83 01 F4 00", "D7 poll",                            //
                          "84 00 00 00 +264", "83 01 F6 00", "D7 poll",                            //
                          "53 01 F8 00", "D7 poll", "84 00 00 00 +8", "83 01 F8 00", "D7 poll"}},
                    Case{"TenBytesInsidePage3",
                         kDataFlash,
                         WriteOf(1000, 10),
                         true,
                         {"53 00 06 00", "D7 poll", "84 00 00 D0 +10", "83 00 06 D0", "D7 poll"}},
                    Case{"NothingForLengthZero", kDataFlash, WriteOf(1000, 0), true, {}},
                    Case{"StopsAtTheDeviceEnd",
                         kDataFlash,
                         WriteOf(kDeviceSize - 10, 20),
                         true,
                         {"53 1F FE 00", "D7 poll", "84 00 00 FE +10", "83 1F FE FE", "D7 poll"}},
                    Case{"NothingFromTheDeviceEndOn", kDataFlash, WriteOf(kDeviceSize, 20), true, {}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    ReadAndErase, DataFlashCommands,
    testing::Values(
        Case{"ReadTenBytesAt1000", kDataFlash, ReadOf(1000, 10), true, {"03 00 06 D0 +10 of 00"}},
        Case{"ReadNothingForLengthZero", kDataFlash, ReadOf(1000, 0), true, {}},
        Case{"ReadStopsAtTheDeviceEnd",
             kDataFlash,
             ReadOf(kDeviceSize - 4, 10),
             true,
             {"03 1F FF 04 +4 of 00"}},
        Case{"ReadNothingFromTheDeviceEndOn", kDataFlash, ReadOf(kDeviceSize, 10), true, {}},
        Case{"ChipErase", kDataFlash, EraseAll, true, {"C7 94 80 9A", "D7 poll"}},
        Case{"NoSectorErase", kDataFlash, [](SFPRG& p, SPICTL* c) { return p.EraseSector(c, 0); }, false, {}},
        Case{"PageProgramAcrossAPageEndIsRefused", kDataFlash, ProgramPageOf(250, 20), false, {}},
        Case{"WriteBracketsSendNothing", kDataFlash, WriteBrackets, true, {}}),
    CaseName);

// Erase units for -u: a page, loaded whole into buffer 1 and programmed with
// the built-in erase (83), or without it (88).
INSTANTIATE_TEST_SUITE_P(
    RewriteUnit, DataFlashCommands,
    testing::Values(Case{"WithErase",
                         kDataFlash,
                         RewriteOf(264, kUnitData, kErasedUnit, true),
                         true,
                         {"84 00 00 00 +264", "83 00 02 00", "D7 poll"}},
                    Case{"ErasedContentsStillNeedTheErase",
                         kDataFlash,
                         RewriteOf(264, kErasedUnit, kUnitData, true),
                         true,
                         {"84 00 00 00 +264", "83 00 02 00", "D7 poll"}},
                    Case{"WithoutErase",
                         kDataFlash,
                         RewriteOf(264 * 4095, kUnitDataOnePageChanged + 264, kUnitData + 264, false),
                         true,
                         {"84 00 00 00 +264", "88 1F FE 00", "D7 poll"}},
                    Case{"NothingWhenThePageHoldsItsContents", kDataFlash,
                         RewriteOf(264, kUnitData, kUnitData, false), true, {}},
                    Case{"AStartInsideAPageIsRefused", kDataFlash, RewriteOf(100, kUnitData, kErasedUnit, true),
                         false, {}},
                    Case{"APagePastTheEndIsRefused", kDataFlash,
                         RewriteOf(kDeviceSize, kUnitData, kErasedUnit, true), false, {}},
                    Case{"ClearProtection", kDataFlash, ClearProtection, true, {"3D 2A 7F 9A"}}),
    CaseName);

// Sector protection: status bit 1 says it is enabled, and only then is the
// sector protection register read. Sector 0 is 0a (the first block, 2,112
// bytes) and 0b (the rest of its 67,584 bytes).
struct SectorProtectionCase {
  const char* name;
  uint8_t status;
  std::vector<uint8_t> registerBytes;  // empty: the register is not read
  std::vector<WriteProtection::Area> areas;
};

class SectorProtection : public testing::TestWithParam<SectorProtectionCase> {};

std::vector<uint8_t> Register(std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
  std::vector<uint8_t> sectors(16, 0x00);
  for (const auto& [sector, value] : bytes) sectors[sector] = value;
  return sectors;
}

TEST_P(SectorProtection, FollowsTheRegister) {
  const SectorProtectionCase& c = GetParam();
  FakeClock clock;
  RecordingSpiCtl ctl;
  ctl.AnswerStatus(0xD7, {c.status});
  ctl.Answer(0x32, c.registerBytes, 4);
  SFPB programmer;
  programmer.SetDevice(Row(kDataFlash));
  WriteProtection protection;
  ASSERT_TRUE(programmer.ReadProtection(&ctl, &protection));
  EXPECT_EQ(ctl.Transactions(),
            c.registerBytes.empty() ? Lines{"D7 poll"} : (Lines{"D7 poll", "32 00 00 00 +16 of 00"}));
  EXPECT_EQ(protection.status, c.status);
  EXPECT_EQ(protection.areas, c.areas);
  EXPECT_FALSE(protection.statusLocked);
}

constexpr uint32_t kSector = 67584;

INSTANTIATE_TEST_SUITE_P(
    Registers, SectorProtection,
    testing::Values(SectorProtectionCase{"Disabled", 0xA4, {}, {}},
                    SectorProtectionCase{"EnabledButNoSector", 0xA6, Register({}), {}},
                    SectorProtectionCase{"Sector0a", 0xA6, Register({{0, 0xC0}}), {{0, 2112}}},
                    SectorProtectionCase{"Sector0b", 0xA6, Register({{0, 0x30}}), {{2112, kSector}}},
                    SectorProtectionCase{"Sector0AndSector1", 0xA6, Register({{0, 0xF0}, {1, 0xFF}}),
                                         {{0, 2 * kSector}}},
                    SectorProtectionCase{"TwoApart", 0xA6, Register({{3, 0xFF}, {5, 0xFF}}),
                                         {{3 * kSector, 4 * kSector}, {5 * kSector, 6 * kSector}}},
                    SectorProtectionCase{"TheLastSector", 0xA6, Register({{15, 0xFF}}), {{15 * kSector, kDeviceSize}}},
                    SectorProtectionCase{"Everything", 0xA6, std::vector<uint8_t>(16, 0xFF), {{0, kDeviceSize}}}),
    [](const testing::TestParamInfo<SectorProtectionCase>& info) { return std::string(info.param.name); });

// Calls of the 10-byte write at 1000: 53 is calls 0-2, its poll 3-5, the
// buffer write 6-9 (select, header, data, release), 83 calls 10-12.
INSTANTIATE_TEST_SUITE_P(
    Failures, DataFlashCommands,
    testing::Values(Case{"PageToBuffer", kDataFlash, WriteOf(1000, 10), false, {"53 00 06 00 !failed"}, {1}},
                    Case{"BufferData",
                         kDataFlash,
                         WriteOf(1000, 10),
                         false,
                         {"53 00 06 00", "D7 poll", "84 00 00 D0 +10 !failed"},
                         {8}},
                    Case{"BufferToPage",
                         kDataFlash,
                         WriteOf(1000, 10),
                         false,
                         {"53 00 06 00", "D7 poll", "84 00 00 D0 +10", "83 00 06 D0 !failed"},
                         {11}},
                    Case{"FirstOfTwoPages",
                         kDataFlash,
                         WriteOf(0, 300),
                         false,
                         {"84 00 00 00 +264", "83 00 00 00 !failed"},
                         {5}},
                    Case{"ChipErase", kDataFlash, EraseAll, false, {"C7 94 80 9A !failed"}, {1}},
                    Case{"Read", kDataFlash, ReadOf(0, 10), false, {"03 00 00 00 +10 of 00 !failed"}, {2}}),
    CaseName);

TEST_F(DataFlash, ChipErasePollsUntilBit7IsSet) {
  ctl.AnswerStatus(0xD7, {0x00, 0x7F, 0x80});
  ASSERT_TRUE(programmer.EraseAll(&ctl));
  // A chip erase runs for seconds: the bus idles between the polls.
  EXPECT_EQ(ctl.Transactions(), (Lines{"C7 94 80 9A", "D7 poll", "idle 125", "D7 poll", "idle 125", "D7 poll"}));
}

struct RangeArgs {
  uint32_t start;
  int32_t length;
};

class EraseRangeRefusal : public DataFlash, public testing::WithParamInterface<RangeArgs> {};

TEST_P(EraseRangeRefusal, PrintsOnceAndSendsNothing) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(programmer.EraseRange(&ctl, GetParam().start, GetParam().length));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Requested operation not supported on this device\n");
  EXPECT_TRUE(ctl.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(AnyArguments, EraseRangeRefusal,
                         testing::Values(RangeArgs{0, 0}, RangeArgs{0, 1000}, RangeArgs{kDeviceSize, 5},
                                         RangeArgs{1000, -1}));

// This command set never uses the one-call form, whatever the controller.
TEST(DataFlashForm, IsTheGeneralFormWithASecondGenerationController) {
  FakeClock clock;
  std::vector<Lines> shapes;
  for (uint32_t kind : {SPIKIND_RT1, SPIKIND_RT2}) {
    RecordingSpiCtl ctl(kind);
    ctl.AnswerStatus(0xD7, {0x80});
    SFPB programmer;
    programmer.SetDevice(Row(kDataFlash));
    ASSERT_TRUE(programmer.Write(&ctl, 0, 300, kSource.data()));
    ASSERT_TRUE(programmer.EraseAll(&ctl));
    shapes.push_back(ctl.CallShapes());
  }
  EXPECT_EQ(shapes[0], shapes[1]);
  const Lines expected = {"select",  "put 4",    "put 264",  "release", "select",   "put 4",
                          "release", "select",   "put 2 rx", "release",                         //
                          "select",  "put 4",    "release",  "select",  "put 2 rx", "release",  //
                          "select",  "put 4",    "put 36",   "release", "select",   "put 4",
                          "release", "select",   "put 2 rx", "release",  //
                          "select",  "put 4 rx", "release",  "select",  "put 2 rx", "release"};
  EXPECT_EQ(shapes[1], expected);
}

// The chip's pages and its buffer 1, driven by the commands the programmer
// sent, to show what the pages hold afterwards.
class PageModel {
 public:
  PageModel(uint8_t pageFill, uint8_t bufferFill) : pageFill_(pageFill), buffer_(kPageSize, bufferFill) {}

  void Run(const std::vector<std::vector<uint8_t>>& transactions) {
    for (const std::vector<uint8_t>& t : transactions) {
      if (t.size() < 4) continue;  // status reads
      const uint32_t address = (uint32_t{t[1]} << 16) | (uint32_t{t[2]} << 8) | t[3];
      if (t[0] == 0x53) buffer_ = Page(address >> 9);
      if (t[0] == 0x83) pages_[address >> 9] = buffer_;
      if (t[0] == 0x84) {
        for (size_t i = 4; i < t.size(); ++i) buffer_[(address + i - 4) % kPageSize] = t[i];
      }
    }
  }

  std::vector<uint8_t> Page(uint32_t page) const {
    const auto found = pages_.find(page);
    return found == pages_.end() ? std::vector<uint8_t>(kPageSize, pageFill_) : found->second;
  }

 private:
  uint8_t pageFill_;
  std::vector<uint8_t> buffer_;
  std::map<uint32_t, std::vector<uint8_t>> pages_;
};

TEST_F(DataFlash, APartialWriteKeepsTheRestOfThePage) {
  ASSERT_TRUE(programmer.Write(&ctl, 1000, 10, kSource.data()));
  PageModel chip(0xAA, 0x11);
  chip.Run(ctl.SentPerTransaction());
  std::vector<uint8_t> expected(kPageSize, 0xAA);
  std::copy(kSource.begin(), kSource.begin() + 10, expected.begin() + 208);
  EXPECT_EQ(chip.Page(3), expected);
}

TEST_F(DataFlash, APageWrittenByTwoCallsEndsWhole) {
  ASSERT_TRUE(programmer.Write(&ctl, 264, 100, kSource.data()));
  ASSERT_TRUE(programmer.Write(&ctl, 364, 164, kSource.data() + 100));
  PageModel chip(0xAA, 0x11);
  chip.Run(ctl.SentPerTransaction());
  EXPECT_EQ(chip.Page(1), std::vector<uint8_t>(kSource.begin(), kSource.begin() + 264));
  EXPECT_EQ(ctl.Transactions(),
            (Lines{"53 00 02 00", "D7 poll", "84 00 00 00 +100", "83 00 02 00", "D7 poll", "53 00 02 00",
                   "D7 poll", "84 00 00 64 +164", "83 00 02 64", "D7 poll"}));
}

TEST(DeviceAddress, IsThePageShiftedLeftPlusTheOffset) {
  SFPB programmer;
  programmer.SetDevice(Row(kDataFlash));
  EXPECT_EQ(programmer.ToDeviceAddress(0), 0u);
  EXPECT_EQ(programmer.ToDeviceAddress(263), 263u);
  EXPECT_EQ(programmer.ToDeviceAddress(264), 512u);
  EXPECT_EQ(programmer.ToDeviceAddress(1000), 0x6D0u);
  EXPECT_EQ(programmer.ToDeviceAddress(kDeviceSize - 1), (4095u << 9) + 263u);
}

}  // namespace
