// SPDX-License-Identifier: MIT
// The status-poll batcher with a planner the test scripts: the run of polls,
// its stock, the program's pauses and what is learned; then each device's
// planner, the batches it lays out.
#include "runtime/poll_batcher.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/ch341a_poll_planner.h"
#include "runtime/ftdi_poll_planner.h"

namespace {

PollStep S(uint64_t at) { return {.sample = true, .idleBytes = 0, .at = at, .programIdle = false}; }
PollStep I(uint64_t bytes, bool programIdle = false) {
  return {.sample = false, .idleBytes = bytes, .at = 0, .programIdle = programIdle};
}

// Plans the batch the test sets, and logs what the batcher tells it.
class ScriptedPlanner : public PollPlanner {
 public:
  uint32_t Key(uint8_t firstByte, size_t length) const override { return firstByte * 1000 + length; }
  void Begin(uint32_t key, uint64_t nowNs) override {
    log.push_back("begin " + std::to_string(key) + " at " + std::to_string(nowNs));
  }
  std::vector<PollStep> Plan(const PollRun& run, uint64_t) override {
    runs.push_back(run);
    return batch;
  }
  std::optional<uint64_t> Pause(uint64_t bytes, uint64_t answered) override {
    log.push_back("pause " + std::to_string(bytes) + " after " + std::to_string(answered));
    return pauseKeepsFrom;
  }
  void BackToBack() override { log.push_back("back to back"); }
  bool End(uint32_t key) override {
    log.push_back("end " + std::to_string(key));
    return learns;
  }

  std::vector<PollStep> batch;
  std::optional<uint64_t> pauseKeepsFrom;
  bool learns = true;
  std::vector<PollRun> runs;
  std::vector<std::string> log;
};

const uint8_t kStatus[2] = {0x05, 0x00};
const uint8_t kDataFlashStatus[2] = {0xD7, 0x00};

class Batcher : public testing::Test {
 protected:
  // Plans a batch of the scripted steps for `tx` and stocks its replies,
  // the status byte of sample i being `first` + i; the status it answers.
  int Batch(std::vector<PollStep> steps, const uint8_t* tx = kStatus, uint8_t first = 1) {
    planner.batch = std::move(steps);
    const std::vector<PollStep> plan = batcher.Plan(tx, 7);
    std::vector<std::array<uint8_t, 2>> replies;
    for (size_t i = 0; i < PollBatcher::Samples(plan); ++i) replies.push_back({0xFF, uint8_t(first + i)});
    uint8_t reply[2] = {};
    batcher.Stock(plan, replies, reply);
    return reply[1];
  }
  // The status the stock answers a read with, or -1.
  int Poll(const uint8_t* tx = kStatus) {
    uint8_t reply[2] = {};
    return batcher.Answer(tx, reply) ? reply[1] : -1;
  }

