// SPDX-License-Identifier: MIT
#include "flash/sfpa.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/programmer_test_cases.h"
#include "testsupport/fake_clock.h"
#include "testsupport/recording_spictl.h"

namespace {

using namespace flashtest;
using testsupport::FakeClock;
using testsupport::RecordingSpiCtl;

class SectorErase : public ReadyChip<SFPA> {
 protected:
  SectorErase() : ReadyChip("M25P80") {}
};

class SectorEraseCommands : public SectorErase, public testing::WithParamInterface<Case> {};

TEST_P(SectorEraseCommands, AreTheChipsCommandsInOrder) { RunCase(GetParam(), programmer, ctl); }

INSTANTIATE_TEST_SUITE_P(
    Write, SectorEraseCommands,
    testing::Values(
        Case{"SixteenBytesInsideAPage",
             "M25P80",
             WriteOf(0x10, 16),
             true,
             {"06", "02 00 00 10 +16", "05 poll"}},
        Case{"AcrossFourPages",
             "M25P80",
             WriteOf(0x1F0, 600),
             true,
             {"06", "02 00 01 F0 +16", "05 poll", "06", "02 00 02 00 +256", "05 poll", "06",
              "02 00 03 00 +256", "05 poll", "06", "02 00 04 00 +72", "05 poll"}},
        Case{"NothingForLengthZero", "M25P80", WriteOf(0x10, 0), true, {}},
        Case{"NothingForANegativeLength", "M25P80", WriteOf(0x10, -5), true, {}},
        Case{
            "StopsAtTheDeviceEnd", "M25P80", WriteOf(0xFFFF8, 16), true, {"06", "02 0F FF F8 +8", "05 poll"}},
        Case{"NothingFromTheDeviceEndOn", "M25P80", WriteOf(0x100000, 16), true, {}},
        Case{"NothingAboveASixteenMegabyteChip", "N25Q128", WriteOf(0x01000010, 16), true, {}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    EraseRange, SectorEraseCommands,
    testing::Values(
        Case{"TwoWholeSectors",
             "M25P80",
             EraseRangeOf(0, 0x20000),
             true,
             {"06", "D8 00 00 00", "05 poll", "06", "D8 01 00 00", "05 poll"}},
        Case{"FirstEraseCarriesTheStartItself",
             "M25P80",
             EraseRangeOf(0x8000, 0x10000),
             true,
             {"06", "D8 00 80 00", "05 poll", "06", "D8 01 00 00", "05 poll"}},
        Case{"OneBigSectorOfTheM25P128",
             "M25P128",
             EraseRangeOf(0, 0x10000),
             true,
             {"06", "D8 00 00 00", "05 poll"}},
        Case{"TwoBytesAcrossABigSectorBoundary",
             "M25P128",
             EraseRangeOf(0x3FFFF, 2),
             true,
             {"06", "D8 03 FF FF", "05 poll", "06", "D8 04 00 00", "05 poll"}},
        Case{"NothingForLengthZero", "M25P80", EraseRangeOf(0x8000, 0), true, {}},
        Case{"OnlySectorsInsideTheDevice",
             "M25P80",
             EraseRangeOf(0xF8000, 0x20000),
             true,
             {"06", "D8 0F 80 00", "05 poll"}},
        Case{"HugeLengthStopsAtTheDeviceEnd",
             "M25P80",
             EraseRangeOf(0xFFFF0, 0x7FFFFFFF),
             true,
             {"06", "D8 0F FF F0", "05 poll"}},
        Case{"NothingFromTheDeviceEndOn", "M25P80", EraseRangeOf(0x100000, 0x10000), true, {}},
        Case{"NothingFromTheTopOfTheAddressSpace", "M25P128", EraseRangeOf(0xFFFFFFFF, 1), true, {}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    ReadAndErase, SectorEraseCommands,
    testing::Values(
        Case{"ReadInOneCommand", "M25P80", ReadOf(0x12345, 65536), true, {"03 01 23 45 +65536 of 55"}},
        Case{"ReadNothingForLengthZero", "M25P80", ReadOf(0x12345, 0), true, {}},
        Case{"ReadStopsAtTheDeviceEnd", "M25P80", ReadOf(0xFFFF0, 0x100), true, {"03 0F FF F0 +16 of 55"}},
        Case{"ReadNothingFromTheDeviceEndOn", "M25P16", ReadOf(0x200000, 16), true, {}},
        Case{"BulkErase", "M25P80", EraseAll, true, {"06", "C7", "05 poll"}},
        Case{"SectorEraseOutsideTheDeviceIsRefused",
             "M25P80",
             [](SFPRG& p, SPICTL* c) { return p.EraseSector(c, 0x100000); },
             false,
             {}},
        Case{"PageProgramAcrossAPageEndIsRefused", "M25P80", ProgramPageOf(0xF0, 32), false, {}},
        Case{"PageProgramPastTheDeviceEndIsRefused", "M25P80", ProgramPageOf(0x100000, 16), false, {}},
        Case{"WriteBracketsSendNothing", "M25P80", WriteBrackets, true, {}}),
    CaseName);

// Erase units for -u: the sector is erased only when asked, and only the
// pages that change are programmed. Units of 64 KB at 0x10000.
INSTANTIATE_TEST_SUITE_P(
    RewriteUnit, SectorEraseCommands,
    testing::Values(
        Case{"ProgramsOnlyThePageThatChanges",
             "M25P80",
             RewriteOf(0x10000, kUnitDataOnePageChanged, kUnitData, false),
             true,
             {"06", "02 01 01 00 +256", "05 poll"}},
        Case{"NothingWhenTheUnitHoldsItsContents", "M25P80", RewriteOf(0x10000, kUnitData, kUnitData, false), true,
             {}},
        Case{"ErasedPagesAreNotProgrammedAfterTheErase",
             "M25P80",
             RewriteOf(0x10000, kErasedUnit, kUnitData, true),
             true,
             {"06", "D8 01 00 00", "05 poll"}},
        // Every page but the last is erased: one page program after the erase.
        Case{"EraseThenTheOnePageThatIsNotErased",
             "M25P80",
             RewriteOf(0x10000, kUnitData - 0xFF00, kUnitData, true),
             true,
             {"06", "D8 01 00 00", "05 poll", "06", "02 01 FF 00 +256", "05 poll"}},
        Case{"TheBigSectorOfTheM25P128",
             "M25P128",
             RewriteOf(0x40000, kErasedUnit, kUnitData, true),
             true,
             {"06", "D8 04 00 00", "05 poll"}},
        Case{"AStartInsideAUnitIsRefused", "M25P80", RewriteOf(0x10100, kUnitData, kErasedUnit, true), false, {}},
        Case{"AUnitPastTheEndIsRefused", "M25P80", RewriteOf(0x100000, kUnitData, kErasedUnit, true), false, {}},
        Case{"AFailedEraseProgramsNothing",
             "M25P80",
             RewriteOf(0x10000, kUnitData - 0xFF00, kUnitData, true),
             false,
             {"06", "D8 01 00 00 !failed"},
             {4}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Protection, SectorEraseCommands,
    testing::Values(Case{"ClearWritesTheStatusRegisterWithZero", "N25Q128", ClearProtection, true,
                         {"06", "01 00", "05 poll"}},
                    Case{"ClearStopsAtAFailedWriteEnable", "M25P80", ClearProtection, false, {"06 !failed"}, {1}}),
    CaseName);

// The block-protect bits of each part, as its datasheet's table gives them.
struct ProtectionCase {
  const char* row;
  uint8_t status;
  std::vector<WriteProtection::Area> areas;
  bool locked;
};

class BlockProtection : public testing::TestWithParam<ProtectionCase> {};

TEST_P(BlockProtection, ProtectsTheAreaOfItsTable) {
  const ProtectionCase& c = GetParam();
  FakeClock clock;
  RecordingSpiCtl ctl;
  ctl.AnswerStatus(0x05, {c.status});
  SFPA programmer;
  programmer.SetDevice(Row(c.row));
  WriteProtection protection;
  ASSERT_TRUE(programmer.ReadProtection(&ctl, &protection));
  EXPECT_EQ(ctl.Transactions(), Lines{"05 poll"});
  EXPECT_EQ(protection.status, c.status);
  EXPECT_EQ(protection.areas, c.areas);
  EXPECT_EQ(protection.statusLocked, c.locked);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, BlockProtection,
    testing::Values(
        ProtectionCase{"M25P80", 0x00, {}, false},
        ProtectionCase{"M25P80", 0x03, {}, false},  // busy and write-enabled: nothing protected
        ProtectionCase{"M25P80", 0x04, {{0xF0000, 0x100000}}, false},  // BP 1: the upper sixteenth
        ProtectionCase{"M25P80", 0x08, {{0xE0000, 0x100000}}, false},
        ProtectionCase{"M25P80", 0x0C, {{0xC0000, 0x100000}}, false},
        ProtectionCase{"M25P80", 0x10, {{0x80000, 0x100000}}, false},
        ProtectionCase{"M25P80", 0x14, {{0, 0x100000}}, false},  // 5 to 7: all
        ProtectionCase{"M25P80", 0x9C, {{0, 0x100000}}, true},
        ProtectionCase{"M25P80", 0x80, {}, true},  // SRWD alone protects no data
        ProtectionCase{"M25P80", 0x20, {}, false},  // no TB on the M25P parts
        ProtectionCase{"M25P16", 0x04, {{0x1F0000, 0x200000}}, false},
        ProtectionCase{"M25P16", 0x14, {{0x100000, 0x200000}}, false},
        ProtectionCase{"M25P16", 0x18, {{0, 0x200000}}, false},
        ProtectionCase{"M25P32", 0x04, {{0x3F0000, 0x400000}}, false},
        ProtectionCase{"M25P32", 0x18, {{0x200000, 0x400000}}, false},
        ProtectionCase{"M25P32", 0x1C, {{0, 0x400000}}, false},
        ProtectionCase{"M25P64", 0x04, {{0x7E0000, 0x800000}}, false},  // two sectors
        ProtectionCase{"M25P64", 0x1C, {{0, 0x800000}}, false},
        ProtectionCase{"M25P128", 0x04, {{0xFC0000, 0x1000000}}, false},
        ProtectionCase{"M25P128", 0x1C, {{0, 0x1000000}}, false},
        ProtectionCase{"N25Q128", 0x04, {{0xFF0000, 0x1000000}}, false},
        ProtectionCase{"N25Q128", 0x24, {{0, 0x10000}}, false},  // TB: from the bottom
        ProtectionCase{"N25Q128", 0x40, {{0x800000, 0x1000000}}, false},  // BP3 alone: 8
        ProtectionCase{"N25Q128", 0x60, {{0, 0x800000}}, false},
        ProtectionCase{"N25Q128", 0x44, {{0, 0x1000000}}, false},  // 9 and up: all
        ProtectionCase{"N25Q128", 0xFC, {{0, 0x1000000}}, true}));

// Calls of the 600-byte write at 0x1F0 with the general form: each command
// is select, transfers, release; the first page is calls 0-9, the second
// page's write enable calls 10-12.
INSTANTIATE_TEST_SUITE_P(
    Failures, SectorEraseCommands,
    testing::Values(
        Case{"SelectOfTheFirstWriteEnable", "M25P80", WriteOf(0x1F0, 600), false, {"(empty) !failed"}, {0}},
        Case{"DataOfTheFirstPage",
             "M25P80",
             WriteOf(0x1F0, 600),
             false,
             {"06", "02 00 01 F0 +16 !failed"},
             {5}},
        Case{"StatusPoll",
             "M25P80",
             WriteOf(0x1F0, 600),
             false,
             {"06", "02 00 01 F0 +16", "05 poll !failed"},
             {8}},
        Case{"WriteEnableOfTheSecondPage",
             "M25P80",
             WriteOf(0x1F0, 600),
             false,
             {"06", "02 00 01 F0 +16", "05 poll", "06 !failed"},
             {11}},
        Case{"SecondSectorErase",
             "M25P80",
             EraseRangeOf(0, 0x30000),
             false,
             {"06", "D8 00 00 00", "05 poll", "06", "D8 01 00 00 !failed"},
             {13}},
        Case{"BulkErase", "M25P80", EraseAll, false, {"06", "C7 !failed"}, {4}},
        Case{"ReadData", "M25P80", ReadOf(0, 16), false, {"03 00 00 00 +16 of 55 !failed"}, {2}}),
    CaseName);

// The same write seen from the controller: one PutSelect per command with a
// second-generation controller (the status poll and write enable included),
// select/put/release with any other. On the chip the commands are the same.
struct FormCase {
  const char* name;
  uint32_t kind;
  Operation operation;
  Lines shapes;
};

class Form : public testing::TestWithParam<FormCase> {};

TEST_P(Form, OneCallOnlyWithASecondGenerationController) {
  const FormCase& c = GetParam();
  FakeClock clock;
  RecordingSpiCtl ctl(c.kind);
  ctl.AnswerStatus(0x05, {0x00});
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  ASSERT_TRUE(c.operation(programmer, &ctl));
  EXPECT_EQ(ctl.CallShapes(), c.shapes);
}

const Lines kGeneralPageProgram = {"select",  "put 1",   "release", "select",   "put 4",
                                   "put 256", "release", "select",  "put 2 rx", "release"};

INSTANTIATE_TEST_SUITE_P(
    Commands, Form,
    testing::Values(
        FormCase{"PageProgramRt2",
                 SPIKIND_RT2,
                 WriteOf(0x100, 256),
                 {"putselect 1", "putselect 260", "putselect 2 rx"}},
        FormCase{"PageProgramRt1", SPIKIND_RT1, WriteOf(0x100, 256), kGeneralPageProgram},
        FormCase{"PageProgramBaseKind", SPIKIND_NONE, WriteOf(0x100, 256), kGeneralPageProgram},
        FormCase{"SectorEraseRt2",
                 SPIKIND_RT2,
                 EraseRangeOf(0, 1),
                 {"putselect 1", "putselect 4", "putselect 2 rx"}},
        FormCase{
            "SectorEraseRt1",
            SPIKIND_RT1,
            EraseRangeOf(0, 1),
            {"select", "put 1", "release", "select", "put 4", "release", "select", "put 2 rx", "release"}},
        FormCase{"BulkEraseRt2",
                 SPIKIND_RT2,
                 EraseAll,
                 {"select", "put 1", "release", "select", "put 1", "release", "putselect 2 rx"}},
        FormCase{"ReadRt2", SPIKIND_RT2, ReadOf(0, 16), {"select", "put 4", "get 16 fill 55", "release"}}),
    [](const testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

// Whatever the form, the chip receives the same commands and every data byte
// of the source in order.
TEST(PageData, ReachesTheChipWholeInBothForms) {
  Lines expected;
  for (uint32_t kind : {SPIKIND_RT1, SPIKIND_RT2}) {
    SCOPED_TRACE(kind);
    FakeClock clock;
    RecordingSpiCtl ctl(kind);
    ctl.AnswerStatus(0x05, {0x00});
    SFPA programmer;
    programmer.SetDevice(Row("M25P80"));
    ASSERT_TRUE(programmer.Write(&ctl, 0x1F0, 600, kSource.data()));
    std::vector<uint8_t> data;
    for (const std::vector<uint8_t>& t : ctl.SentPerTransaction()) {
      if (t[0] == 0x02) data.insert(data.end(), t.begin() + 4, t.end());
    }
    EXPECT_EQ(data, std::vector<uint8_t>(kSource.begin(), kSource.begin() + 600));
    if (expected.empty()) expected = ctl.Transactions();
    EXPECT_EQ(ctl.Transactions(), expected);
  }
}

}  // namespace
