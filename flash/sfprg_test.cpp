// SPDX-License-Identifier: MIT
#include "flash/sfprg.h"

#include <gtest/gtest.h>

#include <cstdio>
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
  WriteProtection protection;
  EXPECT_FALSE(generic.ReadProtection(&ctl, &protection));
  EXPECT_FALSE(generic.ClearProtection(&ctl));
  EXPECT_FALSE(generic.RewriteUnit(&ctl, 0, data, data, true));
  EXPECT_EQ(generic.GetEraseUnit(), 0u);
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
  // A wait of unknown length idles between polls, as a whole-chip erase does.
  EXPECT_EQ(ctl.Transactions(), c.ready ? Lines{poll} : (Lines{poll, "idle 125", poll}));
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
// The rows get short maxima, so that the bounds (twice the maximum plus
// 100 ms) stay a few hundred polls long.
FLASHDEV Quick(const char* name) {
  FLASHDEV row = Row(name);
  row.programMaxUs = 5000;         // bound 110 ms
  row.programNoEraseMaxUs = 6000;  // 112 ms
  row.transferMaxUs = 200;         // 100 ms
  row.eraseTypes[0].maxUs = 10000;  // 120 ms
  row.eraseAllMaxUs = 20000;       // 140 ms
  row.writeStatusMaxUs = 15000;    // 130 ms
  return row;
}

class StatusWait : public testing::Test {
 protected:
  /// A controller whose chip answers `statuses` and whose every status read
  /// takes `msPerPoll`. With no clock set, an idle clocking is 125 bytes:
  /// a millisecond at the 1 MHz assumed.
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

  size_t Idles() const {
    size_t n = 0;
    for (const std::string& line : ctl.Transactions()) {
      if (line == "idle 125") ++n;
      if (line.rfind("idle 125 x", 0) == 0) n += std::stoul(line.substr(10));
    }
    return n;
  }

  FakeClock clock{1000};
  RecordingSpiCtl ctl;
};

struct StuckCase {
  const char* what;
  const char* row;
  Operation operation;
  FlashOp op;
  uint32_t boundMs;
  bool idles;  // clocks the bus idle between polls
};

class StuckChip : public StatusWait, public testing::WithParamInterface<StuckCase> {};

// One poll a millisecond: the poll begun once more than the bound has passed
// is the last, so the count of polls shows which bound the operation used.
TEST_P(StuckChip, FailsOnceItsOwnBoundHasPassed) {
  const StuckCase& c = GetParam();
  const FLASHDEV row = Quick(c.row);
  Chip(row, {static_cast<uint8_t>(row.readyValue ^ row.busyMask)}, 1);
  std::unique_ptr<SFPRG> programmer = ProgrammerFor(row);
  EXPECT_FALSE(c.operation(*programmer, &ctl));
  EXPECT_EQ(Polls(), c.boundMs + 2);
  EXPECT_EQ(Idles(), c.idles ? c.boundMs + 1 : 0);
  EXPECT_EQ(FakeClock::Slept(), 0u);
  EXPECT_EQ(programmer->LastWait().op, c.op);
  EXPECT_EQ(programmer->LastWait().boundMs, c.boundMs);
  EXPECT_EQ(programmer->LastWait().end, SFPRG::WaitEnd::kTimedOut);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, StuckChip,
    testing::Values(StuckCase{"page program", "M25P80", WriteOf(0, 16), FlashOp::kPageProgram, 110, false},
                    StuckCase{"sector erase", "M25P80", EraseRangeOf(0, 16), FlashOp::kSectorErase, 120, true},
                    StuckCase{"bulk erase", "M25P80", EraseAll, FlashOp::kBulkErase, 140, true},
                    StuckCase{"status register write", "N25Q128", ClearProtection, FlashOp::kWriteStatus, 130,
                              true},
                    StuckCase{"a wait of unknown length", "M25P80",
                              [](SFPRG& p, SPICTL* c) { return p.WaitReady(c); }, FlashOp::kBulkErase, 140, true},
                    StuckCase{"DataFlash page program", "AT45DB081", WriteOf(264, 264), FlashOp::kPageProgram,
                              110, false},
                    StuckCase{"DataFlash page program without erase", "AT45DB081",
                              RewriteOf(264, kUnitDataOnePageChanged + 264, kUnitData + 264, false),
                              FlashOp::kPageProgramNoErase, 112, false},
                    StuckCase{"DataFlash page to buffer", "AT45DB081", WriteOf(1000, 10), FlashOp::kPageToBuffer,
                              100, false},
                    StuckCase{"DataFlash chip erase", "AT45DB081", EraseAll, FlashOp::kChipErase, 140, true}),
    [](const testing::TestParamInfo<StuckCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (ch == ' ') ch = '_';
      }
      return name;
    });

