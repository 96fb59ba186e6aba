// SPDX-License-Identifier: MIT
// The MPSSE emulator's own rules: commands in, bytes out, pins, buffers, time.
#include "testsupport/mpsse_emulator.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace testsupport {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 3) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::string hex;
  for (uint8_t b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, hex.empty() ? "%02X" : " %02X", b);
    hex += pair;
  }
  return hex;
}

// An FT232H with an M25P80 on ADBUS3 and a reset line on ACBUS0, opened in MPSSE mode.
std::unique_ptr<MpsseEmulator> Opened(MpsseEmulatorConfig config = {}) {
  config.sim.chip = "M25P80";
  config.reset = FtdiPin{.highByte = true, .bit = 0};
  std::string error;
  auto emulator = MpsseEmulator::Create(config, &error);
  EXPECT_TRUE(emulator) << error;
  FtdiOpenFailure failure;
  EXPECT_TRUE(emulator->Open(1, 2, 1, &failure, &error)) << error;
  EXPECT_TRUE(emulator->SetBitMode(0, 0x02, &error));
  return emulator;
}

// Everything the channel sends back, read until it has nothing more.
std::string ReadAll(MpsseEmulator& emulator) {
  std::vector<uint8_t> all;
  std::string error;
  for (int i = 0; i < 4; ++i) {
    uint8_t buffer[256];
    const int n = emulator.Read(buffer, sizeof buffer, &error);
    if (n <= 0) break;
    all.insert(all.end(), buffer, buffer + n);
  }
  return ToHex(all);
}

struct Rule {
  const char* label;
  const char* in;
  const char* out;
  uint8_t low, lowOutputs, high, highOutputs;
  bool selected;
  bool reset;
  size_t violations;
};

void PrintTo(const Rule& r, std::ostream* os) { *os << r.label; }

class EmulatorRules : public testing::TestWithParam<Rule> {};

TEST_P(EmulatorRules, AnswerAndDriveThePinsAsTheChipDoes) {
  const Rule& r = GetParam();
  auto emulator = Opened();
  std::string error;
  const std::vector<uint8_t> in = FromHex(r.in);
  ASSERT_TRUE(emulator->Write(in.data(), in.size(), &error)) << error;
  EXPECT_EQ(ReadAll(*emulator), r.out);
  EXPECT_EQ(emulator->Low(), r.low);
  EXPECT_EQ(emulator->LowOutputs(), r.lowOutputs);
  EXPECT_EQ(emulator->High(), r.high);
  EXPECT_EQ(emulator->HighOutputs(), r.highOutputs);
  EXPECT_EQ(emulator->ChipSelected(), r.selected);
  EXPECT_EQ(emulator->ResetAsserted(), r.reset);
  EXPECT_EQ(emulator->Violations().size(), r.violations);
}

