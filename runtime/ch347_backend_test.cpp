// SPDX-License-Identifier: MIT
// The CH347 backend against the CH347 emulator: the commands each kind of
// select window becomes, how few USB round trips they take, the clock steps,
// chip selects and the reset line, status polls answered from batches, and
// the failures.
#include "runtime/ch347_backend.h"

#include <gtest/gtest.h>

#include <numeric>

#include "testsupport/ch347_emulator.h"
#include "testsupport/sim_frames.h"
#ifdef ROMWICK_HAVE_LIBUSB
#include "runtime/libusb_library.h"
#endif

namespace {

using testsupport::Ch347Emulator;
using testsupport::Ch347EmulatorConfig;
using testsupport::HexBytes;

// The commands as the emulator logs them: the first 8 bytes, then the count.
const std::string kSettings15MHz = "C0 1A 00 00 00 04 01 00 +21";
const std::string kSelect = "C1 0A 00 80 00 00 00 00 +5";
const std::string kRelease = "C1 0A 00 C0 00 00 00 00 +5";

// The backend over an emulator with an N25Q128 on CS0, its port enabled.
class Ch347 : public testing::Test {
 protected:
  bool Open(Ch347EmulatorConfig config = {}, Ch347DeviceRequest request = {}, int32_t port = 0) {
    backend.reset();  // before the emulator it reaches
    if (config.sim.chip.empty()) config.sim.chip = "N25Q128";
    std::string error;
    device = Ch347Emulator::Create(config, &error);
    if (!device) return false;
    backend = Ch347Backend::Open(request, device->Seam(), trace, &error);
    EXPECT_TRUE(backend) << error;
    return backend && backend->EnablePort(port);
  }

  // One call of a window, as the entry points make them.
  bool Put(const std::string& hex, bool release = false, uint8_t* rx = nullptr) {
    const std::vector<uint8_t> tx = HexBytes(hex);
    return backend->Transfer({true, !release, tx.data(), 0, rx, tx.size()});
  }
  bool OneCall(const std::string& hex, uint8_t* rx = nullptr) { return Put(hex, true, rx); }
  bool Get(uint8_t* rx, size_t count, uint8_t fill = 0x55) {
    return backend->Transfer({true, true, nullptr, fill, rx, count});
  }
  bool Idle(size_t count) {
    const std::vector<uint8_t> fill(count, 0xFF);
    return backend->Transfer({false, false, fill.data(), 0, nullptr, count});
  }
  uint8_t Status() {
    uint8_t rx[2] = {};
    EXPECT_TRUE(OneCall("05 00", rx)) << backend->TakeReason();
    return rx[1];
  }
  std::vector<uint8_t> Id() {
    std::vector<uint8_t> id(4);
    EXPECT_TRUE(OneCall("9F 00 00 00", id.data())) << backend->TakeReason();
    return id;
  }

  TraceWriter trace;  // closed: records nothing
  std::unique_ptr<Ch347Emulator> device;
  std::unique_ptr<Ch347Backend> backend;
};

// The settings at open, then every command of a write enable, a page
// program and the status read that sends them: one USB write, one round
// trip, each command a transfer of its own.
TEST_F(Ch347, PageProgramGoesOutWithTheNextStatusRead) {
  Ch347DeviceRequest single;
  single.noBatch = true;
  ASSERT_TRUE(Open({}, single));
  EXPECT_EQ(device->RoundTrips(), 1u);
  ASSERT_TRUE(OneCall("06"));
  std::string page = "02 00 01 00";
  for (int i = 0; i < 256; ++i) page += " 80";
  ASSERT_TRUE(OneCall(page));
  EXPECT_EQ(device->Commands().size(), 1u);  // nothing yet: no reply was needed
  EXPECT_EQ(Status() & 0x01, 0x01);          // programming
  EXPECT_EQ(device->Commands(), (std::vector<std::string>{kSettings15MHz, kSelect, "C4 01 00 06", kRelease, kSelect,
                                                          "C4 04 01 02 00 01 00 80 +255", kRelease, kSelect,
                                                          "C2 02 00 05 00", kRelease}));
  EXPECT_EQ(device->SelectPeriods(), (std::vector<std::string>{"06", "02 00 01 00 +256", "05 00"}));
  EXPECT_EQ(device->RoundTrips(), 2u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

// A read window is its header and one C3 for all its bytes, whose replies
// carry 507 bytes each. The byte the C3 clocks out is the program's fill:
// the settings that make it so go out before the window, once.
TEST_F(Ch347, ReadsAreOneCommandClockingOutTheFill) {
  ASSERT_TRUE(Open());
  std::span<uint8_t> array = device->Sim().Contents();
  std::iota(array.begin(), array.end(), uint8_t{0});
  device->ClearLog();
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<uint8_t> data(10000);
    ASSERT_TRUE(backend->Select(true));
    ASSERT_TRUE(Put("03 00 10 07"));
    ASSERT_TRUE(Get(data.data(), data.size()));
    ASSERT_TRUE(backend->Select(false));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), array.begin() + 0x1007));
  }
  EXPECT_EQ(device->Commands(), (std::vector<std::string>{"C0 1A 00 00 00 04 01 00 +21", kSelect, "C4 04 00 03 00 10 07",
                                                          "C3 04 00 10 27 00 00", kRelease, kSelect,
                                                          "C4 04 00 03 00 10 07", "C3 04 00 10 27 00 00"}));
  EXPECT_EQ(device->SelectPeriods(), (std::vector<std::string>{"03 00 10 07 +10000", "03 00 10 07 +10000 (held)"}));
  EXPECT_EQ(device->RoundTrips(), 1u + 2u);
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(device->SelectPeriods().back(), "03 00 10 07 +10000");
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

