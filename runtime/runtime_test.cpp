// SPDX-License-Identifier: MIT
// The runtime libraries through the adapters that load them, over the simulator.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "flash/sfprg.h"
#include "platform/platform.h"
#include "runtime/runtime_api.h"
#include "spi/spirt1.h"
#include "spi/spirt2.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::ReadFile;
using testsupport::ScratchDir;

class Runtime : public testing::Test {
 protected:
  void SetUp() override { platform::SetRuntimeFolder(testsupport::BuildDir().c_str()); }
  void TearDown() override { platform::SetRuntimeFolder(nullptr); }
};

// Loads and brings up a controller as the application does.
template <typename Ctl>
bool BringUp(Ctl& ctl, const std::string& name, int32_t* out) {
  bool loaded;
  if constexpr (std::is_same_v<Ctl, SPIRT2>) {
    loaded = ctl.Init(false, out);
  } else {
    loaded = ctl.Init(nullptr, out);
  }
  ctl.SetDeviceName(name.c_str());
  return loaded && ctl.Open(out) && ctl.SetPort(0, out) && ctl.EnableSpi(true, out) && ctl.SetSpiMode(0, 0, out) &&
         ctl.SetSpeed(50000000, out);
}

template <typename Ctl>
void ShutDown(Ctl& ctl) {
  int32_t out = 0;
  ctl.SetSelect(false, &out);
  ctl.EnableSpi(false, &out);
  ctl.Close();
  ctl.Term();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

template <typename Ctl>
class BothGenerations : public Runtime {};
using Controllers = testing::Types<SPIRT2, SPIRT1>;
TYPED_TEST_SUITE(BothGenerations, Controllers);

TYPED_TEST(BothGenerations, ReadsTheSimulatedChipsIdentification) {
  for (const char* name : {"sim:M25P80", "sim:n25q128", "sim:AT45DB081"}) {
    TypeParam ctl;
    int32_t out = -1;
    ASSERT_TRUE(BringUp(ctl, name, &out)) << name << " err " << out;
    SFPRG generic;
    uint8_t id[3] = {};
    EXPECT_TRUE(generic.ReadId(&ctl, id)) << name;
    const std::vector<uint8_t> got(id, id + 3);
    const std::string chip = name;
    const std::vector<uint8_t> expected = chip == "sim:M25P80"    ? std::vector<uint8_t>{0x20, 0x20, 0x14}
                                          : chip == "sim:n25q128" ? std::vector<uint8_t>{0x20, 0xBA, 0x18}
                                                                  : std::vector<uint8_t>{0x1F, 0x25, 0x00};
    EXPECT_EQ(got, expected) << name;
    ShutDown(ctl);
  }
}

// The program clocks the bus idle with chip select released while a chip
// works: the chip must see none of those bytes (06 would set its latch).
TYPED_TEST(BothGenerations, ClocksWithChipSelectReleasedReachNoChip) {
  TypeParam ctl;
  int32_t out = -1;
  ASSERT_TRUE(BringUp(ctl, "sim:M25P80", &out));
  const uint8_t writeEnable = 0x06;
  if (ctl.GetKind() == SPIKIND_RT2) {
    ASSERT_TRUE(ctl.PutSelect(1, 1, 1, &writeEnable, nullptr, &out));
  } else {
    ASSERT_TRUE(ctl.SetSelect(false, &out));
    ASSERT_TRUE(ctl.Put(1, &writeEnable, nullptr, &out));
    ASSERT_TRUE(ctl.SetSelect(false, &out));
  }
  const uint8_t readStatus[2] = {0x05, 0x00};
  uint8_t status[2] = {};
  ASSERT_TRUE(ctl.SetSelect(true, &out));
  ASSERT_TRUE(ctl.Put(2, readStatus, status, &out));
  ASSERT_TRUE(ctl.SetSelect(false, &out));
  EXPECT_EQ(status[1] & 0x02, 0) << "the write-enable latch was set";
  ShutDown(ctl);
}

TYPED_TEST(BothGenerations, NamesThatDoNotOpenAreConnectFailures) {
  for (const char* name : {"M25P80", "sim:NOSUCHCHIP", "sim:M25P80,bogus", "sim:M25P80,id=XYZ"}) {
    TypeParam ctl;
    int32_t out = -1;
    EXPECT_FALSE(BringUp(ctl, name, &out)) << name;
    EXPECT_EQ(out, SPIERR_CONNECT) << name;
    EXPECT_FALSE(ctl.IsOpen());
    ShutDown(ctl);
  }
}

TYPED_TEST(BothGenerations, TheNthBusCallFailsAndNoOther) {
  // Select, transfer, release: the second bus call of the identification is the transfer.
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  TypeParam ctl;
  int32_t out = -1;
  ASSERT_TRUE(BringUp(ctl, "sim:M25P80,fail=2,trace=" + trace, &out));
  SFPRG generic;
  uint8_t id[3] = {1, 2, 3};
  EXPECT_FALSE(generic.ReadId(&ctl, id));
  EXPECT_EQ(id[0], 1);  // untouched
  EXPECT_EQ(generic.GetSpiError(), SPIERR_CALL_FAILED);  // the failed transfer's, not the release's
  EXPECT_TRUE(generic.ReadId(&ctl, id));
  EXPECT_EQ(id[2], 0x14);
  ShutDown(ctl);
  int failed = 0;
  for (const std::string& line : Lines(ReadFile(trace))) failed += line.find("-> FAIL") != std::string::npos;
  EXPECT_EQ(failed, 1) << ReadFile(trace);
}

TEST_F(Runtime, TraceShowsEachCallOnceAndTheRunSummary) {
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  const std::string name = "sim:M25P80,trace=" + trace;
  SPIRT2 ctl;
  int32_t out = -1;
  ASSERT_TRUE(BringUp(ctl, name, &out));
  SFPRG generic;
  uint8_t id[3];
  ASSERT_TRUE(generic.ReadId(&ctl, id));
  ShutDown(ctl);
  const std::vector<std::string> lines = Lines(ReadFile(trace));
  ASSERT_EQ(lines.size(), 10u) << ReadFile(trace);
  const std::vector<std::string> calls(lines.begin(), lines.end() - 1);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "1 open " + name + " -> ok",
                       "2 SerEnable(port=0) -> ok",
                       "3 SerSetMode(mode=0,0) -> ok",
                       "4 SerSetClock(hz=50000000) granted 30000000 -> ok",
                       "5 SerSetSelect(level=0) -> ok",
                       "6 SerXfer(select=0,0, n=4) tx 9F 00 00 00 rx FF 20 20 14 -> ok",
                       "7 SerSetSelect(level=1) -> ok [x2]",  // the shut-down releases select again
                       "9 SerDisable() -> ok",
                       "10 HubClose() -> ok",
                   }));
  EXPECT_EQ(lines.back().rfind("summary: bus-calls=4 bytes=4 selects=1 modelled=", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find("ops: read id=1 cs=high config-reset=released"), std::string::npos)
      << lines.back();
}

