#include "flash/sfprg.h"

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
using testsupport::SpiCall;

TEST(GenericProgrammer, StartsWithAZeroIdAndTakesItsSizeFromTheRow) {
  SFPRG generic;
  EXPECT_EQ(generic.GetDevice().id[0], 0);
  EXPECT_EQ(generic.GetSize(), 0u);
  generic.SetDevice(Row("M25P128"));
  EXPECT_EQ(generic.GetSize(), 16777216u);
  EXPECT_STREQ(generic.GetDevice().name, "M25P128");
}

TEST(GenericProgrammer, RefusesEverythingButReadIdWithoutTraffic) {
  SFPRG generic;
  generic.SetDevice(Row("M25P80"));
  RecordingSpiCtl ctl;
  uint8_t data[16] = {};
  uint8_t status = 0;
  EXPECT_FALSE(generic.ProgramPage(&ctl, 0, 16, data));
  EXPECT_FALSE(generic.ReadStatus(&ctl, &status));
  EXPECT_FALSE(generic.WaitReady(&ctl));
  EXPECT_FALSE(generic.EraseSector(&ctl, 0));
  EXPECT_FALSE(generic.EraseAll(&ctl));
  EXPECT_FALSE(generic.EraseRange(&ctl, 0, 16));
  EXPECT_FALSE(generic.Read(&ctl, 0, 16, data));
  EXPECT_FALSE(generic.BeginWrite(&ctl));
  EXPECT_FALSE(generic.Write(&ctl, 0, 16, data));
  EXPECT_FALSE(generic.EndWrite(&ctl));
  EXPECT_TRUE(ctl.Calls().empty());
  EXPECT_TRUE(generic.Init());
}

TEST(ReadId, IsOneGeneralTransactionWithEveryKindOfController) {
  for (uint32_t kind : {SPIKIND_NONE, SPIKIND_RT1, SPIKIND_RT2}) {
    SCOPED_TRACE(kind);
    RecordingSpiCtl ctl(kind);
    ctl.Answer(0x9F, {0x20, 0xBA, 0x18});
    SFPRG generic;
    uint8_t id[3] = {};
    ASSERT_TRUE(generic.ReadId(&ctl, id));
    EXPECT_EQ(ctl.Transactions(), Lines{"9F 00 00 00"});
    EXPECT_EQ(ctl.CallShapes(), (Lines{"select", "put 4 rx", "release"}));
    EXPECT_EQ(id[0], 0x20);
    EXPECT_EQ(id[1], 0xBA);
    EXPECT_EQ(id[2], 0x18);
  }
}

struct FailedIdCase {
  size_t failingCall;
  Lines shapes;
  int32_t spiError;  // the code of the step that failed
};

class ReadIdFailure : public testing::TestWithParam<FailedIdCase> {};

TEST_P(ReadIdFailure, StillReleasesTheChipAndLeavesTheDestinationAlone) {
  const FailedIdCase c = GetParam();
  RecordingSpiCtl ctl;
  ctl.Answer(0x9F, {0x20, 0x20, 0x14});
  ctl.FailCall(c.failingCall, 4018);
  SFPRG generic;
  uint8_t id[3] = {0xAA, 0xBB, 0xCC};
  EXPECT_FALSE(generic.ReadId(&ctl, id));
  EXPECT_EQ(ctl.CallShapes(), c.shapes);
  EXPECT_EQ(id[0], 0xAA);
  EXPECT_EQ(id[1], 0xBB);
  EXPECT_EQ(id[2], 0xCC);
  EXPECT_EQ(generic.GetSpiError(), c.spiError);
}

INSTANTIATE_TEST_SUITE_P(EachStep, ReadIdFailure,
                         // A failed step skips the transfers after it, never the release.
                         testing::Values(FailedIdCase{0, {"select !failed", "release"}, 4018},
                                         FailedIdCase{1, {"select", "put 4 rx !failed", "release"}, 4018},
                                         FailedIdCase{2, {"select", "put 4 rx", "release !failed"}, 4018}));

struct ReadCase {
  const char* row;
  uint32_t start;
  int32_t length;
};

class ReadData : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadData, DeliversWhatTheChipClocksOutAndNoMore) {
  const ReadCase& c = GetParam();
  RecordingSpiCtl ctl;
  const std::vector<uint8_t> chip = Pattern(static_cast<size_t>(c.length), 0x33);
  ctl.Answer(0x03, chip, 4);
  std::vector<uint8_t> destination(chip.size() + 1, 0xEE);
  ASSERT_TRUE(ProgrammerFor(Row(c.row))->Read(&ctl, c.start, c.length, destination.data()));
  EXPECT_TRUE(std::equal(chip.begin(), chip.end(), destination.begin()));
  EXPECT_EQ(destination.back(), 0xEE);
}

INSTANTIATE_TEST_SUITE_P(CommandSets, ReadData,
                         testing::Values(ReadCase{"M25P80", 0x12345, 65536},
                                         ReadCase{"AT45DB081", 1000, 10}));

// The ready rule of a row, through the inherited WaitReady of its programmer.
struct ReadyCase {
  const char* row;
  uint8_t status;
  bool ready;
};

class ReadyRule : public testing::TestWithParam<ReadyCase> {
 protected:
  FakeClock clock;
};

TEST_P(ReadyRule, TestsOnlyTheBusyBits) {
  const ReadyCase c = GetParam();
  const FLASHDEV& row = Row(c.row);
  RecordingSpiCtl ctl;
  ctl.AnswerStatus(StatusOpcode(row), {c.status, row.readyValue});
  ASSERT_TRUE(ProgrammerFor(row)->WaitReady(&ctl));
  const std::string poll = row.type == FLASHTYPE_DATAFLASH ? "D7 poll" : "05 poll";
  EXPECT_EQ(ctl.Transactions(), Lines{c.ready ? poll : poll + " x2"});
}