// The bounds of the real rows: twice the datasheet maximum plus 100 ms.
TEST_F(StatusWait, BoundsComeFromTheDeviceRow) {
  SFPA programmer;
  programmer.SetDevice(Row("M25P128"));
  Chip(programmer.GetDevice(), {0x01}, 1000);
  EXPECT_FALSE(programmer.EraseSector(&ctl, 0));
  EXPECT_EQ(programmer.LastWait().boundMs, 12100u);  // 6 s at most
  ctl.ClearLog();
  EXPECT_FALSE(programmer.EraseAll(&ctl));
  EXPECT_EQ(programmer.LastWait().boundMs, 500100u);  // 250 s
}

struct LateCase {
  std::vector<uint8_t> statuses;
  bool ready;
  size_t polls;
};

class LateReady : public StatusWait, public testing::WithParamInterface<LateCase> {};

// Every poll takes longer than the whole bound: the first starts in time,
// the second starts after the deadline and is the last chance.
TEST_P(LateReady, ReadsOnceMoreAfterTheDeadline) {
  const LateCase& c = GetParam();
  SFPA programmer;
  programmer.SetDevice(Quick("M25P80"));
  Chip(programmer.GetDevice(), c.statuses, 1000);
  EXPECT_EQ(programmer.ProgramPage(&ctl, 0, 1, kSource.data()), c.ready);
  EXPECT_EQ(Polls(), c.polls);
}

INSTANTIATE_TEST_SUITE_P(Polls, LateReady,
                         testing::Values(LateCase{{0x00}, true, 1}, LateCase{{0x01, 0x00}, true, 2},
                                         LateCase{{0x01, 0x01, 0x00}, false, 2}));

TEST_F(StatusWait, MeasuresTimeAcrossTheTickCountWrapping) {
  FakeClock::Advance(0xFFFFFFF0u - FakeClock::Now());
  SFPA programmer;
  programmer.SetDevice(Quick("M25P80"));
  std::vector<uint8_t> statuses(25, 0x01);  // busy across the wrap, within the bound
  statuses.push_back(0x00);
  Chip(programmer.GetDevice(), statuses, 1);
  EXPECT_TRUE(programmer.ProgramPage(&ctl, 0, 1, kSource.data()));
  EXPECT_EQ(Polls(), 26u);
}

TEST_F(StatusWait, AFailedStatusReadEndsTheWait) {
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  Chip(programmer.GetDevice(), {0x01}, 0);
  ctl.FailCall(11);  // the second poll's transfer
  EXPECT_FALSE(programmer.ProgramPage(&ctl, 0, 1, kSource.data()));
  EXPECT_EQ(ctl.Transactions(), (Lines{"06", "02 00 00 00 +1", "05 poll", "05 poll !failed"}));
  EXPECT_EQ(programmer.LastWait().end, SFPRG::WaitEnd::kFailed);
}

// Against a simulated chip, whose time moves only with the bus traffic, the
// idle clockings are what lets an erase finish; the wait counts their time
// even though no real time passes.
TEST_F(StatusWait, IdleTimeCountsTowardsTheBound) {
  FLASHDEV row = Quick("M25P80");
  SFPA programmer;
  programmer.SetDevice(row);
  Chip(row, {0x01}, 0);
  EXPECT_FALSE(programmer.EraseSector(&ctl, 0));
  EXPECT_EQ(Polls(), 122u);
  EXPECT_EQ(Idles(), 121u);
}

// Idle clockings keep chip select released: a PutSelect that leaves the line
// high with a second-generation controller, a Put outside any select period
// with any other. At 30 MHz a millisecond is 3,750 bytes.
TEST(IdleClocking, KeepsChipSelectReleasedAtTheCurrentClock) {
  for (uint32_t kind : {SPIKIND_RT1, SPIKIND_RT2}) {
    SCOPED_TRACE(kind);
    FakeClock clock;
    RecordingSpiCtl ctl(kind);
    int32_t error = 0;
    ASSERT_TRUE(ctl.SetSpeed(30000000, &error));
    ctl.ClearLog();
    ctl.AnswerStatus(0x05, {0x03, 0x03, 0x00});
    SFPA programmer;
    programmer.SetDevice(Row("M25P80"));
    ASSERT_TRUE(programmer.EraseSector(&ctl, 0x10000));
    EXPECT_EQ(ctl.Transactions(),
              (Lines{"06", "D8 01 00 00", "05 poll", "idle 3750", "05 poll", "idle 3750", "05 poll"}));
    const std::string idle = kind == SPIKIND_RT2 ? "putselect 3750 high" : "put 3750";
    EXPECT_EQ(ctl.CallShapes().at(kind == SPIKIND_RT2 ? 3 : 9), idle);
  }
}