// The first generation sets mode and clock in one runtime call: one call,
// one trace line, one number.
TEST_F(Runtime, FirstGenerationModeAndClockAreOneTracedCall) {
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  SPIRT1 ctl;
  int32_t out = -1;
  ASSERT_TRUE(BringUp(ctl, "sim:M25P80,trace=" + trace, &out));
  ShutDown(ctl);
  const std::vector<std::string> lines = Lines(ReadFile(trace));
  ASSERT_GE(lines.size(), 5u) << ReadFile(trace);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
            (std::vector<std::string>{"2 PlEnable(port=0) -> ok",
                                      "3 PlSetMode(mode=0,0, hz=0) granted 915 -> ok",
                                      "4 PlSetMode(mode=0,0, hz=50000000) granted 30000000 -> ok",
                                      "5 PlSetSelect(level=1) -> ok"}));
}

TEST_F(Runtime, SummaryFileHoldsTheTracesSummaryLineAlone) {
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  const std::string summary = dir.File("summary.txt");
  SPIRT2 ctl;
  int32_t out = -1;
  ASSERT_TRUE(BringUp(ctl, "sim:M25P80,trace=" + trace + ",summary=" + summary, &out));
  SFPRG generic;
  uint8_t id[3];
  ASSERT_TRUE(generic.ReadId(&ctl, id));
  ShutDown(ctl);
  EXPECT_EQ(Lines(ReadFile(summary)), std::vector<std::string>{Lines(ReadFile(trace)).back()});
}

TEST_F(Runtime, ConfigResetAndCapabilities) {
  for (const bool noCaps : {false, true}) {
    ScratchDir dir;
    const std::string trace = dir.File("trace.txt");
    SPIRT2 ctl;
    int32_t out = -1;
    ASSERT_TRUE(BringUp(ctl, std::string("sim:M25P16,trace=") + trace + (noCaps ? ",nocaps" : ""), &out));
    uint32_t caps = 0xFF;
    EXPECT_TRUE(ctl.GetMgmtCaps(&caps, &out));
    EXPECT_EQ(caps, noCaps ? 0u : 2u);
    EXPECT_EQ(ctl.ConfigReset(true, &out), !noCaps);
    ShutDown(ctl);
    const std::string summary = Lines(ReadFile(trace)).back();
    EXPECT_NE(summary.find(noCaps ? "config-reset=released" : "config-reset=left asserted"), std::string::npos)
        << summary;
  }
}