INSTANTIATE_TEST_SUITE_P(Statuses, ReadyRule,
                         testing::Values(ReadyCase{"M25P80", 0x00, true}, ReadyCase{"M25P80", 0x02, true},
                                         ReadyCase{"N25Q128", 0xFE, true}, ReadyCase{"M25P80", 0x01, false},
                                         ReadyCase{"M25P128", 0x03, false}, ReadyCase{"M25P80", 0xFF, false},
                                         ReadyCase{"AT45DB081", 0x80, true},
                                         ReadyCase{"AT45DB081", 0xFF, true},
                                         ReadyCase{"AT45DB081", 0x00, false},
                                         ReadyCase{"AT45DB081", 0x7F, false}));

// Time for the status polls: the fake clock moves only when the chip is
// asked for its status, so the tests control exactly when a deadline passes.
constexpr SFPRG::WaitLimits kShort = {10, 20, 30, 40};

class StatusWait : public testing::Test {
 protected:
  /// A controller whose chip answers `statuses` and whose every status read
  /// takes `msPerPoll`.
  void Chip(const FLASHDEV& row, std::vector<uint8_t> statuses, uint32_t msPerPoll) {
    const uint8_t opcode = StatusOpcode(row);
    ctl.AnswerStatus(opcode, std::move(statuses));
    ctl.OnCall([opcode, msPerPoll](const SpiCall& call) {
      if (!call.sent.empty() && call.sent[0] == opcode) FakeClock::Advance(msPerPoll);
    });
  }

  size_t Polls() const {
    size_t n = 0;
    for (const std::vector<uint8_t>& t : ctl.SentPerTransaction())
      n += t.size() == 2 && (t[0] == 0x05 || t[0] == 0xD7);
    return n;
  }

  const ScopedWaitLimits shortWaits{kShort};
  FakeClock clock{1000};
  RecordingSpiCtl ctl;
};

struct StuckCase {
  const char* what;
  const char* row;
  Operation operation;
  uint32_t limitMs;
};

class StuckChip : public StatusWait, public testing::WithParamInterface<StuckCase> {};

// One poll a millisecond: the poll begun once more than the limit has passed
// is the last, so the count of polls shows which limit the operation used.
TEST_P(StuckChip, FailsOnceItsOwnLimitHasPassed) {
  const StuckCase& c = GetParam();
  const FLASHDEV& row = Row(c.row);
  Chip(row, {static_cast<uint8_t>(row.readyValue ^ row.busyMask)}, 1);
  EXPECT_FALSE(c.operation(*ProgrammerFor(row), &ctl));
  EXPECT_EQ(Polls(), c.limitMs + 2);
  EXPECT_EQ(FakeClock::Slept(), 0u);  // polled back to back
}

INSTANTIATE_TEST_SUITE_P(
    Operations, StuckChip,
    testing::Values(StuckCase{"page program", "M25P80", WriteOf(0, 16), kShort.pageProgramMs},
                    StuckCase{"sector erase", "M25P80", EraseRangeOf(0, 16), kShort.sectorEraseMs},
                    StuckCase{"bulk erase", "M25P80", EraseAll, kShort.chipEraseMs},
                    StuckCase{"a wait of unknown length", "M25P80",
                              [](SFPRG& p, SPICTL* c) { return p.WaitReady(c); }, kShort.chipEraseMs},
                    StuckCase{"DataFlash page program", "AT45DB081", WriteOf(264, 264), kShort.pageProgramMs},
                    StuckCase{"DataFlash page to buffer", "AT45DB081", WriteOf(1000, 10),
                              kShort.pageTransferMs},
                    StuckCase{"DataFlash chip erase", "AT45DB081", EraseAll, kShort.chipEraseMs}),
    [](const testing::TestParamInfo<StuckCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

struct LateCase {
  std::vector<uint8_t> statuses;
  bool ready;
  size_t polls;
};

class LateReady : public StatusWait, public testing::WithParamInterface<LateCase> {};

// Every poll takes longer than the whole limit: the first starts in time,
// the second starts after the deadline and is the last chance.
TEST_P(LateReady, ReadsOnceMoreAfterTheDeadline) {
  const LateCase& c = GetParam();
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  Chip(programmer.GetDevice(), c.statuses, 1000);
  EXPECT_EQ(programmer.WaitReady(&ctl), c.ready);
  EXPECT_EQ(Polls(), c.polls);
}

INSTANTIATE_TEST_SUITE_P(Polls, LateReady,
                         testing::Values(LateCase{{0x00}, true, 1}, LateCase{{0x01, 0x00}, true, 2},
                                         LateCase{{0x01, 0x01, 0x00}, false, 2}));

TEST_F(StatusWait, MeasuresTimeAcrossTheTickCountWrapping) {
  FakeClock::Advance(0xFFFFFFF0u - FakeClock::Now());
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  std::vector<uint8_t> statuses(25, 0x01);  // busy across the wrap, within the limit
  statuses.push_back(0x00);
  Chip(programmer.GetDevice(), statuses, 1);
  EXPECT_TRUE(programmer.WaitReady(&ctl));
  EXPECT_EQ(Polls(), 26u);
}

TEST_F(StatusWait, AFailedStatusReadEndsTheWait) {
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  Chip(programmer.GetDevice(), {0x01}, 0);
  ctl.FailCall(4);  // the second poll's transfer
  EXPECT_FALSE(programmer.WaitReady(&ctl));
  EXPECT_EQ(ctl.Transactions(), (Lines{"05 poll", "05 poll !failed"}));
}

}  // namespace
