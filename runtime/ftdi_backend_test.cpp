// SPDX-License-Identifier: MIT
// The ftdi backend against the MPSSE emulator: which device it opens, the
// engine's set-up, how select windows become USB writes, batched status
// polls, the clock, the reset line, failures; and once through libftdi1.
#include "runtime/ftdi_backend.h"

#include <gtest/gtest.h>

#include "runtime/device_name.h"

#include <cstdio>

#include "testsupport/mpsse_emulator.h"
#include "testsupport/run_program.h"
#include "testsupport/sim_frames.h"
#ifdef ROMWICK_HAVE_LIBFTDI
#include "runtime/libftdi_usb.h"
#endif

namespace {

using testsupport::HexBytes;
using testsupport::MpsseEmulator;
using testsupport::MpsseEmulatorConfig;

// A request with what `set` changes in it.
template <typename Set>
FtdiDeviceRequest Req(Set set) {
  FtdiDeviceRequest request;
  set(request);
  return request;
}

// "00 01 00": the three address bytes of a command.
std::string HexAddress(uint32_t address) {
  char text[12];
  std::snprintf(text, sizeof text, "%02X %02X %02X", (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

class Ftdi : public testing::Test {
 protected:
  // An FT232H with an N25Q128, its reset line on ACBUS0.
  bool Open(const FtdiDeviceRequest& request = {}, MpsseEmulatorConfig config = {}) {
    backend.reset();
    if (config.sim.chip.empty()) config.sim.chip = "N25Q128";
    config.reset = FtdiPin{.highByte = true, .bit = 0};
    std::string error;
    emulator = MpsseEmulator::Create(config, &error);
    if (!emulator) return false;
    backend = FtdiBackend::Open(request, emulator->Seam(), trace, &error);
    reason = error;
    return backend != nullptr;
  }
  bool Put(const std::string& hex, size_t more = 0) {
    std::vector<uint8_t> tx = HexBytes(hex);
    tx.resize(tx.size() + more, 0xA5);
    return backend->Transfer({true, false, tx.data(), 0, nullptr, tx.size()});
  }
  // One status read as the program makes it: a one-call window.
  bool Status(uint8_t* status) {
    const uint8_t tx[2] = {0x05, 0x00};
    uint8_t rx[2];
    if (!backend->Transfer({true, false, tx, 0, rx, 2})) return false;
    *status = rx[1];
    return true;
  }
  // Polls until the chip is ready; the polls it took.
  int WaitReady() {
    uint8_t status = 1;
    int polls = 0;
    while (status & 1) {
      if (!Status(&status)) return -1;
      ++polls;
    }
    return polls;
  }
  bool ProgramPage(uint32_t address) {
    const std::string header = "02 " + HexAddress(address);
    return Put("06") && Put(header, 256) && WaitReady() > 0;
  }

  TraceWriter trace;
  std::unique_ptr<MpsseEmulator> emulator;
  std::unique_ptr<FtdiBackend> backend;
  std::string reason;
};

TEST_F(Ftdi, SetsUpTheEngineAndLeavesEveryPinAnInput) {
  ASSERT_TRUE(Open()) << reason;
  // Divide-by-5, adaptive and three-phase clocking, loopback off; 1 MHz
  // until the program asks; SK low, DO low, CS high as outputs; the marker.
  EXPECT_EQ(emulator->WriteLog(), std::vector<std::string>{"8A 97 8D 85 86 1D 00 80 08 0B AB 87"});
  EXPECT_TRUE(emulator->InMpsseMode());
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(emulator->WriteLog().back(), "80 08 0B 80 00 00");
  EXPECT_EQ(emulator->LowOutputs(), 0);
  EXPECT_EQ(emulator->HighOutputs(), 0);
  EXPECT_FALSE(emulator->InMpsseMode());
  EXPECT_FALSE(emulator->IsOpen());
  EXPECT_TRUE(emulator->Violations().empty());
}

TEST_F(Ftdi, GrantsTheClockTheDivisorGives) {
  struct Row {
    uint32_t cap, asked, granted;
  };
  const Row rows[] = {{0, 50'000'000, 30'000'000}, {0, 10'000'000, 10'000'000}, {0, 7'000'000, 6'000'000},
                      {0, 1, 457}, {10'000'000, 50'000'000, 10'000'000}};
  for (const Row& row : rows) {
    ASSERT_TRUE(Open(Req([&](FtdiDeviceRequest& r) { r.speedCap = row.cap; })));
    uint32_t granted = 0;
    ASSERT_TRUE(backend->SetClock(row.asked, &granted));
    EXPECT_EQ(granted, row.granted) << row.asked;
    uint8_t status = 0;
    ASSERT_TRUE(Status(&status));
    EXPECT_EQ(emulator->ClockHz(), row.granted) << row.asked;
  }
}

// What needs no reply waits for what does: a write enable, a page program
// and the first status poll go in one USB write, with the marker closing it.
TEST_F(Ftdi, WindowsWithoutReplyGoWithTheNextThatHasOne) {
  ASSERT_TRUE(Open(Req([](FtdiDeviceRequest& r) { r.pollBatch = 1; })));
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(50'000'000, &granted));
  emulator->ClearLog();
  ASSERT_TRUE(Put("06"));
  ASSERT_TRUE(Put("02 00 01 00", 4));
  EXPECT_TRUE(emulator->WriteLog().empty());
  uint8_t status = 0;
  ASSERT_TRUE(Status(&status));
  EXPECT_EQ(status & 1, 1) << "programming";
  EXPECT_EQ(emulator->WriteLog(), std::vector<std::string>{
                                      "86 00 00 "
                                      "80 00 0B 11 00 00 06 80 08 0B "
                                      "80 00 0B 11 07 00 02 00 01 00 A5 A5 A5 A5 80 08 0B "
                                      "80 00 0B 31 01 00 05 00 80 08 0B AB 87"});
  const std::vector<uint8_t> programmed(emulator->Sim().Contents().begin() + 0x100,
                                       emulator->Sim().Contents().begin() + 0x104);
  EXPECT_EQ(programmed, HexBytes("A5 A5 A5 A5"));
  EXPECT_TRUE(emulator->Violations().empty());
}

// A read longer than the chip's buffer is the last command of its write;
// one longer than a command carries takes more than one.
TEST_F(Ftdi, ReadsInBlocksAsLargeAsTheDeviceAllows) {
  ASSERT_TRUE(Open());
  const std::string pattern = testsupport::Pattern(0x20000, 9);
  std::copy(pattern.begin(), pattern.end(), emulator->Sim().Contents().begin());
  const uint64_t writes = emulator->Writes();
  ASSERT_TRUE(backend->Select(true));
  const uint8_t header[4] = {0x03, 0, 0, 0};
  ASSERT_TRUE(backend->Transfer({true, true, header, 0, nullptr, 4}));
  std::vector<uint8_t> data(0x18000);
  ASSERT_TRUE(backend->Transfer({true, true, nullptr, 0x55, data.data(), data.size()}));
  ASSERT_TRUE(backend->Select(false));
  EXPECT_EQ(emulator->Writes() - writes, 2u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), reinterpret_cast<const uint8_t*>(pattern.data())));
  EXPECT_TRUE(emulator->Violations().empty());
}

// Once the backend has learned how long a page program takes (its first
// guesses are long, and shrink by an eighth a page), each page is one USB
// write, its polls after the first answered from the batch, several of them
// busy; with polls=1 each poll is a write of its own.
TEST_F(Ftdi, BatchesStatusPolls) {
  for (const uint32_t batch : {32u, 1u}) {
    ASSERT_TRUE(Open(Req([&](FtdiDeviceRequest& r) { r.pollBatch = batch; })));
    uint32_t granted = 0;
    ASSERT_TRUE(backend->SetClock(50'000'000, &granted));
    ASSERT_TRUE(ProgramPage(0));
    for (uint32_t page = 1; page < 8; ++page) {
      const uint64_t writes = emulator->Writes();
      ASSERT_TRUE(Put("06"));
      ASSERT_TRUE(Put("02 " + HexAddress(page * 256), 256));
      const int polls = WaitReady();
      ASSERT_GT(polls, 0);
      if (batch > 1 && page >= 4) {
        EXPECT_EQ(emulator->Writes() - writes, 1u) << page;
        EXPECT_GT(polls, 1) << page;
      } else if (batch == 1) {
        EXPECT_EQ(emulator->Writes() - writes, static_cast<uint64_t>(polls)) << page;
      }
    }
    // Another transfer drops what is left of a batch: the status it reads is the chip's now.
    EXPECT_TRUE(emulator->Violations().empty());
  }
}

TEST_F(Ftdi, DrivesTheResetLineAtOnce) {
  ASSERT_TRUE(Open(Req([](FtdiDeviceRequest& r) { r.reset = FtdiPin{.highByte = true, .bit = 0}; })));
  EXPECT_TRUE(backend->OffersConfigReset());
  EXPECT_FALSE(emulator->ResetAsserted());
  ASSERT_TRUE(backend->ConfigReset(true));
  EXPECT_TRUE(emulator->ResetAsserted());
  ASSERT_TRUE(backend->ConfigReset(false));
  EXPECT_FALSE(emulator->ResetAsserted());
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(emulator->ResetLog(), (std::vector<std::string>{"asserted", "released"}));

  ASSERT_TRUE(Open());
  EXPECT_FALSE(backend->OffersConfigReset());
  EXPECT_FALSE(backend->ConfigReset(true));
}

// What `ftdi:<keys>` asks for, as the scheme parses it.
FtdiDeviceRequest Parsed(const std::string& keys) {
  DeviceRequest request;
  std::string error;
  EXPECT_TRUE(ParseDeviceName("ftdi:" + keys, &request, &error)) << error;
  const FtdiDeviceRequest* ftdi = request.As<FtdiDeviceRequest>();
  return ftdi ? *ftdi : FtdiDeviceRequest{};
}

// A transfer that sends and reads more than the chip's buffer to the host
// holds (1 KiB on the FT232H) goes in writes whose replies each fit it: one
// write would stop the engine with its data still to come, and time out.
TEST_F(Ftdi, SplitsFullDuplexTransfersToTheChipsBuffer) {
  ASSERT_TRUE(Open());
  const std::string pattern = testsupport::Pattern(0x2000, 5);
  std::copy(pattern.begin(), pattern.end(), emulator->Sim().Contents().begin());
  std::vector<uint8_t> tx(4096, 0x00);
  tx[0] = 0x03;  // read from address 0
  std::vector<uint8_t> rx(tx.size());
  const uint64_t writes = emulator->Writes();
  ASSERT_TRUE(backend->Transfer({true, false, tx.data(), 0, rx.data(), tx.size()})) << backend->TakeReason();
  EXPECT_TRUE(std::equal(rx.begin() + 4, rx.end(), reinterpret_cast<const uint8_t*>(pattern.data())));
  EXPECT_EQ(emulator->Writes() - writes, 5u) << "1,022 reply bytes a write and the marker's 2";
  EXPECT_TRUE(emulator->Violations().empty());
}

// A clock near 2^32 asks for the fastest: it must not wrap to the slowest.
TEST_F(Ftdi, TheFastestClockForTheLargestRequest) {
  ASSERT_TRUE(Open());
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(4'294'967'295u, &granted));
  EXPECT_EQ(granted, 30'000'000u);
  ASSERT_TRUE(backend->SetClock(4'294'967'000u, &granted));
  EXPECT_EQ(granted, 30'000'000u);
}

// The engine shifts out on the falling edge and in on the rising one: with
// the clock idling low that is mode 0; idling high it would be mode 3,
// which FTDI says the MPSSE does not keep (AN_114). Flash chips take 0 or 3.
TEST_F(Ftdi, RefusesSpiMode3) {
  ASSERT_TRUE(Open());
  EXPECT_FALSE(backend->SetMode(3, false));
  EXPECT_EQ(backend->TakeReason(),
            "FT232H 0403:6014 (bus 1, address 2): SPI mode 3 asked for; the MPSSE engine shifts in mode 0 only here "
            "(FTDI's AN_114: modes 0 and 2, and flash chips take 0 and 3)");
  EXPECT_TRUE(backend->SetMode(0, false));
  uint8_t status = 0;
  ASSERT_TRUE(Status(&status));
  EXPECT_TRUE(emulator->Violations().empty());
}

// Bytes the chip still holds when it enters MPSSE mode are read and dropped
// at open: the engine's answer to the marker is found after them.
TEST_F(Ftdi, DropsWhatTheChipHeldBeforeItsFirstReply) {
  for (const uint32_t stale : {1u, 2u, 600u}) {
    MpsseEmulatorConfig config;
    config.staleBytes = stale;
    ASSERT_TRUE(Open({}, config)) << stale << ": " << reason;
    const uint8_t id[4] = {0x9F, 0, 0, 0};
    uint8_t rx[4];
    ASSERT_TRUE(backend->Transfer({true, false, id, 0, rx, 4}));
    EXPECT_EQ(HexBytes("FF 20 BA 18"), std::vector<uint8_t>(rx, rx + 4));
  }
}

// An open-drain reset line is driven low, or let go as an input, never
// driven high: another device on the net (a supervisor, a button, an FPGA)
// may hold it low meanwhile. Pushed high it would short that device.
TEST_F(Ftdi, AnOpenDrainResetLineNeverDrivesHigh) {
  MpsseEmulatorConfig config;
  config.resetOpenDrainNet = true;
  config.resetHeld = true;
  ASSERT_TRUE(Open(Parsed("reset=ACBUS0:open-drain"), config)) << reason;
  EXPECT_EQ(emulator->HighOutputs() & 0x01, 0) << "let go until -cr";
  ASSERT_TRUE(backend->ConfigReset(true));
  EXPECT_EQ(emulator->HighOutputs() & 0x01, 0x01);
  EXPECT_EQ(emulator->High() & 0x01, 0x00);
  ASSERT_TRUE(backend->ConfigReset(false));
  EXPECT_EQ(emulator->HighOutputs() & 0x01, 0);
  EXPECT_TRUE(emulator->ResetAsserted()) << "the other device still holds it";
  ASSERT_TRUE(backend->Close());
  EXPECT_TRUE(emulator->Violations().empty());

  // Active high: asserted is let go (the pull-up), inactive driven low.
  config.resetHeld = false;
  ASSERT_TRUE(Open(Parsed("reset=ACBUS0:active-high:open-drain"), config)) << reason;
  EXPECT_EQ(emulator->HighOutputs() & 0x01, 0x01);
  EXPECT_EQ(emulator->High() & 0x01, 0x00);
  ASSERT_TRUE(backend->ConfigReset(true));
  EXPECT_EQ(emulator->HighOutputs() & 0x01, 0);
  EXPECT_TRUE(emulator->Violations().empty());
}

// Pushed high at open, an ordinary reset line shorts the device that holds
// the net low: the reason `:open-drain` exists.
TEST_F(Ftdi, APushPullResetLineFightsAHeldNet) {
  MpsseEmulatorConfig config;
  config.resetOpenDrainNet = true;
  config.resetHeld = true;
  ASSERT_TRUE(Open(Parsed("reset=ACBUS0"), config)) << reason;
  EXPECT_EQ(emulator->Violations().size(), 1u);
}

struct DeviceCase {
  const char* label;
  const char* type;
  uint32_t devices;
  bool serials;
  void (*set)(FtdiDeviceRequest&);
  std::string reason;  // empty: it opens the device at `address`
  uint8_t address;
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.label; }

class FtdiDevices : public Ftdi, public testing::WithParamInterface<DeviceCase> {};

TEST_P(FtdiDevices, OpenTheOneTheNameMeansOrSayWhyNot) {
  const DeviceCase& c = GetParam();
  MpsseEmulatorConfig config;
  config.type = c.type;
  config.devices = c.devices;
  config.serials = c.serials;
  config.deny = c.label == std::string("PermissionDenied");
  config.busy = c.label == std::string("HeldByAnotherProgram");
  FtdiDeviceRequest request;
  if (c.set) c.set(request);
  const bool opened = Open(request, config);
  EXPECT_EQ(opened, c.reason.empty());
  EXPECT_EQ(reason, c.reason);
  if (opened) {
    EXPECT_EQ(emulator->OpenedAddress(), c.address);
    ASSERT_TRUE(backend->Close());
    EXPECT_EQ(emulator->LowOutputs(), 0);
  }
}


INSTANTIATE_TEST_SUITE_P(
    Table, FtdiDevices,
    testing::Values(
        DeviceCase{"FirstFound", "FT2232H", 1, true, nullptr, "", 2},
        DeviceCase{"NoneFound", "FT232H", 0, true, nullptr,
                   "no FT232H, FT2232H or FT4232H found on the USB (looked for 0403:6014, 0403:6010, 0403:6011)", 0},
        DeviceCase{"OtherProduct", "FT232H", 1, true, [](FtdiDeviceRequest& r) { r.pid = 0x6010; }, "no USB device 0403:6010 found", 0},
        DeviceCase{"BySerial", "FT232H", 2, true, [](FtdiDeviceRequest& r) { r.serial = "RW000002"; }, "", 3},
        DeviceCase{"NoSuchSerial", "FT232H", 2, true, [](FtdiDeviceRequest& r) { r.serial = "XX"; },
                   "no FTDI device with serial number 'XX' (there are 'RW000001', 'RW000002')", 0},
        DeviceCase{"NoSerials", "FT232H", 1, false, [](FtdiDeviceRequest& r) { r.serial = "XX"; },
                   "no FTDI device with serial number 'XX' (no serial number could be read)", 0},
        DeviceCase{"IndexPastTheEnd", "FT232H", 2, true, [](FtdiDeviceRequest& r) { r.index = 2; },
                   "index=2, but only 2 devices match (the first is index=0)", 0},
        DeviceCase{"SecondChannelOfAnFT232H", "FT232H", 1, true, [](FtdiDeviceRequest& r) { r.channel = 'B'; },
                   "FT232H 0403:6014 (bus 1, address 2): channel B does not exist or has no MPSSE engine (only A "
                   "has one)",
                   0},
        DeviceCase{"ThirdChannelOfAnFT4232H", "FT4232H", 1, true, [](FtdiDeviceRequest& r) { r.channel = 'C'; },
                   "FT4232H 0403:6011 (bus 1, address 2): channel C has no MPSSE engine (only A and B have one)", 0},
        // A request made without the parser, which takes A to D only.
        DeviceCase{"NoSuchChannel", "FT2232H", 1, true, [](FtdiDeviceRequest& r) { r.channel = 'Q'; },
                   "FT2232H 0403:6010 (bus 1, address 2): channel Q has no MPSSE engine (only A and B have one)", 0},
        // bcdDevice 0x500, libftdi's TYPE_2232C, behind the FT2232H's product id.
        DeviceCase{"AnFT2232DIsRefusedByName", "FT2232D", 1, true, nullptr,
                   "FT2232D 0403:6010 (bus 1, address 2): FT2232D is not supported: a full-speed chip with a 6 MHz "
                   "clock, 128 bytes of reply buffer and none of the 8A-8F, 96 and 97 commands (AN_108) that romwick "
                   "drives; use an FT232H, FT2232H or FT4232H",
                   0},
        DeviceCase{"HighByteOfAnFT4232H", "FT4232H", 1, true, [](FtdiDeviceRequest& r) { r.cs = FtdiPin{.highByte = true, .bit = 0}; },
                   "FT4232H 0403:6011 (bus 1, address 2): the FT4232H has no ACBUS pins", 0},
        DeviceCase{"PermissionDenied", "FT232H", 1, true, nullptr,
                   "permission denied on USB device 0403:6014 (bus 1, address 2): install 60-romwick.rules into "
                   "/etc/udev/rules.d (see the README, Real hardware) and plug the device in again",
                   0},
        DeviceCase{"HeldByAnotherProgram", "FT232H", 1, true, nullptr,
                   "USB device 0403:6014 (bus 1, address 2) channel A is held by another program "
                   "(ftdi_usb_open_bus_addr failed (-5: unable to claim usb device. Make sure the default FTDI "
                   "driver is not in use))",
                   0}),
    [](const testing::TestParamInfo<DeviceCase>& info) { return info.param.label; });

struct FaultCase {
  const char* label;
  uint64_t MpsseEmulatorConfig::*fault;
  std::string reason;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class FtdiFaults : public Ftdi, public testing::WithParamInterface<FaultCase> {};

// The second write of a run is the first transfer's: it fails with its reason.
TEST_P(FtdiFaults, FailTheTransferWithTheirReason) {
  const FaultCase& c = GetParam();
  MpsseEmulatorConfig config;
  config.*c.fault = c.label == std::string("Unplugged") ? 3 : 2;
  ASSERT_TRUE(Open({}, config)) << reason;
  uint8_t status = 0;
  EXPECT_FALSE(Status(&status));
  EXPECT_EQ(backend->TakeReason(), c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FtdiFaults,
    testing::Values(
        FaultCase{"MalformedReply", &MpsseEmulatorConfig::garbleAt,
                  "FT232H 0403:6014 (bus 1, address 2): malformed reply: 66 bytes should end in FA AB, they end in "
                  "00 FA"},
        FaultCase{"ShortRead", &MpsseEmulatorConfig::shortAt,
                  "FT232H 0403:6014 (bus 1, address 2): short read: 65 of 66 reply bytes came, then nothing for "
                  "1001 ms"},
        FaultCase{"Unplugged", &MpsseEmulatorConfig::unplugAt,
                  "FT232H 0403:6014 (bus 1, address 2) is gone from the USB (unplugged?): write: ftdi_write_data "
                  "failed (-1: usb bulk write failed)"}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.label; });

TEST_F(Ftdi, ListsDevicesBySerialNumberOrIndex) {
  for (const bool serials : {true, false}) {
    MpsseEmulatorConfig config;
    config.sim.chip = "M25P80";
    config.devices = 2;
    config.serials = serials;
    std::string error;
    auto usb = MpsseEmulator::Create(config, &error);
    std::vector<std::string> names;
    ASSERT_TRUE(FtdiBackend::List(*usb, &names, &error));
    const std::vector<std::string> expected =
        serials ? std::vector<std::string>{"ftdi:serial=RW000001", "ftdi:serial=RW000002"}
                : std::vector<std::string>{"ftdi:index=0", "ftdi:index=1"};
    EXPECT_EQ(names, expected);
  }
}

#ifdef ROMWICK_HAVE_LIBFTDI
// The backend as built, through libftdi1 and libusb, on a machine without
// an FTDI chip.
TEST(FtdiLibrary, OpenWithoutADeviceSaysNoneWasFound) {
  TraceWriter trace;
  std::string error;
  std::vector<FtdiUsbDevice> found;
  LibftdiUsb probe;
  if (!probe.Find(0x0403, 0x6014, &found, &error)) GTEST_SKIP() << "libusb cannot list devices here: " << error;
  if (!found.empty()) GTEST_SKIP() << "an FT232H is attached";
  EXPECT_FALSE(FtdiBackend::Open({}, std::make_unique<LibftdiUsb>(), trace, &error));
  EXPECT_EQ(error, "no FT232H, FT2232H or FT4232H found on the USB (looked for 0403:6014, 0403:6010, 0403:6011)");
}
#endif

}  // namespace
