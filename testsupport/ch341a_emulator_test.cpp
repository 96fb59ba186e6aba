// SPDX-License-Identifier: MIT
// The CH341A emulator's own rules: packets in, bytes out, pin levels, what
// the chip sees, time, and its faults.
#include "testsupport/ch341a_emulator.h"

#include <gtest/gtest.h>

#include "testsupport/sim_frames.h"

namespace {

using testsupport::Ch341aEmulator;
using testsupport::Ch341aEmulatorConfig;
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

// The emulator, opened and claimed as the backend does, with an M25P80 on CS0.
class Emulator : public testing::Test {
 protected:
  void Open(Ch341aEmulatorConfig config = {}) {
    config.sim.chip = "M25P80";
    std::string error;
    device = Ch341aEmulator::Create(config, &error);
    ASSERT_TRUE(device) << error;
    std::vector<UsbDevicePlace> found;
    ASSERT_EQ(device->Find(0x1A86, 0x5512, &found), 0);
    ASSERT_EQ(found.size(), 1u);
    ASSERT_EQ(device->Open(found[0]), 0);
    ASSERT_EQ(device->ClaimInterface(0), 0);
  }

  // Sends each OUT transfer and reads `replies` IN packets of up to
  // `inLength` bytes, all in flight at once; returns the replies and sets
  // `status` to how the last transfer ended.
  std::vector<std::string> Exchange(const std::vector<std::string>& outs, size_t replies,
                                    UsbTransferStatus* status = nullptr, size_t inLength = 32) {
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<UsbTransfer> transfers(outs.size() + replies);
    for (const std::string& hex : outs) buffers.push_back(HexBytes(hex));
    buffers.resize(outs.size() + replies, std::vector<uint8_t>(inLength));
    for (size_t i = 0; i < transfers.size(); ++i) {
      transfers[i] = {.endpoint = static_cast<uint8_t>(i < outs.size() ? 0x02 : 0x82),
                      .buffer = buffers[i].data(),
                      .length = static_cast<int>(buffers[i].size()),
                      .timeoutMs = 1000};
      EXPECT_EQ(device->Submit(&transfers[i]), 0);
    }
    for (int round = 0; round < 100 && std::any_of(transfers.begin(), transfers.end(),
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

  std::unique_ptr<Ch341aEmulator> device;
};

struct RuleCase {
  const char* label;
  std::vector<std::string> outs;  // OUT transfers
  size_t replies;                 // IN transfers submitted
  std::vector<std::string> in;    // the replies
  std::vector<std::string> periods;
  uint8_t outputs;
  uint8_t levels;
  size_t violations;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.label; }

class Rules : public Emulator, public testing::WithParamInterface<RuleCase> {};

TEST_P(Rules, PacketsInBytesOutPinLevels) {
  const RuleCase& c = GetParam();
  Open();
  EXPECT_EQ(Exchange(c.outs, c.replies), c.in);
  EXPECT_EQ(device->SelectPeriods(), c.periods);
  EXPECT_EQ(device->Outputs(), c.outputs);
  EXPECT_EQ(device->Levels(), c.levels);
  EXPECT_EQ(device->Violations().size(), c.violations);
}

// The pins are set up as the backend does (AB B7 7F 20: all chip selects
// high, the clock low, then D0-D5 outputs). 9F reads the M25P80's 20 20 14;
// every byte travels bit-reversed: 9F as F9, 20 as 04, 14 as 28.
const std::string kSetUp = "AB B7 7F 20";
INSTANTIATE_TEST_SUITE_P(
    Table, Rules,
    testing::Values(
        RuleCase{"PowerOnPinsAreInputs", {}, 0, {}, {}, 0x00, 0x3F, 0},
        RuleCase{"SetUpDrivesTheOutputs", {kSetUp}, 0, {}, {}, 0x3F, 0x37, 0},
        RuleCase{"ChipSelectPeriodAndReversedBytes",
                 {kSetUp, "AB B6 20", "A8 F9 00 00 00", "AB B7 20"},
                 1,
                 {"FF 04 04 28"},
                 {"9F 00 00 00"},
                 0x3F,
                 0x37,
                 0},
        RuleCase{"ChipSelectStaysLowAcrossPackets",
                 {kSetUp, "AB B6 20", "A8 F9", "A8 00 00 00"},
                 2,
                 {"FF", "04 04 28"},
                 {"9F 00 00 00 (held)"},
                 0x3F,
                 0x36,
                 0},
        RuleCase{"ClocksWithSelectHighReachNoChip", {kSetUp, "A8 60"}, 1, {"FF"}, {}, 0x3F, 0x37, 0},
        // 0x3E: D0 an input; it floats high, the chip stays deselected.
        RuleCase{"AnInputChipSelectFloatsHigh", {"AB B6 7E 20", "A8 F9 00"}, 1, {"FF FF"}, {}, 0x3E, 0x36, 0},
        RuleCase{"PinChangesShareAPacket", {"AB B7 7F B6 B7 20"}, 0, {}, {"(empty)"}, 0x3F, 0x37, 0},
        RuleCase{"UnknownCommand", {"A5 00"}, 0, {}, {}, 0x00, 0x3F, 1},
        RuleCase{"UioPacketWithoutItsEndMark", {"AB B7"}, 0, {}, {}, 0x00, 0x37, 1},
        RuleCase{"UioDelayIsNotModelled", {"AB C5 20"}, 0, {}, {}, 0x00, 0x3F, 1},
        RuleCase{"SpiWithoutTheClockPinDriven", {"A8 00"}, 1, {}, {}, 0x00, 0x3F, 1},
        RuleCase{"SpiOnTwoDataLines", {kSetUp, "AA 64 00", "A8 00"}, 1, {}, {}, 0x3F, 0x37, 1},
        RuleCase{"SpeedSetWithOneDataLine", {kSetUp, "AA 61 00", "A8 00"}, 1, {"FF"}, {}, 0x3F, 0x37, 0},
        RuleCase{"SpiPacketWithoutBytes", {kSetUp, "A8"}, 0, {}, {}, 0x3F, 0x37, 1}),
    [](const testing::TestParamInfo<RuleCase>& info) { return info.param.label; });

TEST_F(Emulator, ATransferIsCutIntoPacketsEachOneCommand) {
  Open();
  // 40 bytes: a full SPI packet (A8 and 31 bytes) and one of 7 (A8 and 6).
  std::string spi = "A8";
  for (int i = 0; i < 31; ++i) spi += " 00";
  spi += " A8 00 00 00 00 00 00";
  const std::vector<std::string> in = Exchange({kSetUp, spi}, 2);
  ASSERT_EQ(in.size(), 2u);
  EXPECT_EQ(HexBytes(in[0]).size(), 31u);
  EXPECT_EQ(HexBytes(in[1]).size(), 6u);
  EXPECT_EQ(device->Packets().size(), 3u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Emulator, HoldsFourRepliesThenTakesNoMorePackets) {
  Open();
  Exchange({kSetUp}, 0);
  UsbTransferStatus status;
  // Six SPI packets and no IN transfer: four replies fill the device, the
  // OUT transfer ends when its time runs out.
  std::string six;
  for (int p = 0; p < 6; ++p) {
    six += p ? " A8" : "A8";
    for (int i = 0; i < 31; ++i) six += " 00";
  }
  Exchange({six}, 0, &status);
  EXPECT_EQ(status, UsbTransferStatus::kTimedOut);
  EXPECT_EQ(device->Packets().size(), 1u + 4u);
  EXPECT_EQ(Exchange({}, 4).size(), 4u);
}

TEST_F(Emulator, ModelsARoundTripPacketsAndTheBusClock) {
  Open();
  Exchange({kSetUp}, 0);
  const uint64_t start = device->Sim().NowNs();
  Exchange({"A8 00"}, 1);
  // 1 ms, the OUT packet of 2 bytes and the IN packet of 1 (13 bytes of
  // protocol each, at 12 Mbit/s), one byte at 1.5 MHz and the device's own
  // 4,893 ns a byte (ch341prog's measured read).
  const uint64_t expected =
      1'000'000 + (13 + 2) * 2000 / 3 + (13 + 1) * 2000 / 3 + 8 * 1000000000ull / 1500000 + 4'893;
  EXPECT_NEAR(static_cast<double>(device->Sim().NowNs() - start), static_cast<double>(expected), 1.0);
  EXPECT_EQ(device->RoundTrips(), 2u);
}

TEST_F(Emulator, UnpluggedItEndsEveryTransferAndReleasesTheChip) {
  Ch341aEmulatorConfig config;
  config.unplugAfter = 2;
  Open(config);
  UsbTransferStatus status;
  Exchange({kSetUp, "AB B6 20", "A8 F9 00 00 00"}, 1, &status);
  EXPECT_EQ(status, UsbTransferStatus::kNoDevice);
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"(empty)"});
  UsbTransfer late{.endpoint = 0x02, .buffer = nullptr, .length = 1, .timeoutMs = 10};
  EXPECT_EQ(device->Submit(&late), kUsbErrorNoDevice);
}

TEST_F(Emulator, ShortAndLongReplies) {
  for (const bool shortOne : {true, false}) {
    Ch341aEmulatorConfig config;
    (shortOne ? config.shortReply : config.longReply) = 2;
    Open(config);
    UsbTransferStatus status;
    const std::vector<std::string> in = Exchange({kSetUp, "A8 00 00", "A8 00 00"}, 2, &status, 2);
    if (shortOne) {
      EXPECT_EQ(in, (std::vector<std::string>{"FF FF", "FF"}));
    } else {
      EXPECT_EQ(status, UsbTransferStatus::kOverflow);
    }
  }
}

TEST_F(Emulator, MuteItAnswersNothingAndEveryTransferTimesOut) {
  Ch341aEmulatorConfig config;
  config.muteAfter = 1;
  Open(config);
  UsbTransferStatus status;
  const uint64_t start = device->NowMs();
  Exchange({kSetUp, "A8 00"}, 1, &status);
  EXPECT_EQ(status, UsbTransferStatus::kTimedOut);
  EXPECT_GE(device->NowMs() - start, 1000u);
}

TEST_F(Emulator, OpeningAsLibusbWouldRefuseIt) {
  Ch341aEmulatorConfig denied;
  denied.openError = kUsbErrorAccess;
  denied.sim.chip = "M25P80";
  std::string error;
  std::unique_ptr<Ch341aEmulator> refusing = Ch341aEmulator::Create(denied, &error);
  EXPECT_EQ(refusing->Open({1, 7}), kUsbErrorAccess);

  Ch341aEmulatorConfig driver;
  driver.kernelDriver = true;
  driver.sim.chip = "M25P80";
  device = Ch341aEmulator::Create(driver, &error);
  ASSERT_TRUE(device) << error;
  ASSERT_EQ(device->Open({1, 7}), 0);
  EXPECT_EQ(device->KernelDriverActive(0), 1);
  EXPECT_EQ(device->ClaimInterface(0), kUsbErrorBusy);  // not without detaching it
  EXPECT_EQ(device->SetAutoDetachKernelDriver(true), 0);
  EXPECT_EQ(device->ClaimInterface(0), 0);
  EXPECT_EQ(device->KernelDriverActive(0), 0);
}

// Linux 6.10 and later bind spi-ch341 to the device: libusb detaches it
// for the claim where it can, and the kernel binds it again once the
// device is released; where libusb cannot detach, the claim fails busy.
TEST_F(Emulator, TheKernelDriverComesBackAfterTheRelease) {
  Ch341aEmulatorConfig driver;
  driver.kernelDriver = true;
  driver.sim.chip = "M25P80";
  std::string error;
  device = Ch341aEmulator::Create(driver, &error);
  ASSERT_TRUE(device) << error;
  ASSERT_EQ(device->Open({1, 7}), 0);
  ASSERT_EQ(device->SetAutoDetachKernelDriver(true), 0);
  ASSERT_EQ(device->ClaimInterface(0), 0);
  EXPECT_EQ(device->KernelDriverActive(0), 0);
  device->ReleaseInterface(0);
  EXPECT_EQ(device->KernelDriverActive(0), 1);
  device->Close();

  driver.noAutoDetach = true;
  device = Ch341aEmulator::Create(driver, &error);
  ASSERT_EQ(device->Open({1, 7}), 0);
  EXPECT_EQ(device->SetAutoDetachKernelDriver(true), kUsbErrorNotSupported);
  EXPECT_EQ(device->ClaimInterface(0), kUsbErrorBusy);
}

TEST(Ch341aEmulatorDescription, KeysAndMistakes) {
  std::string error;
  EXPECT_TRUE(Ch341aEmulator::FromDescription("chip=N25Q128,devices=2,latency=125,deny,cs=2,unplug=9", &error))
      << error;
  EXPECT_FALSE(Ch341aEmulator::FromDescription("chip=N25Q128,cs=3", &error));
  EXPECT_EQ(error, "CH341A emulator: bad item 'cs=3' in 'chip=N25Q128,cs=3'");
  EXPECT_FALSE(Ch341aEmulator::FromDescription("chip=NOPE", &error));
}

}  // namespace
