// SPDX-License-Identifier: MIT
#include "testsupport/recording_spictl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/fake_clock.h"
#include "platform/platform.h"

namespace testsupport {
namespace {

using Lines = std::vector<std::string>;

TEST(RecordingSpiCtl, RendersSelectPeriodsInTheChipsTerms) {
  RecordingSpiCtl ctl(SPIKIND_RT2);
  ctl.AnswerStatus(0x05, {0x01});
  int32_t err = -1;
  const uint8_t header[4] = {0x02, 0x00, 0x01, 0xF0};
  const uint8_t data[16] = {};
  const uint8_t status[2] = {0x05, 0x00};
  uint8_t rx[300];
  ctl.SetSelect(true, &err);
  ctl.Put(4, header, nullptr, &err);
  ctl.Put(16, data, nullptr, &err);
  ctl.SetSelect(false, &err);
  for (int i = 0; i < 3; ++i) ctl.PutSelect(2, 0, 1, status, rx, &err);
  ctl.SetSelect(true, &err);
  ctl.Put(4, header, nullptr, &err);
  ctl.Get(300, 0x55, rx, &err);
  ctl.SetSelect(true, &err);
  ctl.PutByte(0x06, rx, &err);
  ctl.SetSelect(false, &err);
  ctl.Put(2, status, rx, &err);
  ctl.SetSelect(true, &err);
  ctl.SetSpeed(1000000, &err);
  EXPECT_EQ(ctl.Transactions(), (Lines{"02 00 01 F0 +16", "05 poll x3", "02 00 01 F0 +300 of 55 !no release", "06",
                                       "unselected 05 poll", "speed 1000000", "(empty) !no release"}));
  EXPECT_EQ(ctl.CallShapes()[4], "putselect 2 rx");
  EXPECT_EQ(err, 0);
}

TEST(RecordingSpiCtl, AnswersIdentificationStatusAndData) {
  RecordingSpiCtl ctl;
  ctl.Answer(0x9F, {0x20, 0xBA, 0x18});
  ctl.Answer(0x03, {0x11, 0x22}, 4);
  ctl.AnswerStatus(0xD7, {0x00, 0x80});
  int32_t err;
  const uint8_t id[4] = {0x9F, 0, 0, 0};
  const uint8_t read[4] = {0x03, 0, 0, 0};
  const uint8_t status[2] = {0xD7, 0};
  uint8_t rx[4];
  const auto exchange = [&](const uint8_t* tx, int32_t n) {
    ctl.SetSelect(true, &err);
    ctl.Put(n, tx, rx, &err);
  };
  exchange(id, 4);
  EXPECT_EQ(std::vector<uint8_t>(rx, rx + 4), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
  exchange(read, 4);
  ctl.Get(3, 0x00, rx, &err);
  EXPECT_EQ(std::vector<uint8_t>(rx, rx + 3), (std::vector<uint8_t>{0x11, 0x22, 0xFF}));
  std::vector<uint8_t> statuses;
  for (int i = 0; i < 3; ++i) {
    exchange(status, 2);
    statuses.push_back(rx[1]);
  }
  EXPECT_EQ(statuses, (std::vector<uint8_t>{0x00, 0x80, 0x80}));
}

TEST(RecordingSpiCtl, FailsTheScriptedCallAndRefusesWhenNotReady) {
  RecordingSpiCtl ctl;
  ctl.FailCall(1, 4018);
  int32_t err = 0;
  uint8_t rx[1] = {0x77};
  const uint8_t tx[1] = {0x9F};
  EXPECT_TRUE(ctl.SetSelect(true, &err));
  EXPECT_FALSE(ctl.Put(1, tx, rx, &err));
  EXPECT_EQ(err, 4018);
  EXPECT_EQ(rx[0], 0x77);
  EXPECT_TRUE(ctl.SetSelect(false, &err));
  EXPECT_EQ(err, 0);
  EXPECT_EQ(ctl.Transactions(), Lines{"9F !failed"});

  RecordingSpiCtl closed(SPIKIND_RT1, false);
  err = 1234;
  EXPECT_FALSE(closed.Put(1, tx, rx, &err));
  EXPECT_EQ(err, 1234);
  EXPECT_EQ(closed.GetError(), SPIERR_NOT_OPEN);
  EXPECT_EQ(closed.CallShapes(), Lines{"put 1 rx !failed"});
}

TEST(FakeClock, StandsInForTheTickAndTheSleeper) {
  FakeClock clock(100, 5);
  EXPECT_EQ(platform::GetTickCount(), 100u);
  EXPECT_EQ(platform::GetTickCount(), 105u);
  platform::Sleep(50);
  FakeClock::Advance(1);
  EXPECT_EQ(platform::GetTickCount(), 161u);
  EXPECT_EQ(FakeClock::Slept(), 50u);
}

}  // namespace
}  // namespace testsupport