// Chip select on ADBUS3 (08), SK and DO outputs (03): 80 08 0B idles, 80 00 0B selects.
INSTANTIATE_TEST_SUITE_P(
    Table, EmulatorRules,
    testing::Values(
        Rule{"UnknownOpcode", "AA", "FA AA", 0, 0, 0, 0, false, false, 0},
        Rule{"GpioReadIsNotEmulated", "81 87", "FA 81", 0, 0, 0, 0, false, false, 0},
        Rule{"Idle", "80 08 0B 87", "", 0x08, 0x0B, 0, 0, false, false, 0},
        Rule{"SelectedStays", "80 00 0B", "", 0x00, 0x0B, 0, 0, true, false, 0},
        Rule{"InputReadsPulledHigh", "80 00 03", "", 0x00, 0x03, 0, 0, false, false, 0},
        Rule{"ReadIdentification", "80 00 0B 31 03 00 9F 00 00 00 80 08 0B 87", "FF 20 20 14", 0x08, 0x0B, 0, 0,
             false, false, 0},
        Rule{"WriteEnableThenStatus", "80 00 0B 11 00 00 06 80 08 0B 80 00 0B 31 01 00 05 00 80 08 0B 87", "FF 02",
             0x08, 0x0B, 0, 0, false, false, 0},
        Rule{"ReadOnlyShift", "80 00 0B 11 03 00 03 00 00 00 20 03 00 80 08 0B 87", "FF FF FF FF", 0x08, 0x0B, 0,
             0, false, false, 0},
        Rule{"Loopback", "84 80 00 0B 31 01 00 5A A5 85 80 08 0B 87", "5A A5", 0x08, 0x0B, 0, 0, false, false, 0},
        Rule{"ClockAndModeCommandsAnswerNothing", "8A 8B 8C 8D 97 85 86 01 00 8E 07 8F 10 00 87", "", 0, 0, 0, 0,
             false, false, 0},
        Rule{"ResetLineAssertedLow", "82 00 01", "", 0, 0, 0x00, 0x01, false, true, 0},
        Rule{"ResetLineReleased", "82 00 01 82 01 01", "", 0, 0, 0x01, 0x01, false, false, 0},
        Rule{"ShiftWithoutClockOutput", "80 00 0A 31 00 00 9F 87", "FF", 0x00, 0x0A, 0, 0, true, false, 1},
        Rule{"ShiftWithAdaptiveClocking", "96 80 00 0B 31 00 00 9F 87", "FF", 0x00, 0x0B, 0, 0, true, false, 1},
        Rule{"MarkerAfterData", "80 00 0B 31 00 00 9F 80 08 0B AB 87", "FF FA AB", 0x08, 0x0B, 0, 0, false, false,
             0}),
    [](const testing::TestParamInfo<Rule>& info) { return info.param.label; });

TEST(MpsseEmulator, ClockFollowsTheDivisorAndDivideBy5) {
  auto emulator = Opened();
  std::string error;
  for (const auto& [in, hz] : std::vector<std::pair<std::string, uint32_t>>{
           {"86 00 00", 6'000'000}, {"8A", 30'000'000}, {"86 02 00", 10'000'000}, {"86 FF FF", 457}}) {
    const std::vector<uint8_t> bytes = FromHex(in);
    ASSERT_TRUE(emulator->Write(bytes.data(), bytes.size(), &error));
    EXPECT_EQ(emulator->ClockHz(), hz) << in;
  }
}

// A write costs a round trip; bus work runs at the clock; without send
// immediate the reply waits for the latency timer, and so does an empty read.
TEST(MpsseEmulator, ModelsUsbTime) {
  MpsseEmulatorConfig config;
  config.roundTripUs = 125;
  auto emulator = Opened(config);
  std::string error;
  ASSERT_TRUE(emulator->SetLatencyTimer(2, &error));
  const std::vector<uint8_t> setup = FromHex("8A 86 00 00 80 08 0B");  // 30 MHz
  ASSERT_TRUE(emulator->Write(setup.data(), setup.size(), &error));
  uint64_t start = emulator->NowUs();
  const std::vector<uint8_t> idle = FromHex("8F 3F 1D");  // 7,488 bytes: 1,996.8 µs at 30 MHz
  ASSERT_TRUE(emulator->Write(idle.data(), idle.size(), &error));
  EXPECT_EQ(emulator->NowUs() - start, 125u + 1996u);
  uint8_t buffer[8];
  start = emulator->NowUs();
  EXPECT_EQ(emulator->Read(buffer, sizeof buffer, &error), 0);
  EXPECT_EQ(emulator->NowUs() - start, 2000u);
  const std::vector<uint8_t> held = FromHex("AB");
  ASSERT_TRUE(emulator->Write(held.data(), held.size(), &error));
  start = emulator->NowUs();
  EXPECT_EQ(emulator->Read(buffer, sizeof buffer, &error), 2);
  EXPECT_EQ(emulator->NowUs() - start, 2000u) << "without send immediate";
  const std::vector<uint8_t> sent = FromHex("AB 87");
  ASSERT_TRUE(emulator->Write(sent.data(), sent.size(), &error));
  start = emulator->NowUs();
  EXPECT_EQ(emulator->Read(buffer, sizeof buffer, &error), 2);
  EXPECT_EQ(emulator->NowUs() - start, 0u);
}

