// SPDX-License-Identifier: MIT
// The in-process controller over a simulated interface device.
#include "testsupport/sim_spictl.h"

#include <gtest/gtest.h>

#include <vector>

#include "testsupport/sim_frames.h"

namespace testsupport {
namespace {

class SimSpiCtlTest : public ::testing::Test {
 protected:
  void Use(SimConfig config, uint32_t kind) {
    sim_ = MakeSim(config);
    ASSERT_TRUE(sim_);
    ctl_ = std::make_unique<SimSpiCtl>(*sim_, kind);
  }

  std::unique_ptr<SimInterface> sim_;
  std::unique_ptr<SimSpiCtl> ctl_;
  int32_t out_ = -1;
};

TEST_F(SimSpiCtlTest, BringUpGrantsTheDeviceClock) {
  Use({.chip = "M25P80"}, SPIKIND_RT2);
  ASSERT_TRUE(ctl_->BringUp());
  EXPECT_EQ(ctl_->GetSpeed(), 30'000'000u);
  EXPECT_EQ(ctl_->GetKind(), SPIKIND_RT2);
  EXPECT_EQ(sim_->Stats().calls, 4u);  // open, enable, mode, clock
}

TEST_F(SimSpiCtlTest, PutSelectIsOneCallForAWholeTransaction) {
  Use({.chip = "M25P80"}, SPIKIND_RT2);
  ASSERT_TRUE(ctl_->BringUp());
  const uint64_t calls = sim_->Stats().calls;
  const std::vector<uint8_t> wren = {0x06};
  std::vector<uint8_t> status = {0x05, 0x00};
  ASSERT_TRUE(ctl_->PutSelect(1, 0, 1, wren.data(), nullptr, &out_));
  ASSERT_TRUE(ctl_->PutSelect(2, 0, 1, status.data(), status.data(), &out_));
  EXPECT_EQ(status[1], 0x02);
  EXPECT_EQ(out_, 0);
  EXPECT_EQ(sim_->Stats().calls - calls, 2u);
  EXPECT_EQ(sim_->Stats().selects, 2u);
}

TEST_F(SimSpiCtlTest, FirstGenerationKindHasNoPutSelect) {
  Use({.chip = "M25P80"}, SPIKIND_RT1);
  ASSERT_TRUE(ctl_->BringUp());
  const uint8_t wren = 0x06;
  EXPECT_FALSE(ctl_->PutSelect(1, 0, 1, &wren, nullptr, &out_));
  EXPECT_EQ(out_, -1);
  EXPECT_EQ(sim_->Stats().bytes, 0u);
}

TEST_F(SimSpiCtlTest, SelectPutAndGetFrameACommand) {
  Use({.chip = "N25Q128"}, SPIKIND_RT1);
  ASSERT_TRUE(ctl_->BringUp());
  const uint8_t rdid = 0x9F;
  std::vector<uint8_t> id(3);
  ASSERT_TRUE(ctl_->SetSelect(true, &out_));
  ASSERT_TRUE(ctl_->Put(1, &rdid, nullptr, &out_));
  ASSERT_TRUE(ctl_->Get(3, 0x00, id.data(), &out_));
  ASSERT_TRUE(ctl_->SetSelect(false, &out_));
  EXPECT_EQ(id, HexBytes("20 BA 18"));
}

TEST_F(SimSpiCtlTest, FailedCallReportsAndTouchesNothing) {
  Use({.chip = "M25P80", .failCall = 5}, SPIKIND_RT2);  // open, enable, mode, clock, then this Put
  ASSERT_TRUE(ctl_->BringUp());
  const uint8_t wren = 0x06;
  EXPECT_FALSE(ctl_->Put(1, &wren, nullptr, &out_));
  EXPECT_EQ(out_, SPIERR_CALL_FAILED);
  EXPECT_EQ(sim_->Stats().bytes, 0u);
  EXPECT_TRUE(ctl_->Put(1, &wren, nullptr, &out_));
  EXPECT_EQ(out_, 0);
}

TEST_F(SimSpiCtlTest, FailedOpenIsAConnectError) {
  Use({.chip = "M25P80", .failCall = 1}, SPIKIND_RT2);
  EXPECT_FALSE(ctl_->Open(&out_));
  EXPECT_EQ(out_, SPIERR_CONNECT);
  EXPECT_FALSE(ctl_->IsOpen());
}

TEST_F(SimSpiCtlTest, TransfersNeedAnOpenEnabledController) {
  Use({.chip = "M25P80"}, SPIKIND_RT2);
  const uint8_t wren = 0x06;
  EXPECT_FALSE(ctl_->Put(1, &wren, nullptr, &out_));
  EXPECT_EQ(ctl_->GetError(), SPIERR_NOT_OPEN);
  ASSERT_TRUE(ctl_->Open(&out_));
  EXPECT_FALSE(ctl_->SetSelect(true, &out_));
  EXPECT_EQ(ctl_->GetError(), SPIERR_NOT_ENABLED);
  EXPECT_EQ(out_, 0);
  EXPECT_EQ(sim_->Stats().calls, 1u);
}

}  // namespace
}  // namespace testsupport
