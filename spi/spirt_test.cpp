// SPDX-License-Identifier: MIT
// The runtime adapters against a recording runtime laid out in test folders.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "spi/spirt1.h"
#include "spi/spirt2.h"

namespace {

const std::string kRt = TESTRT;

// The recording runtime's log, read through its own accessors. Holding it
// keeps the library loaded, so tests of library release do without it.
class RuntimeLog {
 public:
  RuntimeLog() : module_(platform::LoadModule((kRt + "/lib/librw_recording_rt.so").c_str())) {
    log_ = reinterpret_cast<const char* (*)()>(platform::FindEntry(module_, "RecLog"));
    reset_ = reinterpret_cast<void (*)()>(platform::FindEntry(module_, "RecReset"));
    fail_ = reinterpret_cast<void (*)(const char*)>(platform::FindEntry(module_, "RecFail"));
    reset_();
  }
  ~RuntimeLog() {
    reset_();
    platform::FreeModule(module_);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(log_());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  void Clear() { reset_(); }
  void Fail(const char* entry) { fail_(entry); }

 private:
  platform::Module module_;
  const char* (*log_)() = nullptr;
  void (*reset_)() = nullptr;
  void (*fail_)(const char*) = nullptr;
};

class Runtime : public testing::Test {
 protected:
  void UseFolder(const std::string& name) { platform::SetRuntimeFolder((kRt + "/" + name).c_str()); }
  void TearDown() override { platform::SetRuntimeFolder(nullptr); }
};

struct InitCase {
  const char* folder;
  bool ok;
  int32_t out;
};

class Rt2Init : public Runtime, public testing::WithParamInterface<InitCase> {};

TEST_P(Rt2Init, LoadsAllThreeOrReleasesWhatItLoaded) {
  const InitCase c = GetParam();
  UseFolder(c.folder);
  SPIRT2 ctl;
  int32_t out = -1;
  EXPECT_EQ(ctl.Init(false, &out), c.ok);
  EXPECT_EQ(out, c.out);
  const std::string recording = kRt + "/lib/librw_recording_rt.so";
  EXPECT_EQ(platform::ModuleIsLoaded(recording.c_str()), c.ok);
  for (const char* name : {"libhubcore.so", "libserlink.so", "libhubadmin.so"}) {
    const std::string inFolder = kRt + "/" + c.folder + "/" + name;
    if (!c.ok) {
      EXPECT_FALSE(platform::ModuleIsLoaded(inFolder.c_str())) << inFolder;
    }
  }
  ctl.Term();
  EXPECT_FALSE(platform::ModuleIsLoaded(recording.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Rt2Init,
    testing::Values(InitCase{"full", true, 0},
                    InitCase{"nohubcore", true, 0},  // the device manager found by bare name
                    InitCase{"noclock", false, SPIERR_ENTRY_POINT},  // never called, still required
                    InitCase{"nohubadmin", false, SPIERR_NO_LIBRARY},
                    InitCase{"gen1only", false, SPIERR_NO_LIBRARY},
                    InitCase{"nonexistent", false, SPIERR_NO_LIBRARY}));

TEST_F(Runtime, Rt1InitFindsItsLibraryOrSaysWhy) {
  struct Case {
    const char* folder;
    bool ok;
    int32_t out;
  };
  for (const Case c : {Case{"gen1only", true, 0}, Case{"full", true, 0}, Case{"nohubcore", false, SPIERR_NO_LIBRARY},
                       Case{"incomplete1", false, SPIERR_ENTRY_POINT}}) {
    UseFolder(c.folder);
    SPIRT1 ctl;
    int32_t out = -1;
    EXPECT_EQ(ctl.Init(nullptr, &out), c.ok) << c.folder;
    EXPECT_EQ(out, c.out) << c.folder;
    const std::string path = kRt + "/" + c.folder + "/libportlink.so";
    // A library without every entry point stays loaded until Term.
    EXPECT_EQ(platform::ModuleIsLoaded(path.c_str()), c.out != SPIERR_NO_LIBRARY) << c.folder;
    ctl.Term();
    EXPECT_FALSE(platform::ModuleIsLoaded(path.c_str())) << c.folder;
  }
}

TEST_F(Runtime, Rt1InitWithAModuleLoadsAndReleasesNothing) {
  RuntimeLog log;
  const std::string path = kRt + "/lib/librw_recording_rt.so";
  platform::Module module = platform::LoadModule(path.c_str());
  UseFolder("nonexistent");
  SPIRT1 ctl;
  int32_t out = -1;
  EXPECT_TRUE(ctl.Init(module, &out));
  EXPECT_EQ(out, 0);
  ctl.Term();
  // Still loaded: the adapter did not take the module over.
  EXPECT_NE(platform::FindEntry(module, "PlOpen"), nullptr);
  platform::FreeModule(module);
}

using Lines = std::vector<std::string>;

TEST_F(Runtime, Rt2CallsEachEntryPointWithItsArgumentOrder) {
  UseFolder("full");
  RuntimeLog log;
  SPIRT2 ctl;
  int32_t out = -1;
  ASSERT_TRUE(ctl.Init(false, &out));
  ctl.SetDeviceName("dev0");
  const uint8_t tx[4] = {0x9F, 0, 0, 0};
  uint8_t rx[4] = {};
  uint8_t b = 0;
  uint32_t caps = 0;
  EXPECT_TRUE(ctl.Open(&out));
  EXPECT_EQ(ctl.GetXferLimit(), 4096u);
  EXPECT_TRUE(ctl.SetPort(2, &out));
  EXPECT_TRUE(ctl.EnableSpi(true, &out));
  EXPECT_TRUE(ctl.EnableSpi(true, &out));  // already enabled: no call
  EXPECT_TRUE(ctl.SetSpiMode(0, 0, &out));
  EXPECT_TRUE(ctl.SetSpeed(50000000, &out));
  EXPECT_EQ(ctl.GetSpeed(), 30000000u);  // what the runtime granted
  EXPECT_TRUE(ctl.SetSelect(true, &out));
  EXPECT_TRUE(ctl.Put(4, tx, rx, &out));
  EXPECT_EQ(rx[1], 0xA5);
  EXPECT_TRUE(ctl.Put(1, tx, nullptr, &out));
  EXPECT_TRUE(ctl.Get(2, 0x55, rx, &out));
  EXPECT_TRUE(ctl.PutByte(0x05, &b, &out));
  EXPECT_TRUE(ctl.SetSelect(false, &out));
  EXPECT_TRUE(ctl.PutSelect(2, 0, 1, tx, rx, &out));
  EXPECT_TRUE(ctl.GetMgmtCaps(&caps, &out));
  EXPECT_EQ(caps, 2u);
  EXPECT_TRUE(ctl.ConfigReset(true, &out));
  EXPECT_TRUE(ctl.ConfigReset(false, &out));
  EXPECT_TRUE(ctl.EnableSpi(false, &out));
  EXPECT_TRUE(ctl.EnableSpi(false, &out));  // already disabled: no call
  ctl.Close();
  ctl.Close();  // not open: no call
  ctl.Term();
  EXPECT_EQ(out, 0);
  EXPECT_EQ(log.Lines(), (Lines{
                             "HubOpen(&hif,dev0)",
                             "SerEnable(7,2)",
                             "SerSetMode(7,0,0)",
                             "SerSetClock(7,50000000,&granted)",
                             "SerSetSelect(7,0)",
                             "SerXfer(7,0,0,[9F 00 00 00],ptr,4,0)",
                             "SerXfer(7,0,0,[9F],null,1,0)",
                             "SerRead(7,0,0,[55],ptr,2,0)",
                             "SerXferByte(7,0,0,[05],ptr,0)",
                             "SerSetSelect(7,1)",
                             "SerXfer(7,0,1,[9F 00],ptr,2,0)",
                             "AdmGetCaps(7,&caps)",
                             "AdmConfigReset(7,1)",
                             "AdmConfigReset(7,0)",
                             "SerDisable(7)",
                             "HubClose(7)",
                         }));
}

TEST_F(Runtime, Rt1CallsEachEntryPointWithItsArgumentOrder) {
  UseFolder("gen1only");
  RuntimeLog log;
  SPIRT1 ctl;
  int32_t out = -1;
  ASSERT_TRUE(ctl.Init(nullptr, &out));
  ctl.SetDeviceName("dev1");
  const uint8_t tx[2] = {0x05, 0x00};
  uint8_t rx[2] = {};
  uint8_t b = 0;
  EXPECT_TRUE(ctl.Open(&out));
  EXPECT_TRUE(ctl.SetPort(5, &out));  // no port reaches this runtime
  EXPECT_TRUE(ctl.EnableSpi(true, &out));
  EXPECT_TRUE(ctl.SetSpiMode(0, 0, &out));
  EXPECT_TRUE(ctl.SetSpeed(50000000, &out));
  EXPECT_EQ(ctl.GetSpeed(), 50000000u);  // the request: nothing comes back
  EXPECT_TRUE(ctl.SetSpiMode(3, 1, &out));
  EXPECT_EQ(ctl.GetSpiMode(), 3u);
  EXPECT_EQ(ctl.GetLsbFirst(), 1u);
  EXPECT_TRUE(ctl.SetSelect(true, &out));
  EXPECT_TRUE(ctl.Put(2, tx, rx, &out));
  EXPECT_TRUE(ctl.Put(1, tx, nullptr, &out));
  EXPECT_TRUE(ctl.Get(2, 0x00, rx, &out));
  EXPECT_TRUE(ctl.PutByte(0x9F, &b, &out));
  EXPECT_TRUE(ctl.SetSelect(false, &out));
  out = 1234;
  EXPECT_FALSE(ctl.PutSelect(2, 0, 1, tx, rx, &out));  // not offered, on a ready controller too
  EXPECT_EQ(out, 1234);
  EXPECT_TRUE(ctl.EnableSpi(false, &out));
  ctl.Close();
  ctl.Term();
  EXPECT_EQ(log.Lines(), (Lines{
                             "PlOpen(&hif,dev1,ptr,0)",
                             "PlEnable(7,ptr,0)",
                             "PlSetMode(7,0,0,0,ptr,0)",  // bring-up sets the mode before the clock
                             "PlSetMode(7,0,0,50000000,ptr,0)",
                             "PlSetMode(7,3,1,50000000,ptr,0)",
                             "PlSetSelect(7,0,ptr,0)",
                             "PlXfer(7,2,[05 00],ptr,ptr,0)",
                             "PlXfer(7,1,[05],null,ptr,0)",
                             "PlRead(7,2,[00],ptr,ptr,0)",
                             "PlXferByte(7,[9F],ptr,ptr,0)",
                             "PlSetSelect(7,1,ptr,0)",
                             "PlDisable(7,ptr,0)",
                             "PlClose(7,ptr)",
                         }));
}

// Brings a controller of either generation up to enabled against the full folder.
template <typename Ctl>
bool BringUp(Ctl& ctl, int32_t* out) {
  bool ok;
  if constexpr (std::is_same_v<Ctl, SPIRT2>) {
    ok = ctl.Init(false, out);
  } else {
    ok = ctl.Init(nullptr, out);
  }
  ctl.SetDeviceName("dev");
  return ok && ctl.Open(out) && ctl.EnableSpi(true, out);
}

template <typename Ctl>
class Generations : public Runtime {};
using Controllers = testing::Types<SPIRT2, SPIRT1>;
TYPED_TEST_SUITE(Generations, Controllers);

TYPED_TEST(Generations, RefusedOpenAndEnableAreConnectFailures) {
  this->UseFolder("full");
  for (const char* entry : {"HubOpen", "SerEnable", "PlOpen", "PlEnable"}) {
    RuntimeLog log;
    log.Fail(entry);
    TypeParam ctl;
    int32_t out = 0;
    const bool up = BringUp(ctl, &out);
    const bool concerns = std::is_same_v<TypeParam, SPIRT2> == (entry[0] != 'P');
    EXPECT_EQ(up, !concerns) << entry;
    EXPECT_EQ(out, concerns ? SPIERR_CONNECT : 0) << entry;
    EXPECT_FALSE(ctl.IsSpiEnabled() && concerns) << entry;
    ctl.Term();
  }
}

TYPED_TEST(Generations, RefusedTransfersAreCallFailures) {
  this->UseFolder("full");
  RuntimeLog log;
  TypeParam ctl;
  int32_t out = 0;
  ASSERT_TRUE(BringUp(ctl, &out));
  for (const char* entry : {"SerXfer", "SerRead", "SerSetSelect", "SerSetClock", "PlXfer", "PlRead",
                            "PlSetSelect", "PlSetMode"}) {
    log.Fail(entry);
  }
  const uint8_t tx[1] = {0};
  uint8_t rx[1];
  for (bool ok : {ctl.Put(1, tx, rx, &out), ctl.Get(1, 0, rx, &out), ctl.SetSelect(true, &out),
                  ctl.SetSpeed(1000000, &out)}) {
    EXPECT_FALSE(ok);
  }
  EXPECT_EQ(out, SPIERR_CALL_FAILED);
  ctl.Term();
}

TYPED_TEST(Generations, ShutDownIsSafeInEveryState) {
  this->UseFolder("full");
  RuntimeLog log;
  int32_t out = 1234;
  {
    TypeParam fresh;  // never initialised
    EXPECT_FALSE(fresh.SetSelect(false, &out));
    EXPECT_TRUE(fresh.EnableSpi(false, &out));
    fresh.Close();
    fresh.Term();
    fresh.Term();
  }
  {
    log.Fail("HubOpen");
    log.Fail("PlOpen");
    TypeParam refused;
    EXPECT_FALSE(BringUp(refused, &out));
    log.Clear();
    EXPECT_FALSE(refused.SetSelect(false, &out));
    EXPECT_TRUE(refused.EnableSpi(false, &out));
    refused.Close();
    refused.Term();
    EXPECT_TRUE(log.Lines().empty());
  }
  EXPECT_EQ(out, SPIERR_CONNECT);
}

TYPED_TEST(Generations, OpenButNotEnabledTouchesNothing) {
  this->UseFolder("full");
  RuntimeLog log;
  TypeParam ctl;
  int32_t out = 0;
  ASSERT_TRUE(BringUp(ctl, &out));
  ASSERT_TRUE(ctl.EnableSpi(false, &out));
  log.Clear();
  const uint32_t speed = ctl.GetSpeed();
  out = 1234;
  const uint8_t tx[1] = {0};
  uint8_t rx[1];
  EXPECT_FALSE(ctl.Put(1, tx, rx, &out));
  EXPECT_FALSE(ctl.SetSpeed(1000000, &out));
  EXPECT_FALSE(ctl.SetSelect(true, &out));
  EXPECT_EQ(out, 1234);
  EXPECT_EQ(ctl.GetError(), SPIERR_NOT_ENABLED);
  EXPECT_EQ(ctl.GetSpeed(), speed);
  EXPECT_TRUE(log.Lines().empty());
  ctl.Close();
  EXPECT_FALSE(ctl.Put(1, tx, rx, &out));
  EXPECT_EQ(ctl.GetError(), SPIERR_NOT_OPEN);
  ctl.Term();
}

TYPED_TEST(Generations, KindAndSetup) {
  TypeParam ctl;
  int32_t out = 1234;
  EXPECT_EQ(ctl.GetKind(), (std::is_same_v<TypeParam, SPIRT2> ? SPIKIND_RT2 : SPIKIND_RT1));
  EXPECT_FALSE(ctl.Setup(&out));
  EXPECT_EQ(out, 1234);
  EXPECT_FALSE(ctl.IsReserved());
}

}  // namespace