// Replies the host has not read stop the engine at the chip's buffer; a
// write with more commands behind them than the buffer takes is refused.
TEST(MpsseEmulator, KeepsTheChipsBuffers) {
  auto emulator = Opened();
  std::string error;
  // 600 + 600 reply bytes: the second command waits until the host reads.
  std::vector<uint8_t> two = FromHex("80 08 0B 20 57 02 20 57 02 87");
  ASSERT_TRUE(emulator->Write(two.data(), two.size(), &error));
  std::vector<uint8_t> in(1200);
  size_t got = 0;
  for (int i = 0; i < 10 && got < in.size(); ++i) got += emulator->Read(in.data() + got, in.size() - got, &error);
  EXPECT_EQ(got, 1200u);
  EXPECT_TRUE(emulator->Violations().empty());
  // A 64 KiB read streams; what follows it fits the buffer.
  std::vector<uint8_t> big = FromHex("20 FF FF 80 08 0B 87");
  ASSERT_TRUE(emulator->Write(big.data(), big.size(), &error));
  EXPECT_TRUE(emulator->Violations().empty());
  ASSERT_TRUE(emulator->Purge(&error));
  // 600 reply bytes, then 2,000 command bytes the engine cannot reach.
  std::vector<uint8_t> stuck = FromHex("20 57 02 20 57 02");
  stuck.insert(stuck.end(), {0x11, 0xCF, 0x07});
  stuck.insert(stuck.end(), 2000, 0x00);
  EXPECT_FALSE(emulator->Write(stuck.data(), stuck.size(), &error));
  EXPECT_EQ(error, "ftdi_write_data failed (-1: usb bulk write failed)");
  EXPECT_EQ(emulator->Violations().size(), 1u);
}

// A shift that sends and reads more than the buffer to the host holds stops
// the engine with the buffer full; the data behind it waits in the buffer
// from the host, and what does not fit there is never taken: the write
// times out. On the FT2232H the same shift fits.
TEST(MpsseEmulator, StallsOnAFullDuplexShiftLongerThanItsBuffer) {
  for (const char* type : {"FT232H", "FT2232H"}) {
    SCOPED_TRACE(type);
    MpsseEmulatorConfig config;
    config.type = type;
    auto emulator = Opened(config);
    std::string error;
    // 4,096 bytes out and in: a read command, its address, 4,092 bytes.
    std::vector<uint8_t> write = FromHex("80 00 0B 31 FF 0F 03 00 00 00");
    write.insert(write.end(), 4092, 0x00);
    const std::vector<uint8_t> end = FromHex("80 08 0B AB 87");
    write.insert(write.end(), end.begin(), end.end());
    const uint64_t start = emulator->NowUs();
    const bool fits = type == std::string("FT2232H");
    EXPECT_EQ(emulator->Write(write.data(), write.size(), &error), fits);
    EXPECT_EQ(emulator->Violations().size(), fits ? 0u : 1u);
    if (!fits) {
      EXPECT_GE(emulator->NowUs() - start, 5'000'000u) << "libftdi's write timeout";
    }
  }
}

// The engine stops in the middle of a read whose reply the host leaves
// unread, and goes on as it reads.
TEST(MpsseEmulator, StopsMidCommandAndGoesOnAsTheHostReads) {
  auto emulator = Opened();
  std::string error;
  const std::vector<uint8_t> read = FromHex("80 00 0B 11 03 00 03 00 00 00 20 FF 0F 80 08 0B 87");  // 4,096 in
  ASSERT_TRUE(emulator->Write(read.data(), read.size(), &error));
  EXPECT_TRUE(emulator->ChipSelected()) << "stopped with the read under way";
  std::vector<uint8_t> in(4096);
  size_t got = 0;
  for (int i = 0; i < 20 && got < in.size(); ++i) got += emulator->Read(in.data() + got, in.size() - got, &error);
  EXPECT_EQ(got, 4096u);
  EXPECT_FALSE(emulator->ChipSelected());
  EXPECT_TRUE(emulator->Violations().empty());
}