  ScriptedPlanner planner;
  PollBatcher batcher{planner};
};

TEST(StatusRead, IsATwoByteReadOfTheStatusRegister) {
  const uint8_t read03[2] = {0x03, 0x00};
  EXPECT_TRUE(PollBatcher::IsStatusRead(kStatus, 2));
  EXPECT_TRUE(PollBatcher::IsStatusRead(kDataFlashStatus, 2));
  EXPECT_FALSE(PollBatcher::IsStatusRead(kStatus, 3));
  EXPECT_FALSE(PollBatcher::IsStatusRead(read03, 2));
  EXPECT_FALSE(PollBatcher::IsStatusRead(nullptr, 2));
}

// The first sample answers the read that asked for the batch, the others the
// next polls in order; then a batch more of the same run.
TEST_F(Batcher, AnswersPollsFromTheStockInOrder) {
  batcher.NoteWindow(0x02, 260);
  EXPECT_EQ(Poll(), -1);
  EXPECT_EQ(Batch({S(10), I(31), S(47), I(31), S(84)}), 1);
  EXPECT_EQ(Poll(), 2);
  EXPECT_EQ(Poll(), 3);
  EXPECT_EQ(Poll(), -1);
  Batch({S(121)}, kStatus, 4);
  ASSERT_EQ(planner.runs.size(), 2u);
  EXPECT_EQ(planner.runs[0].key, 2260u);
  EXPECT_EQ(planner.runs[0].batches, 0u);
  EXPECT_EQ(planner.runs[1].batches, 1u);
  EXPECT_EQ(planner.log, std::vector<std::string>{"begin 2260 at 7"});
}

// The next run after the same kind of window is told where the last one
// found what it waited for; a run the planner says nothing is to be learned
// from leaves that as it was.
TEST_F(Batcher, LearnsWhereARunEndedForItsKindOfWindow) {
  batcher.NoteWindow(0x02, 260);
  Batch({S(10), S(16), S(22)});
  EXPECT_EQ(Poll(), 2);
  batcher.NoteWindow(0x02, 260);
  Batch({S(5)});
  batcher.NoteWindow(0xC7, 1);
  Batch({S(0)});
  EXPECT_EQ(planner.runs[1].learned, std::optional<uint64_t>(16));
  EXPECT_EQ(planner.runs[2].learned, std::nullopt);

  planner.learns = false;
  batcher.NoteWindow(0x02, 260);
  Batch({S(40)});
  batcher.EndRun();
  batcher.NoteWindow(0x02, 260);
  Batch({S(0)});
  EXPECT_EQ(planner.runs[4].learned, std::optional<uint64_t>(5));
}

// Another status read, or the end of the run, drops the stock.
TEST_F(Batcher, AnotherReadStartsAnotherRun) {
  batcher.NoteWindow(0x02, 4);
  Batch({S(0), S(6)});
  EXPECT_EQ(Poll(kDataFlashStatus), -1);
  EXPECT_EQ(Batch({S(0)}, kDataFlashStatus, 9), 9);
  EXPECT_EQ(Poll(), -1);
  EXPECT_EQ(planner.log, (std::vector<std::string>{"begin 2004 at 7", "end 2004", "begin 2004 at 7"}));
  Batch({S(0), S(6)});
  batcher.EndRun();
  EXPECT_EQ(Poll(), -1);
}

// A pause the batch repeats is answered from the stock; one it does not,
// the planner decides: here it must be clocked and the stock goes.
TEST_F(Batcher, AnswersThePausesTheBatchRepeats) {
  EXPECT_FALSE(batcher.AnswerIdle(100));
  Batch({S(0), I(100, true), S(106), I(100, true), S(212)});
  EXPECT_TRUE(batcher.AnswerIdle(100));
  EXPECT_EQ(Poll(), 2);
  EXPECT_FALSE(batcher.AnswerIdle(50));
  EXPECT_EQ(Poll(), -1);
  EXPECT_EQ(planner.log.back(), "pause 50 after 106");
}

TEST_F(Batcher, APollWhereTheBatchRepeatedAPauseDropsTheStock) {
  Batch({S(0), I(100, true), S(106)});
  EXPECT_EQ(Poll(), -1);
  EXPECT_EQ(planner.log.back(), "back to back");
  EXPECT_FALSE(batcher.AnswerIdle(100));
}

// A pause the planner lets the samples stand in for skips those it covers.
TEST_F(Batcher, APauseSkipsTheSamplesItCovers) {
  planner.pauseKeepsFrom = 50;
  Batch({S(10), S(40), S(60), S(70)});
  EXPECT_TRUE(batcher.AnswerIdle(12));
  EXPECT_EQ(Poll(), 3);
  EXPECT_EQ(planner.log.back(), "pause 12 after 10");
}

struct PlanCase {
  const char* label;
  std::vector<PollStep> expected;
};

// The CH341A's batches, in bus bytes (a sample counts 6): spread one SPI
// packet apart with nothing learned, twice as far in the next batch; two
// samples before a learned point and three from it; the program's pause
// repeated once it has made one.
TEST(Ch341aPlanner, LaysBatchesOutInBusBytes) {
  Ch341aPollPlanner planner(true);
  planner.Begin(1, 0);
  const std::vector<PollStep> first = planner.Plan({.key = 1, .batches = 0, .learned = std::nullopt}, 0);
  const std::vector<PollStep> second = planner.Plan({.key = 1, .batches = 1, .learned = std::nullopt}, 0);
  planner.Begin(2, 0);
  const std::vector<PollStep> learned = planner.Plan({.key = 2, .batches = 0, .learned = 100}, 0);
  planner.Begin(3, 0);
  EXPECT_EQ(planner.Pause(500, 0), std::nullopt);
  const std::vector<PollStep> mirrored = planner.Plan({.key = 3, .batches = 0, .learned = std::nullopt}, 0);
  EXPECT_EQ(first, (std::vector<PollStep>{S(0), I(31), S(37), I(31), S(74), I(31), S(111), I(31), S(148), I(31),
                                          S(185), I(31), S(222), I(31), S(259)}));
  EXPECT_EQ(second, (std::vector<PollStep>{I(62), S(327), I(62), S(395), I(62), S(463), I(62), S(531), I(62),
                                           S(599), I(62), S(667), I(62), S(735), I(62), S(803)}));
  EXPECT_EQ(learned, (std::vector<PollStep>{I(88), S(88), S(94), S(100), S(106), S(112)}));
  EXPECT_EQ(mirrored, (std::vector<PollStep>{S(0), I(500, true), S(506), I(500, true), S(1012), I(500, true),
                                             S(1518)}));

  Ch341aPollPlanner single(false);
  single.Begin(1, 0);
  EXPECT_EQ(single.Plan({.key = 1, .batches = 0, .learned = 100}, 0), std::vector<PollStep>{S(0)});
}

// An FTDI channel's batches, in nanoseconds at 30 MHz (267 ns a byte): with
// nothing learned the first sample at once and the batch spanning a round
// trip; a learned wait covered from 7/8 of it; a pause sets the earliest
// sample of the next batch.
TEST(FtdiPlanner, LaysBatchesOutInTime) {
  FtdiPollPlanner planner(4);
  planner.SetBusClock(30'000'000);
  planner.Begin(2, 1'000'000);
  // 125 us / 4 = 31.25 us: 117 bytes, 31.2 us; a sample's two bytes 533 ns.
  EXPECT_EQ(planner.Plan({.key = 2, .batches = 0, .learned = std::nullopt}, 1'000'000),
            (std::vector<PollStep>{S(0), I(117), S(31733), I(117), S(63466), I(117), S(95199)}));
  // 800 us learned: from 7/8 of it, 700 us, to 1/64 past it, the 112.5 us
  // shared by the 4 samples: 105 bytes, 28 us, apart.
  planner.Begin(2, 0);
  EXPECT_EQ(planner.Plan({.key = 2, .batches = 0, .learned = 800'000}, 0),
            (std::vector<PollStep>{I(2625), S(700000), I(105), S(728533), I(105), S(757066), I(105), S(785599)}));
  // A pause of 3750 bytes, 1 ms, after the last: the next batch, planned
  // 800 us into the run, waits until then (985.6 us, 3695 bytes).
  EXPECT_EQ(planner.Pause(3750, 785599), std::optional<uint64_t>(1785599));
  EXPECT_EQ(planner.Plan({.key = 2, .batches = 1, .learned = 800'000}, 800'000).front(), I(3695));
}

}  // namespace
