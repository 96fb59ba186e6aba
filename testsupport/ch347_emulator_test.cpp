// SPDX-License-Identifier: MIT
// The CH347 emulator's own rules: commands in, replies out, chip selects and
// GPIO pins, what the chip sees, time, and its faults.
#include "testsupport/ch347_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "testsupport/sim_frames.h"

namespace {

using testsupport::Ch347Emulator;
using testsupport::Ch347EmulatorConfig;
using testsupport::HexBytes;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    char text[4];
    std::snprintf(text, sizeof text, s.empty() ? "%02X" : " %02X", b);
    s += text;
  }
  return s;
}

// The settings as the backend sends them: mode 0, most significant bit
// first, divider 2 (15 MHz), default byte FF.
const std::string kSettings =
    "C0 1A 00 00 00 04 01 00 00 00 00 00 00 00 02 10 00 00 00 07 00 00 00 FF 00 00 00 00 00";
const std::string kSelect0 = "C1 0A 00 80 00 00 00 00 00 00 00 00 00";
const std::string kRelease0 = "C1 0A 00 C0 00 00 00 00 00 00 00 00 00";
const std::string kSelect1 = "C1 0A 00 00 00 00 00 00 80 00 00 00 00";

std::string Zeros(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += " 00";
  return s;
}

// The emulator, opened and claimed as the backend does, with an M25P80 on CS0.
class Ch347Device : public testing::Test {
 protected:
  void Open(Ch347EmulatorConfig config = {}) {
    config.sim.chip = "M25P80";
    std::string error;
    device = Ch347Emulator::Create(config, &error);
    ASSERT_TRUE(device) << error;
    std::vector<UsbDevicePlace> found;
    ASSERT_EQ(device->Find(0x1A86, config.model == 'F' ? 0x55DE : 0x55DB, &found), 0);
    ASSERT_EQ(found.size(), 1u);
    ASSERT_EQ(device->Open(found[0]), 0);
    ASSERT_EQ(device->ClaimInterface(config.model == 'F' ? 4 : 2), 0);
  }

  // Sends each OUT transfer and reads `replies` IN transfers of up to 510
  // bytes, all in flight at once; returns the replies and sets `status` to
  // how the last transfer ended.
  std::vector<std::string> Exchange(const std::vector<std::string>& outs, size_t replies,
                                    UsbTransferStatus* status = nullptr, size_t inLength = 510) {
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<UsbTransfer> transfers(outs.size() + replies);
    for (const std::string& hex : outs) buffers.push_back(HexBytes(hex));
    buffers.resize(outs.size() + replies, std::vector<uint8_t>(inLength));
    for (size_t i = 0; i < transfers.size(); ++i) {
      transfers[i] = {.endpoint = static_cast<uint8_t>(i < outs.size() ? 0x06 : 0x86),
                      .buffer = buffers[i].data(),
                      .length = static_cast<int>(buffers[i].size()),
                      .timeoutMs = 1000};
      EXPECT_EQ(device->Submit(&transfers[i]), 0);
    }
    for (int round = 0; round < 1000 && std::any_of(transfers.begin(), transfers.end(),
                                                    [](const UsbTransfer& t) { return t.active; });
         ++round) {
      device->HandleEvents(100);
    }
    std::vector<std::string> in;
    for (size_t i = outs.size(); i < transfers.size(); ++i) {
      if (transfers[i].status == UsbTransferStatus::kCompleted) {
        in.push_back(Hex({buffers[i].begin(), buffers[i].begin() + transfers[i].actualLength}));
      }
    }
    if (status && !transfers.empty()) *status = transfers.back().status;
    return in;
  }

  std::unique_ptr<Ch347Emulator> device;
};

struct RuleCase {
  const char* label;
  std::vector<std::string> outs;  // OUT transfers, one command each
  size_t replies;                 // IN transfers submitted
  std::vector<std::string> in;    // the replies
  std::vector<std::string> periods;
  size_t violations;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.label; }

class Ch347Rules : public Ch347Device, public testing::WithParamInterface<RuleCase> {};

TEST_P(Ch347Rules, CommandsInRepliesOutWhatTheChipSees) {
  const RuleCase& c = GetParam();
  Open();
  EXPECT_EQ(Exchange(c.outs, c.replies), c.in);
  EXPECT_EQ(device->SelectPeriods(), c.periods);
  EXPECT_EQ(device->Violations().size(), c.violations);
}