// The FT2232D (bcdDevice 0x500, as libftdi tells it from an FT2232H with
// the same product id) answers the H chips' commands as unknown: its clock
// stays 6 MHz / (1 + divisor), and its full-speed packets carry 62 bytes.
TEST(MpsseEmulator, AnFT2232DKnowsOnlyItsOwnCommands) {
  MpsseEmulatorConfig config;
  config.type = "FT2232D";
  auto emulator = Opened(config);
  std::string error;
  std::vector<FtdiUsbDevice> found;
  ASSERT_TRUE(emulator->Find(0x0403, 0x6010, &found, &error));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].bcdDevice, 0x0500);
  const std::vector<uint8_t> setup = FromHex("8A 97 8D 85 86 00 00 80 08 0B AB 87");
  ASSERT_TRUE(emulator->Write(setup.data(), setup.size(), &error));
  EXPECT_EQ(ReadAll(*emulator), "FA 8A FA 97 FA 8D FA AB");
  EXPECT_EQ(emulator->ClockHz(), 6'000'000u);
  // 200 bytes in: the buffer to the host holds 128, the host gets whole
  // packets of 62 until the send immediate.
  const std::vector<uint8_t> read = FromHex("80 00 0B 11 03 00 03 00 00 00 20 C7 00 80 08 0B 87");
  ASSERT_TRUE(emulator->Write(read.data(), read.size(), &error));
  uint8_t buffer[256];
  EXPECT_EQ(emulator->Read(buffer, sizeof buffer, &error), 124);
  EXPECT_TRUE(emulator->Violations().empty());
}

// What the chip held when it entered MPSSE mode comes before any reply.
TEST(MpsseEmulator, StaleBytesComeFirst) {
  MpsseEmulatorConfig config;
  config.staleBytes = 3;
  auto emulator = Opened(config);
  std::string error;
  const std::vector<uint8_t> marker = FromHex("AB 87");
  ASSERT_TRUE(emulator->Write(marker.data(), marker.size(), &error));
  EXPECT_EQ(ReadAll(*emulator), "5A 5B 5C FA AB");
}

// Out on the falling edge and in on the rising one with SK idling high is
// SPI mode 3, which the engine does not keep: said once.
TEST(MpsseEmulator, ShiftingWithTheClockIdlingHighIsAViolation) {
  auto emulator = Opened();
  std::string error;
  const std::vector<uint8_t> mode3 = FromHex("80 01 0B 80 00 0B 31 00 00 9F 31 00 00 9F 80 09 0B 87");  // SK high
  ASSERT_TRUE(emulator->Write(mode3.data(), mode3.size(), &error));
  EXPECT_EQ(emulator->Violations().size(), 0u) << "SK low while the shifts ran";
  const std::vector<uint8_t> high = FromHex("80 01 0B 80 01 0B 31 00 00 9F 31 00 00 9F 80 09 0B 87");
  ASSERT_TRUE(emulator->Write(high.data(), high.size(), &error));
  EXPECT_EQ(emulator->Violations().size(), 1u);
}

// An open-drain reset net (reset line on ACBUS0, active low): a pin that
// drives it low asserts it, an input lets the pull-up take it high, and
// driving it high while another device holds it low is a short.
TEST(MpsseEmulator, AnOpenDrainResetNet) {
  struct Row {
    bool held;
    const char* pins;
    bool asserted;
    size_t violations;
  };
  for (const Row& row : {Row{false, "82 00 01", true, 0}, Row{false, "82 00 00", false, 0},
                         Row{true, "82 00 00", true, 0}, Row{true, "82 00 01", true, 0},
                         Row{true, "82 01 01", true, 1}, Row{false, "82 01 01", false, 0}}) {
    SCOPED_TRACE(std::string(row.pins) + (row.held ? " held" : ""));
    MpsseEmulatorConfig config;
    config.resetOpenDrainNet = true;
    config.resetHeld = row.held;
    auto emulator = Opened(config);
    std::string error;
    const std::vector<uint8_t> pins = FromHex(row.pins);
    ASSERT_TRUE(emulator->Write(pins.data(), pins.size(), &error));
    EXPECT_EQ(emulator->ResetAsserted(), row.asserted);
    EXPECT_EQ(emulator->Violations().size(), row.violations);
  }
}