// A get in a window whose select already went out, with another fill,
// clocks the fill out itself.
TEST_F(Ch347, AFillThatCannotBeTheDefaultGoesOutByteByByte) {
  ASSERT_TRUE(Open());
  std::vector<uint8_t> data(600);
  ASSERT_TRUE(backend->Select(true));
  ASSERT_TRUE(Put("03 00 00 00"));
  ASSERT_TRUE(Get(data.data(), 10, 0xFF));  // the default at open: no settings
  ASSERT_TRUE(Get(data.data(), 600, 0x00));
  ASSERT_TRUE(backend->Select(false));
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(device->Commands().size(), 1u + 3u + 2u + 1u);  // settings, window, two exchanges, release
  EXPECT_EQ(device->Commands()[4], "C2 FB 01 00 00 00 00 00 +502");
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"03 00 00 00 +610"});
}

// Back-to-back polls after a page program: a batch of status reads in one
// USB write with the page, the next polls answered from it without any.
TEST_F(Ch347, StatusPollsAreAnsweredFromABatch) {
  ASSERT_TRUE(Open());
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(30'000'000, &granted));
  const uint64_t opened = device->RoundTrips();
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("02 00 00 00 AA"));
  int polls = 1;
  while (Status() & 0x01) ++polls;
  // Eight samples some 100 µs apart; the N25Q128 programs in 500 µs.
  EXPECT_GE(polls, 4);
  EXPECT_EQ(device->RoundTrips() - opened, 1u);
  // The next page: the wait learned, three samples around its end.
  for (uint32_t page = 1; page < 4; ++page) {
    ASSERT_TRUE(OneCall("06"));
    ASSERT_TRUE(OneCall("02 00 0" + std::to_string(page) + " 00 AA"));
    polls = 1;
    while (Status() & 0x01) ++polls;
    EXPECT_LE(polls, 3);
    EXPECT_EQ(device->Sim().Contents()[page * 0x100], 0xAA);
  }
  EXPECT_EQ(device->RoundTrips() - opened, 4u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

// Polls spaced by the program's own idle clocks (as while an erase runs):
// the idle clocks are not clocked, the samples they cover are skipped.
TEST_F(Ch347, IdleClocksBetweenPollsAreStoodInForByTheBatch) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("D8 00 00 00"));  // sector erase: 600 ms
  int polls = 1;
  while (Status() & 0x01) {
    ASSERT_TRUE(Idle(1875)) << backend->TakeReason();  // 1 ms at 15 MHz
    ++polls;
  }
  // Some 400 polls 1 ms apart; batches whose spans grow with the square
  // root of the time waited: some 100 round trips.
  EXPECT_GT(polls, 300);
  EXPECT_LT(device->RoundTrips(), 150u);
  EXPECT_EQ(device->Sim().Contents()[0], 0xFF);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Ch347, WithoutBatchesEveryPollIsARoundTrip) {
  Ch347DeviceRequest single;
  single.noBatch = true;
  ASSERT_TRUE(Open({}, single));
  const uint64_t opened = device->RoundTrips();
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("02 00 00 00 AA"));
  int polls = 1;
  while (Status() & 0x01) ++polls;
  EXPECT_EQ(device->RoundTrips() - opened, static_cast<uint64_t>(polls));
}