// 9F reads the M25P80's 20 20 14.
INSTANTIATE_TEST_SUITE_P(
    Table, Ch347Rules,
    testing::Values(
        RuleCase{"SettingsAreAnswered", {kSettings}, 1, {"C0 01 00 00"}, {}, 0},
        RuleCase{"ExchangeInASelectPeriod",
                 {kSettings, kSelect0, "C2 04 00 9F 00 00 00", kRelease0},
                 2,
                 {"C0 01 00 00", "C2 04 00 FF 20 20 14"},
                 {"9F 00 00 00"},
                 0},
        RuleCase{"WriteThenReadInOnePeriod",
                 {kSettings, kSelect0, "C4 04 00 03 00 00 00", "C3 04 00 03 00 00 00"},
                 3,
                 {"C0 01 00 00", "C4 01 00 00", "C3 03 00 FF FF FF"},
                 {"03 00 00 00 +3 (held)"},
                 0},
        RuleCase{"TheOtherChipSelectReachesNoChip",
                 {kSettings, kSelect1, "C2 01 00 9F"},
                 2,
                 {"C0 01 00 00", "C2 01 00 FF"},
                 {},
                 0},
        RuleCase{"LeastSignificantBitFirst",
                 {"C0 1A 00 00 00 04 01 00 00 00 00 00 00 00 02 10 00 80 00 07 00 00 00 FF 00 00 00 00 00", kSelect0,
                  "C2 02 00 F9 00"},
                 2,
                 {"C0 01 00 00", "C2 02 00 FF 04"},
                 {"9F 00 (held)"},
                 0},
        RuleCase{"GpioDrivenAndReadBack",
                 {"CC 08 00 00 00 00 F8 F0 00 00 00"},
                 1,
                 {"CC 08 00 40 40 40 C0 80 40 40 40"},
                 {},
                 0},
        RuleCase{"SpiBeforeTheSettings", {kSelect0, "C2 01 00 9F"}, 1, {}, {"(empty) (held)"}, 1},
        RuleCase{"UnknownCommand", {"A8 01 00 00"}, 1, {}, {}, 1},
        RuleCase{"TwoCommandsInOneTransfer", {kSettings + " " + kSelect0}, 1, {}, {}, 1},
        RuleCase{"LengthThatIsNotTheTransfers", {"C4 05 00 00 00"}, 1, {}, {}, 1},
        RuleCase{"ExchangeLongerThanOneReply", {kSettings, "C2 FC 01" + Zeros(508)}, 2,
                 {"C0 01 00 00"}, {}, 1},
        RuleCase{"SelectWithAnAutomaticRelease", {"C1 0A 00 A0 00 00 00 00 00 00 00 00 00"}, 0, {},
                 {"(empty) (held)"}, 1},
        RuleCase{"SettingsOfASlave",
                 {"C0 1A 00 00 00 00 00 00 00 00 00 00 00 00 02 10 00 00 00 07 00 00 00 FF 00 00 00 00 00"},
                 1,
                 {"C0 01 00 01"},
                 {},
                 1}),
    [](const testing::TestParamInfo<RuleCase>& info) { return info.param.label; });

// A read of 1,200 bytes comes back as replies of 507, 507 and 186 bytes.
TEST_F(Ch347Device, ReadRepliesCarry507BytesEach) {
  Open();
  const std::vector<std::string> in = Exchange({kSettings, kSelect0, "C3 04 00 B0 04 00 00"}, 4);
  ASSERT_EQ(in.size(), 4u);
  std::vector<size_t> sizes;
  for (const std::string& reply : in) sizes.push_back(HexBytes(reply).size());
  EXPECT_EQ(sizes, (std::vector<size_t>{4, 510, 510, 189}));
  EXPECT_EQ(in[3].substr(0, 8), "C3 BA 00");
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Ch347Device, HoldsFourRepliesThenTakesNoMoreCommands) {
  Open();
  UsbTransferStatus status;
  // The settings and five writes, and no IN transfer: four replies fill the
  // device, the fifth command waits until its time runs out.
  std::vector<std::string> commands(6, "C4 01 00 00");
  commands[0] = kSettings;
  Exchange(commands, 0, &status);
  EXPECT_EQ(status, UsbTransferStatus::kTimedOut);
  EXPECT_EQ(device->Commands().size(), 4u);
  EXPECT_EQ(Exchange({}, 4).size(), 4u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

// 125 µs, then each packet (30 bytes of protocol at 480 Mbit/s, 50/3 ns a
// byte, and 23 µs of the device's own), and the bytes at the clock.
TEST_F(Ch347Device, ModelsARoundTripPacketsAndTheBusClock) {
  Open();
  Exchange({kSettings}, 1);
  const uint64_t start = device->Sim().NowNs();
  Exchange({"C2 01 00 00"}, 1);
  const uint64_t expected = 125'000 + (4 + 30) * 50 / 3 + 23'000 + (4 + 30) * 50 / 3 + 23'000 + 8 * 1'000'000'000ull / 15'000'000;
  EXPECT_NEAR(static_cast<double>(device->Sim().NowNs() - start), static_cast<double>(expected), 2.0);
  EXPECT_EQ(device->RoundTrips(), 2u);
}

// At 60 MHz a read streams 507 bytes a reply in 99.6 µs: 4,971 KiB/s, the
// rate ch347-nor-prog measured (4,950 KB/s).
TEST_F(Ch347Device, ReadAt60MHzComesToThePublishedRate) {
  Open();
  Exchange({"C0 1A 00 00 00 04 01 00 00 00 00 00 00 00 02 00 00 00 00 07 00 00 00 FF 00 00 00 00 00"}, 1);
  EXPECT_EQ(device->ClockHz(), 60'000'000u);
  // 507 × 64 bytes, then twice as many: the difference is 64 replies
  // without the round trip and the command.
  uint64_t start = device->Sim().NowNs();
  Exchange({"C3 04 00 C0 7E 00 00"}, 64);
  const uint64_t once = device->Sim().NowNs() - start;
  start = device->Sim().NowNs();
  Exchange({"C3 04 00 80 FD 00 00"}, 128);
  const double seconds = static_cast<double>(device->Sim().NowNs() - start - once) / 1e9;
  EXPECT_NEAR(507 * 64 / seconds / 1024, 4971, 1);
}

TEST_F(Ch347Device, UnpluggedItEndsEveryTransferAndReleasesTheChip) {
  Ch347EmulatorConfig config;
  config.unplugAfter = 2;
  Open(config);
  UsbTransferStatus status;
  Exchange({kSettings, kSelect0, "C2 04 00 9F 00 00 00"}, 2, &status);
  EXPECT_EQ(status, UsbTransferStatus::kNoDevice);
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"(empty)"});
  UsbTransfer late{.endpoint = 0x06, .buffer = nullptr, .length = 1, .timeoutMs = 10};
  EXPECT_EQ(device->Submit(&late), kUsbErrorNoDevice);
}