TEST(MpsseEmulator, FaultsAsTheUsbShowsThem) {
  std::string error;
  MpsseEmulatorConfig config;
  config.unplugAt = 2;
  auto unplugged = Opened(config);
  const std::vector<uint8_t> marker = FromHex("AB 87");
  EXPECT_TRUE(unplugged->Write(marker.data(), marker.size(), &error));
  uint8_t buffer[4];
  EXPECT_EQ(unplugged->Read(buffer, sizeof buffer, &error), -1);
  EXPECT_EQ(error, "ftdi_read_data failed (-1: usb bulk read failed)");
  std::vector<FtdiUsbDevice> found;
  EXPECT_TRUE(unplugged->Find(0x0403, 0x6014, &found, &error));
  EXPECT_TRUE(found.empty());

  config = {};
  config.shortAt = 1;
  auto shortRead = Opened(config);
  EXPECT_TRUE(shortRead->Write(marker.data(), marker.size(), &error));
  EXPECT_EQ(shortRead->Read(buffer, sizeof buffer, &error), 1);
  EXPECT_EQ(shortRead->Read(buffer, sizeof buffer, &error), 0);

  config = {};
  config.garbleAt = 1;
  auto garbled = Opened(config);
  EXPECT_TRUE(garbled->Write(marker.data(), marker.size(), &error));
  EXPECT_EQ(ReadAll(*garbled), "00 FA AB");
}

TEST(MpsseEmulator, ListsItsDevicesAndRefusesOpensAsConfigured) {
  MpsseEmulatorConfig config;
  config.type = "FT2232H";
  config.devices = 2;
  config.sim.chip = "M25P80";
  std::string error;
  auto emulator = MpsseEmulator::Create(config, &error);
  ASSERT_TRUE(emulator);
  std::vector<FtdiUsbDevice> found;
  EXPECT_TRUE(emulator->Find(0x0403, 0x6014, &found, &error));
  EXPECT_TRUE(found.empty());
  EXPECT_TRUE(emulator->Find(0x0403, 0x6010, &found, &error));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].serial, "RW000002");
  EXPECT_EQ(found[1].address, 3);

  config.deny = true;
  auto denied = MpsseEmulator::Create(config, &error);
  FtdiOpenFailure failure = FtdiOpenFailure::kOther;
  EXPECT_FALSE(denied->Open(1, 2, 1, &failure, &error));
  EXPECT_EQ(failure, FtdiOpenFailure::kPermission);
  EXPECT_FALSE(MpsseEmulator::FromDescription("chip=M25P80,type=FT245", &error));
  EXPECT_FALSE(MpsseEmulator::FromDescription("chip=M25P80,bogus", &error));
}

TEST(MpsseEmulator, DescribesTheOlderChipTheResetNetAndStaleBytes) {
  std::string error;
  EXPECT_TRUE(MpsseEmulator::FromDescription("chip=M25P80,type=FT2232D,reset=ADBUS4:open-drain,held,stale=3", &error))
      << error;
  EXPECT_TRUE(MpsseEmulator::FromDescription("chip=M25P80,reset=ADBUS4:open-drain:active-high", &error)) << error;
  EXPECT_FALSE(MpsseEmulator::FromDescription("chip=M25P80,reset=ADBUS4:open-drain:open-drain", &error));
  EXPECT_FALSE(MpsseEmulator::FromDescription("chip=M25P80,reset=ADBUS4:push-pull", &error));
}

}  // namespace
}  // namespace testsupport
