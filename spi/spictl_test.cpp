// SPDX-License-Identifier: MIT
#include "spi/spictl.h"

#include <gtest/gtest.h>

namespace {

// A controller whose only behaviour is the common one, with its flags in the
// test's hands; every transfer it accepts past the readiness check counts.
class BareController : public SPICTL {
 public:
  void Force(uint32_t mask) { flags.SetFlags(mask); }
  uint32_t Flags() const { return flags.Word(); }
  int calls = 0;

  bool Setup(int32_t*) override { return false; }
  bool Open(int32_t*) override { return false; }
  void Close() override {}
  bool EnableSpi(bool, int32_t*) override { return false; }
  bool SetSelect(bool, int32_t* out) override { return Touch(out); }
  bool SetPort(int, int32_t*) override { return true; }
  bool SetSpiMode(uint32_t, int, int32_t* out) override { return Touch(out); }
  bool SetSpeed(uint32_t, int32_t* out) override { return Touch(out); }
  bool PutByte(uint8_t, uint8_t*, int32_t* out) override { return Touch(out); }
  bool PutSelect(int32_t, uint8_t, uint8_t, const uint8_t*, uint8_t*, int32_t* out) override {
    return Touch(out);
  }
  bool Put(int32_t, const uint8_t*, uint8_t*, int32_t* out) override { return Touch(out); }
  bool Get(int32_t, uint8_t, uint8_t*, int32_t* out) override { return Touch(out); }

 private:
  bool Touch(int32_t* out) {
    if (!CheckReady()) return false;
    ++calls;
    *out = 0;
    return true;
  }
};

TEST(FlagSet, SetTestClearReset) {
  FLAGSET f;
  EXPECT_FALSE(f.TestFlags(0xFFFFFFFFu));
  f.SetFlags(SPIF_OPEN | SPIF_ENABLED);
  EXPECT_TRUE(f.TestFlags(SPIF_OPEN));
  EXPECT_TRUE(f.TestFlags(SPIF_ENABLED | SPIF_LIBS));  // any bit of the mask
  EXPECT_FALSE(f.TestFlags(SPIF_LIBS));
  f.ClearFlags(SPIF_OPEN | SPIF_LIBS);
  EXPECT_EQ(f.Word(), SPIF_ENABLED);
  f.ResetFlags();
  EXPECT_EQ(f.Word(), 0u);
}

struct ReadinessCase {
  uint32_t flags;
  bool ready;
  int32_t lastError;
};

class Readiness : public testing::TestWithParam<ReadinessCase> {};

TEST_P(Readiness, TransfersStopAtTheCheckAndLeaveTheCallersErrorAlone) {
  const ReadinessCase c = GetParam();
  BareController ctl;
  ctl.Force(c.flags);
  int32_t err = 1234;
  uint8_t rx[4] = {};
  const uint8_t tx[4] = {};
  const bool results[] = {
      ctl.Put(4, tx, rx, &err),          ctl.Get(4, 0, rx, &err),
      ctl.PutByte(0, rx, &err),          ctl.SetSelect(true, &err),
      ctl.SetSpiMode(0, 0, &err),        ctl.SetSpeed(1000000, &err),
      ctl.PutSelect(4, 0, 1, tx, rx, &err),
  };
  for (bool r : results) EXPECT_EQ(r, c.ready);
  EXPECT_EQ(ctl.GetError(), c.lastError);
  EXPECT_EQ(err, c.ready ? 0 : 1234);
  EXPECT_EQ(ctl.calls, c.ready ? 7 : 0);
}

INSTANTIATE_TEST_SUITE_P(States, Readiness,
                         testing::Values(ReadinessCase{0, false, SPIERR_NOT_OPEN},
                                         ReadinessCase{SPIF_ENABLED, false, SPIERR_NOT_OPEN},
                                         ReadinessCase{SPIF_OPEN, false, SPIERR_NOT_ENABLED},
                                         ReadinessCase{SPIF_OPEN | SPIF_ENABLED, true, 0}));

TEST(SpiCtl, LastErrorIsNeverClearedBySuccess) {
  BareController ctl;
  EXPECT_FALSE(ctl.CheckReady());
  ctl.Force(SPIF_OPEN | SPIF_ENABLED);
  EXPECT_TRUE(ctl.CheckReady());
  EXPECT_EQ(ctl.GetError(), SPIERR_NOT_OPEN);
}

TEST(SpiCtl, SetDeviceNameKeepsAPrivateCopyOfTheLastName) {
  BareController ctl;
  char name[] = "first";
  const char* stored = ctl.SetDeviceName(name);
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(stored, name);
  name[0] = 'X';
  EXPECT_STREQ(ctl.GetDeviceName(), "first");
  EXPECT_STREQ(ctl.SetDeviceName("second"), "second");
  EXPECT_STREQ(ctl.GetDeviceName(), "second");
}

TEST(SpiCtl, TermTwiceIsHarmless) {
  BareController ctl;
  ctl.SetDeviceName("dev");
  ctl.Term();
  EXPECT_EQ(ctl.GetDeviceName(), nullptr);
  ctl.Term();
  EXPECT_EQ(ctl.GetDeviceName(), nullptr);
}

TEST(SpiCtl, FreshControllerState) {
  BareController ctl;
  EXPECT_EQ(ctl.GetKind(), SPIKIND_NONE);
  EXPECT_FALSE(ctl.IsOpen());
  EXPECT_FALSE(ctl.IsSpiEnabled());
  EXPECT_FALSE(ctl.IsSelected());
  EXPECT_FALSE(ctl.IsReserved());
  EXPECT_EQ(ctl.GetSpeed(), 0u);
  EXPECT_EQ(ctl.GetXferLimit(), 0u);
  EXPECT_EQ(ctl.GetError(), 0);
}

}  // namespace