// The window limit, an optional entry point of each generation, straight
// from the libraries: the simulator carries windows of any length (0).
TEST_F(Runtime, WindowLimitEntryPoints) {
  const auto load = [](const char* dll) {
    return platform::LoadModule(
        platform::JoinPath(testsupport::BuildDir().c_str(), platform::ModuleFileName(dll).c_str()).c_str());
  };
  platform::Module core = load(RT2_DEVICE_LIBRARY), serial = load(RT2_SPI_LIBRARY), first = load(RT1_LIBRARY);
  ASSERT_TRUE(core && serial && first);
  const auto hubOpen = reinterpret_cast<HubOpenFn>(platform::FindEntry(core, "HubOpen"));
  const auto hubClose = reinterpret_cast<HubCloseFn>(platform::FindEntry(core, "HubClose"));
  const auto serLimit = reinterpret_cast<SerGetWindowLimitFn>(platform::FindEntry(serial, RT2_WINDOW_LIMIT_ENTRY));
  const auto plOpen = reinterpret_cast<PlOpenFn>(platform::FindEntry(first, "PlOpen"));
  const auto plClose = reinterpret_cast<PlCloseFn>(platform::FindEntry(first, "PlClose"));
  const auto plLimit = reinterpret_cast<PlGetWindowLimitFn>(platform::FindEntry(first, RT1_WINDOW_LIMIT_ENTRY));
  ASSERT_TRUE(hubOpen && hubClose && serLimit && plOpen && plClose && plLimit);
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  uint32_t hif = 0, bytes = 1;
  int32_t status = -1;
  ASSERT_TRUE(hubOpen(&hif, ("sim:M25P80,trace=" + trace).c_str()));
  EXPECT_TRUE(serLimit(hif, &bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_FALSE(serLimit(hif, nullptr));
  EXPECT_TRUE(hubClose(hif));
  EXPECT_EQ(Lines(ReadFile(trace))[1], "2 SerGetWindowLimit() 0 -> ok");
  bytes = 1;
  ASSERT_TRUE(plOpen(&hif, "sim:M25P80", &status, 0));
  EXPECT_TRUE(plLimit(hif, &bytes, &status, 0));
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(plLimit(hif + 1000, &bytes, &status, 0));  // no such interface
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(plClose(hif, &status));
  for (platform::Module module : {first, serial, core}) platform::FreeModule(module);
}

TEST_F(Runtime, ChipContentsPersistInTheImageFile) {
  ScratchDir dir;
  const std::string image = dir.File("chip.bin");
  const std::string name = "sim:M25P80,image=" + image;
  {
    SPIRT2 ctl;
    int32_t out = -1;
    ASSERT_TRUE(BringUp(ctl, name, &out));
    ShutDown(ctl);
  }
  const std::string contents = ReadFile(image);
  EXPECT_EQ(contents, std::string(1048576, '\xFF'));  // created erased
  testsupport::WriteFile(image, "short");
  SPIRT2 ctl;
  int32_t out = -1;
  EXPECT_FALSE(BringUp(ctl, name, &out));  // a file of another size is refused
  ShutDown(ctl);
}

TEST_F(Runtime, ProtectionAndFlipKeysReachTheChip) {
  SPIRT2 ctl;
  int32_t out = -1;
  ASSERT_TRUE(BringUp(ctl, "sim:M25P80,protect=0x84,wp,flip=0x10", &out));
  auto frame = [&](std::vector<uint8_t> tx) {
    std::vector<uint8_t> rx(tx.size());
    EXPECT_TRUE(ctl.PutSelect(static_cast<int32_t>(tx.size()), 0, 1, tx.data(), rx.data(), &out));
    return rx;
  };
  frame({0x06});
  frame({0x01, 0x00});
  EXPECT_EQ(frame({0x05, 0x00})[1], 0x86);  // SRWD with W# low: the write was refused, the latch stays
  frame({0x02, 0x00, 0x00, 0x10, 0x00});
  for (int poll = 0; poll < 100 && (frame({0x05, 0x00})[1] & 0x01); ++poll) {
  }
  EXPECT_EQ(frame({0x03, 0x00, 0x00, 0x10, 0x00})[4], 0x01);  // the flip address dropped bit 0
  ShutDown(ctl);
}

}  // namespace