// The first generation and the DataFlash read the status in a window the
// program opens and releases in calls of their own.
TEST_F(Ch347, StatusReadInAWindowOfItsOwn) {
  ASSERT_TRUE(Open());
  uint8_t rx[2] = {};
  ASSERT_TRUE(backend->Select(true));
  ASSERT_TRUE(Put("05 00", false, rx));
  EXPECT_FALSE(Put("00", false, rx));
  EXPECT_EQ(backend->TakeReason(),
            "the status read of this select window was answered from a batch, which ended the window; it cannot go "
            "on (run with the ch347 key nobatch)");
}

// Idle clocks the program asks for are clocked with chip select high.
TEST_F(Ch347, IdleClocksKeepChipSelectHigh) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Idle(40));
  EXPECT_EQ(Id(), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"9F 00 00 00"});
  EXPECT_EQ(device->Sim().Stats().bytes, 44u);
}

struct ClockCase {
  uint32_t asked;
  uint32_t granted;
};

// The fastest step not above the one asked for; the slowest below it.
TEST_F(Ch347, ClockStepsFrom60MHzDown) {
  ASSERT_TRUE(Open());
  for (const ClockCase& c : {ClockCase{60'000'000, 60'000'000}, {100'000'000, 60'000'000}, {50'000'000, 30'000'000},
                             {30'000'000, 30'000'000}, {29'999'999, 15'000'000}, {8'000'000, 7'500'000},
                             {3'750'000, 3'750'000}, {2'000'000, 1'875'000}, {1'000'000, 937'500},
                             {468'750, 468'750}, {100'000, 468'750}}) {
    SCOPED_TRACE(c.asked);
    uint32_t granted = 0;
    ASSERT_TRUE(backend->SetClock(c.asked, &granted));
    EXPECT_EQ(granted, c.granted);
    EXPECT_EQ(backend->Clock(), c.granted);
    Id();
    EXPECT_EQ(device->ClockHz(), c.granted);
  }
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(0, &granted));  // keeps its own
  EXPECT_EQ(granted, 468'750u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Ch347, ModesAndBitOrderAreSettings) {
  ASSERT_TRUE(Open());
  EXPECT_TRUE(backend->SetMode(3, false));
  EXPECT_EQ(Id(), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
  EXPECT_TRUE(backend->SetMode(0, true));
  Id();
  EXPECT_EQ(device->SelectPeriods().back(), "F9 00 00 00");  // the chip gets 9F least significant bit first
  EXPECT_FALSE(backend->SetMode(4, false));
  EXPECT_EQ(backend->TakeReason(), "SPI mode 4 asked for; modes are 0 to 3");
  EXPECT_FALSE(backend->OffersConfigReset());
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

struct SelectCase {
  const char* label;
  std::optional<int> cs;  // the name's cs=
  int32_t port;
  uint32_t chipOn;      // the chip's S# on CS0 or CS1
  std::string reason;   // of a port that cannot be enabled
};

void PrintTo(const SelectCase& c, std::ostream* os) { *os << c.label; }

class Ch347Selects : public Ch347, public testing::WithParamInterface<SelectCase> {};

TEST_P(Ch347Selects, PortOrCsKeyPicksTheChipSelect) {
  const SelectCase& c = GetParam();
  Ch347EmulatorConfig config;
  config.chipSelect = c.chipOn;
  Ch347DeviceRequest request;
  request.chipSelect = c.cs;
  if (!c.reason.empty()) {
    EXPECT_FALSE(Open(config, request, c.port));
    EXPECT_EQ(backend->TakeReason(), c.reason);
    return;
  }
  ASSERT_TRUE(Open(config, request, c.port));
  EXPECT_EQ(Id(), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ch347Selects,
    testing::Values(SelectCase{"Port0IsCs0", std::nullopt, 0, 0, ""},
                    SelectCase{"Port1IsCs1", std::nullopt, 1, 1, ""},
                    SelectCase{"CsKeyWithPort0", 1, 0, 1, ""},
                    SelectCase{"CsKeyLeavesNoOtherPort", 0, 1, 0,
                               "the device name picks CS0 with cs=: only port 0 exists, no port 1"},
                    SelectCase{"NoThirdChipSelect", std::nullopt, 2, 0,
                               "the CH347 has chip selects CS0 and CS1 (ports 0 and 1): no port 2"}),
    [](const testing::TestParamInfo<SelectCase>& info) { return info.param.label; });

// reset=5: GPIO5 driven inactive at open, asserted and released by the
// program, and let go when the device closes.
TEST_F(Ch347, TheResetLineIsAGpio) {
  Ch347EmulatorConfig config;
  config.resetGpio = 5;
  Ch347DeviceRequest request;
  request.resetPin = 5;
  ASSERT_TRUE(Open(config, request));
  EXPECT_TRUE(backend->OffersConfigReset());
  EXPECT_EQ(device->Commands(), (std::vector<std::string>{kSettings15MHz, "CC 08 00 00 00 00 00 00 +3"}));
  ASSERT_TRUE(backend->ConfigReset(true));
  EXPECT_EQ(device->ResetLog(), std::vector<std::string>{"asserted"});
  ASSERT_TRUE(backend->ConfigReset(false));
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(device->ResetLog(), (std::vector<std::string>{"asserted", "released"}));
  EXPECT_EQ(device->Commands().back(), "CC 08 00 00 00 00 00 00 +3");
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Ch347, SerialNumberPicksTheDevice) {
  Ch347EmulatorConfig config;
  config.devices = 3;
  config.serials = {"A1", "B2", "B2"};
  Ch347DeviceRequest request;
  request.serial = "B2";
  request.index = 1;  // the second with that serial number
  ASSERT_TRUE(Open(config, request));
  EXPECT_EQ(Id(), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
}

TEST_F(Ch347, TheCh347fIsInterface4) {
  Ch347EmulatorConfig config;
  config.model = 'F';
  ASSERT_TRUE(Open(config));
  EXPECT_TRUE(device->Claimed());
  EXPECT_EQ(Id(), (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
}

TEST_F(Ch347, AKernelDriverIsDetachedToClaimTheDevice) {
  Ch347EmulatorConfig config;
  config.kernelDriver = true;
  ASSERT_TRUE(Open(config));
  EXPECT_TRUE(device->Claimed());
  ASSERT_TRUE(backend->Close());
  EXPECT_FALSE(device->Claimed());
}

struct OpenCase {
  const char* label;
  Ch347EmulatorConfig config;
  Ch347DeviceRequest request;
  std::string reason;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.label; }

class Ch347Open : public testing::TestWithParam<OpenCase> {};

TEST_P(Ch347Open, SaysWhyItCannotOpen) {
  OpenCase c = GetParam();
  c.config.sim.chip = "M25P80";
  std::string error;
  std::unique_ptr<Ch347Emulator> device = Ch347Emulator::Create(c.config, &error);
  ASSERT_TRUE(device) << error;
  TraceWriter trace;
  EXPECT_FALSE(Ch347Backend::Open(c.request, device->Seam(), trace, &error));
  EXPECT_EQ(error, c.reason);
  EXPECT_LE(device->NowMs(), 3 * UsbExchange::kTimeoutMs);  // no hang
}

Ch347EmulatorConfig Config(void (*set)(Ch347EmulatorConfig&)) {
  Ch347EmulatorConfig config;
  set(config);
  return config;
}
Ch347DeviceRequest Request(void (*set)(Ch347DeviceRequest&)) {
  Ch347DeviceRequest request;
  set(request);
  return request;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ch347Open,
    testing::Values(
        OpenCase{"NoneFound", Config([](Ch347EmulatorConfig& c) { c.devices = 0; }), {},
                 "no CH347 (USB 1a86:55db or 1a86:55de) found"},
        OpenCase{"NoSuchIndex", Config([](Ch347EmulatorConfig& c) { c.devices = 2; }),
                 Request([](Ch347DeviceRequest& r) { r.index = 2; }), "no CH347 at index 2: 2 found (index 0 to 1)"},
        OpenCase{"NoSuchSerial", Config([](Ch347EmulatorConfig& c) { c.serials = {"A1"}; }),
                 Request([](Ch347DeviceRequest& r) { r.serial = "B2"; }),
                 "no CH347 with serial number B2 (1 CH347 found)"},
        OpenCase{"PermissionDenied", Config([](Ch347EmulatorConfig& c) { c.openError = kUsbErrorAccess; }), {},
                 "permission denied on USB device 1a86:55db (bus 1, address 7): install 60-romwick.rules into "
                 "/etc/udev/rules.d (see the README, Real hardware) and plug the device in again"},
        OpenCase{"HeldByAnotherProgram", Config([](Ch347EmulatorConfig& c) { c.claimError = kUsbErrorBusy; }), {},
                 "the CH347T at bus 1, address 7 is in use: another program holds it"},
        OpenCase{"AnswersSomethingElse", Config([](Ch347EmulatorConfig& c) { c.strangeReply = 1; }), {},
                 "malformed reply from the CH347: CA 01 00 where the reply to C0 was due"},
        // The settings are answered, the reset line's command is not taken.
        OpenCase{"AnswersNothing", Config([](Ch347EmulatorConfig& c) { c.muteAfter = 1; }),
                 Request([](Ch347DeviceRequest& r) { r.resetPin = 2; }),
                 "the CH347 took no data within 1000 ms (endpoint 0x06)"}),
    [](const testing::TestParamInfo<OpenCase>& info) { return info.param.label; });

struct FailureCase {
  const char* label;
  Ch347EmulatorConfig config;
  std::string reason;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class Ch347Failures : public Ch347, public testing::WithParamInterface<FailureCase> {};

Ch347EmulatorConfig Fault(uint64_t Ch347EmulatorConfig::*field, uint64_t n) {
  Ch347EmulatorConfig config;
  config.*field = n;
  return config;
}

// The settings' reply is the first and their command the first; the
// identification's reply is the second, its commands the second to fourth.
TEST_P(Ch347Failures, FailTheCallAndEveryBusCallAfterIt) {
  ASSERT_TRUE(Open(GetParam().config));
  std::vector<uint8_t> id(4, 0x11);
  EXPECT_FALSE(OneCall("9F 00 00 00", id.data()));
  EXPECT_EQ(backend->TakeReason(), GetParam().reason);
  EXPECT_FALSE(OneCall("9F 00 00 00", id.data()));
  EXPECT_EQ(backend->TakeReason(), "");  // said once
  EXPECT_FALSE(backend->Select(false));
  backend->Close();
  EXPECT_LE(device->NowMs(), 3 * UsbExchange::kTimeoutMs);  // no hang
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ch347Failures,
    testing::Values(FailureCase{"ShortReply", Fault(&Ch347EmulatorConfig::shortReply, 2),
                                "short reply from the CH347: 6 of 7 bytes"},
                    FailureCase{"MalformedReply", Fault(&Ch347EmulatorConfig::longReply, 2),
                                "malformed reply from the CH347: a packet longer than the 7 bytes due"},
                    FailureCase{"AnswersSomethingElse", Fault(&Ch347EmulatorConfig::strangeReply, 2),
                                "malformed reply from the CH347: CA 04 00 where the reply to C2 was due"},
                    FailureCase{"Unplugged", Fault(&Ch347EmulatorConfig::unplugAfter, 2),
                                "the CH347 is gone: unplugged, or it lost its power or its USB connection"},
                    FailureCase{"StopsAnswering", Fault(&Ch347EmulatorConfig::muteAfter, 2),
                                "the CH347 took no data within 1000 ms (endpoint 0x06)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

#ifdef ROMWICK_HAVE_LIBUSB
// libusb itself, on a machine without a CH347 (none is ever needed): the
// open fails with the reason a user would see.
TEST(Ch347ThroughLibusb, WithoutADeviceTheOpenSaysSo) {
  std::string error;
  std::unique_ptr<LibusbLibrary> usb = LibusbLibrary::Create(&error);
  if (!usb) GTEST_SKIP() << error;
  std::vector<Ch347Backend::Found> found;
  ASSERT_TRUE(Ch347Backend::Find(*usb, &found, &error)) << error;
  if (!found.empty()) GTEST_SKIP() << "a CH347 is attached";
  TraceWriter trace;
  EXPECT_FALSE(Ch347Backend::Open({}, std::move(usb), trace, &error));
  EXPECT_EQ(error, "no CH347 (USB 1a86:55db or 1a86:55de) found");
}
#endif

}  // namespace