// The observer hears of every busy status read; it sees the typical time of
// a whole-chip erase, and can give the wait up.
class Watcher : public WaitObserver {
 public:
  explicit Watcher(size_t giveUpAfter) : giveUpAfter_(giveUpAfter) {}
  bool MayStartCommand() override { return commandsAllowed-- > 0; }
  bool StillBusy(FlashOp op, uint32_t elapsedMs, uint32_t typicalMs) override {
    calls.push_back({op, elapsedMs, typicalMs});
    return calls.size() < giveUpAfter_;
  }
  struct Call {
    FlashOp op;
    uint32_t elapsedMs;
    uint32_t typicalMs;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> calls;
  int commandsAllowed = 1000;

 private:
  size_t giveUpAfter_;
};

TEST_F(StatusWait, TheObserverSeesEachBusyReadAndMayGiveUp) {
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  Chip(programmer.GetDevice(), {0x01}, 5);
  Watcher watcher(3);
  programmer.SetObserver(&watcher);
  EXPECT_FALSE(programmer.EraseAll(&ctl));
  EXPECT_EQ(programmer.LastWait().end, SFPRG::WaitEnd::kGivenUp);
  // 5 ms a poll and 1 ms an idle: the real time runs ahead.
  EXPECT_EQ(watcher.calls, (std::vector<Watcher::Call>{{FlashOp::kBulkErase, 0, 8000},
                                                       {FlashOp::kBulkErase, 5, 8000},
                                                       {FlashOp::kBulkErase, 10, 8000}}));
  EXPECT_EQ(Polls(), 3u);  // nothing more after the observer gave up
  EXPECT_EQ(Idles(), 2u);

  Watcher pages(100);
  programmer.SetObserver(&pages);
  ctl.ClearLog();
  ctl.AnswerStatus(0x05, {0x01, 0x00});
  EXPECT_TRUE(programmer.ProgramPage(&ctl, 0, 16, kSource.data()));
  EXPECT_EQ(pages.calls, (std::vector<Watcher::Call>{{FlashOp::kPageProgram, 0, 0}}));
}

// Once the observer wants the work to end, the command in flight and its
// wait finish, and nothing new starts: not the next page's write enable,
// nor a read's next command.
TEST_F(StatusWait, NoNewCommandStartsOnceTheObserverWantsTheWorkToEnd) {
  SFPA programmer;
  programmer.SetDevice(Row("M25P80"));
  Chip(programmer.GetDevice(), {0x01, 0x00}, 1);
  Watcher watcher(100);
  programmer.SetObserver(&watcher);
  watcher.commandsAllowed = 2;  // the first page's write enable and program
  const std::vector<uint8_t> data(600, 0x5A);
  EXPECT_FALSE(programmer.Write(&ctl, 0x1F0, 600, data.data()));
  EXPECT_EQ(programmer.LastWait().end, SFPRG::WaitEnd::kGivenUp);
  std::vector<std::string> opcodes;
  for (const std::vector<uint8_t>& t : ctl.SentPerTransaction()) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", t[0]);
    opcodes.push_back(hex);
  }
  EXPECT_EQ(opcodes, (std::vector<std::string>{"06", "02", "05", "05"}));

  ctl.ClearLog();
  watcher.commandsAllowed = 0;
  std::vector<uint8_t> into(16);
  EXPECT_FALSE(programmer.Read(&ctl, 0, 16, into.data()));
  EXPECT_TRUE(ctl.SentPerTransaction().empty());
}

TEST(FlashOpNames, SayWhatTimedOut) {
  EXPECT_STREQ(FlashOpName(FlashOp::kSectorErase), "sector erase");
  EXPECT_STREQ(FlashOpName(FlashOp::kBulkErase), "bulk erase");
  EXPECT_STREQ(FlashOpName(FlashOp::kChipErase), "chip erase");
  EXPECT_STREQ(FlashOpName(FlashOp::kWriteStatus), "status register write");
}

}  // namespace