TEST_F(Ch347Device, FaultyReplies) {
  struct Case {
    uint64_t Ch347EmulatorConfig::*fault;
    UsbTransferStatus status;
    std::string reply;
  };
  for (const Case& c : {Case{&Ch347EmulatorConfig::shortReply, UsbTransferStatus::kCompleted, "C0 01 00"},
                        Case{&Ch347EmulatorConfig::longReply, UsbTransferStatus::kOverflow, ""},
                        Case{&Ch347EmulatorConfig::strangeReply, UsbTransferStatus::kCompleted, "CA 01 00 00"}}) {
    Ch347EmulatorConfig config;
    config.*c.fault = 1;
    Open(config);
    UsbTransferStatus status;
    const std::vector<std::string> in = Exchange({kSettings}, 1, &status, 4);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(in, c.reply.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.reply});
  }
}

TEST_F(Ch347Device, MuteItAnswersNothingAndEveryTransferTimesOut) {
  Ch347EmulatorConfig config;
  config.muteAfter = 1;
  Open(config);
  UsbTransferStatus status;
  const uint64_t start = device->NowMs();
  Exchange({kSettings, "C2 01 00 00"}, 2, &status);
  EXPECT_EQ(status, UsbTransferStatus::kTimedOut);
  EXPECT_GE(device->NowMs() - start, 1000u);
}

TEST_F(Ch347Device, TheResetLineFollowsItsGpio) {
  Ch347EmulatorConfig config;
  config.resetGpio = 5;
  Open(config);
  Exchange({"CC 08 00 00 00 00 00 00 F0 00 00", "CC 08 00 00 00 00 00 00 F8 00 00",
            "CC 08 00 00 00 00 00 00 C0 00 00"},
           3);
  EXPECT_EQ(device->ResetLog(), (std::vector<std::string>{"asserted", "released"}));
}

TEST_F(Ch347Device, ModelsAndSerialNumbersAsLibusbShowsThem) {
  Ch347EmulatorConfig config;
  config.model = 'F';
  config.devices = 2;
  config.serials = {"A1", "B2"};
  config.sim.chip = "M25P80";
  std::string error;
  device = Ch347Emulator::Create(config, &error);
  ASSERT_TRUE(device) << error;
  std::vector<UsbDevicePlace> found;
  ASSERT_EQ(device->Find(0x1A86, 0x55DB, &found), 0);
  EXPECT_TRUE(found.empty());
  ASSERT_EQ(device->Find(0x1A86, 0x55DE, &found), 0);
  ASSERT_EQ(found.size(), 2u);
  std::string serial;
  ASSERT_EQ(device->Open(found[1]), 0);
  ASSERT_EQ(device->SerialNumber(&serial), 0);
  EXPECT_EQ(serial, "B2");
  EXPECT_EQ(device->ClaimInterface(2), kUsbErrorNotFound);  // the CH347T's
  EXPECT_EQ(device->ClaimInterface(4), 0);
}

TEST(Ch347EmulatorDescription, KeysAndMistakes) {
  std::string error;
  EXPECT_TRUE(Ch347Emulator::FromDescription(
      "chip=N25Q128,devices=2,model=F,serials=A/B,latency=250,deny,cs=1,reset=3:active-high,strange=9", &error))
      << error;
  EXPECT_FALSE(Ch347Emulator::FromDescription("chip=N25Q128,cs=2", &error));
  EXPECT_EQ(error, "CH347 emulator: bad item 'cs=2' in 'chip=N25Q128,cs=2'");
  EXPECT_FALSE(Ch347Emulator::FromDescription("chip=N25Q128,reset=8", &error));
  EXPECT_FALSE(Ch347Emulator::FromDescription("chip=NOPE", &error));
}

}  // namespace
