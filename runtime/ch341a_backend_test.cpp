// SPDX-License-Identifier: MIT
// The CH341A backend against the CH341A emulator: the packets each kind of
// select window becomes, how few USB round trips they take, status polls
// answered from batches, and the failures.
#include "runtime/ch341a_backend.h"

#include <gtest/gtest.h>

#include <numeric>

#include "testsupport/ch341a_emulator.h"
#include "testsupport/sim_frames.h"
#ifdef ROMWICK_HAVE_LIBUSB
#include "runtime/libusb_library.h"
#endif

namespace {

using testsupport::Ch341aEmulator;
using testsupport::Ch341aEmulatorConfig;
using testsupport::HexBytes;

// The backend over an emulator with an N25Q128 on CS0, its port enabled.
class Ch341a : public testing::Test {
 protected:
  bool Open(Ch341aEmulatorConfig config = {}, Ch341aDeviceRequest request = {}) {
    backend.reset();  // before the emulator it reaches
    if (config.sim.chip.empty()) config.sim.chip = "N25Q128";
    std::string error;
    device = Ch341aEmulator::Create(config, &error);
    if (!device) return false;
    backend = Ch341aBackend::Open(request, device->Seam(), trace, &error);
    EXPECT_TRUE(backend) << error;
    return backend && backend->EnablePort(0);
  }

  // One call of a window, as the entry points make them.
  bool Put(const std::string& hex, bool release = false, uint8_t* rx = nullptr) {
    const std::vector<uint8_t> tx = HexBytes(hex);
    return backend->Transfer({true, !release, tx.data(), 0, rx, tx.size()});
  }
  bool OneCall(const std::string& hex, uint8_t* rx = nullptr) { return Put(hex, true, rx); }
  bool Get(uint8_t* rx, size_t count) { return backend->Transfer({true, true, nullptr, 0x55, rx, count}); }
  bool Idle(size_t count) {
    const std::vector<uint8_t> fill(count, 0xFF);
    return backend->Transfer({false, false, fill.data(), 0, nullptr, count});
  }
  uint8_t Status() {
    uint8_t rx[2] = {};
    EXPECT_TRUE(OneCall("05 00", rx)) << backend->TakeReason();
    return rx[1];
  }

  TraceWriter trace;  // closed: records nothing
  std::unique_ptr<Ch341aEmulator> device;
  std::unique_ptr<Ch341aBackend> backend;
};

// Every packet of a write enable, a page program and the status read that
// sends them: one USB write, one round trip. Bytes travel bit-reversed: 06
// as 60, 02 as 40, 05 as A0, 80 as 01.
TEST_F(Ch341a, PageProgramGoesOutWithTheNextStatusRead) {
  Ch341aDeviceRequest single;
  single.noBatch = true;
  ASSERT_TRUE(Open({}, single));
  ASSERT_TRUE(OneCall("06"));
  std::string page = "02 00 01 00";
  for (int i = 0; i < 256; ++i) page += " 80";
  ASSERT_TRUE(OneCall(page));
  EXPECT_EQ(device->Packets().size(), 0u);  // nothing yet: no reply was needed
  EXPECT_EQ(Status() & 0x01, 0x01);         // programming
  std::vector<std::string> expected = {"AA 61 00", "AB B7 7F B6 20", "A8 60", "AB B7 B6 20"};
  std::string first = "A8 40 00 80 00";
  for (int i = 0; i < 27; ++i) first += " 01";
  expected.push_back(first);
  std::string full = "A8";
  for (int i = 0; i < 31; ++i) full += " 01";
  for (int p = 0; p < 7; ++p) expected.push_back(full);
  expected.push_back("A8 01 01 01 01 01 01 01 01 01 01 01 01");
  expected.insert(expected.end(), {"AB B7 B6 20", "A8 A0 00", "AB B7 20"});
  EXPECT_EQ(device->Packets(), expected);
  EXPECT_EQ(device->SelectPeriods(), (std::vector<std::string>{"06", "02 00 01 00 +256", "05 00"}));
  EXPECT_EQ(device->RoundTrips(), 1u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Ch341a, ReadsReturnTheChipsBytesInOneRoundTrip) {
  ASSERT_TRUE(Open());
  std::span<uint8_t> array = device->Sim().Contents();
  std::iota(array.begin(), array.end(), uint8_t{0});
  std::vector<uint8_t> data(10000);
  ASSERT_TRUE(backend->Select(true));
  ASSERT_TRUE(Put("03 00 10 07"));
  ASSERT_TRUE(Get(data.data(), data.size()));
  ASSERT_TRUE(backend->Select(false));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), array.begin() + 0x1007));
  EXPECT_EQ(device->RoundTrips(), 1u);
  // The header and the data share packets: 10,004 bytes in 323 of them.
  EXPECT_EQ(device->Packets().size(), 2u + 323u);
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"03 00 10 07 +10000 (held)"});
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"03 00 10 07 +10000"});
  EXPECT_EQ(device->Outputs(), 0x00);  // every pin left an input
}

// Back-to-back polls after a page program: a batch of status reads in one
// USB write, the next polls answered from it without any.
TEST_F(Ch341a, StatusPollsAreAnsweredFromABatch) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("02 00 00 00 AA"));
  int polls = 1;
  while (Status() & 0x01) ++polls;
  // The first batch: eight reads 31 idle bytes apart; the N25Q128 programs
  // in 500 µs, ready by the third.
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(device->RoundTrips(), 1u);
  const std::vector<std::string> periods = device->SelectPeriods();
  EXPECT_EQ(periods.size(), 2u + 8u);
  EXPECT_EQ(std::count(periods.begin(), periods.end(), "05 00"), 8);
  // The next page: the wait learned, the batch starts near its end.
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("02 00 01 00 AA"));
  polls = 1;
  while (Status() & 0x01) ++polls;
  EXPECT_EQ(device->RoundTrips(), 2u);
  EXPECT_LE(polls, 3);
  EXPECT_EQ(device->Sim().Contents()[0x100], 0xAA);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

// Polls spaced by the program's own idle clocks (as while an erase runs):
// the batch repeats them, and the idle clocks are answered from it too.
TEST_F(Ch341a, IdleClocksBetweenPollsAreBatchedWithThem) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("D8 00 00 00"));  // sector erase: 600 ms
  int polls = 1;
  while (Status() & 0x01) {
    ASSERT_TRUE(Idle(187)) << backend->TakeReason();
    ++polls;
  }
  // 600 ms in polls about 2.3 ms apart (187 bytes at the device's measured
  // 10.2 µs a byte, and their packets): some 250 polls, in a few dozen writes.
  EXPECT_GT(polls, 200);
  EXPECT_LT(device->RoundTrips(), 30u);
  EXPECT_EQ(device->Violations(), std::vector<std::string>{});
}

TEST_F(Ch341a, WithoutBatchesEveryPollIsARoundTrip) {
  Ch341aDeviceRequest single;
  single.noBatch = true;
  ASSERT_TRUE(Open({}, single));
  ASSERT_TRUE(OneCall("06"));
  ASSERT_TRUE(OneCall("02 00 00 00 AA"));
  int polls = 1;
  while (Status() & 0x01) ++polls;
  EXPECT_EQ(device->RoundTrips(), static_cast<uint64_t>(polls));
}

// The first generation and the DataFlash read the status in a window the
// program opens and releases in calls of their own. Answered from a batch,
// the read's select period has ended already: the release is kept from
// the wire, and the window cannot go on.
TEST_F(Ch341a, StatusReadInAWindowOfItsOwn) {
  ASSERT_TRUE(Open());
  uint8_t rx[2] = {};
  for (int poll = 0; poll < 3; ++poll) {
    ASSERT_TRUE(backend->Select(true));
    ASSERT_TRUE(Put("05 00", false, rx));
    ASSERT_TRUE(backend->Select(false));
  }
  EXPECT_EQ(device->RoundTrips(), 1u);
  ASSERT_TRUE(backend->Select(true));
  ASSERT_TRUE(Put("05 00", false, rx));
  EXPECT_FALSE(Put("00", false, rx));
  EXPECT_EQ(backend->TakeReason(),
            "the status read of this select window was answered from a batch, which ended the window; it cannot go "
            "on (run with the ch341a key nobatch)");
}

// Idle clocks the program asks for are clocked with chip select high.
TEST_F(Ch341a, IdleClocksKeepChipSelectHigh) {
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Idle(40));
  ASSERT_TRUE(OneCall("9F 00 00 00", std::vector<uint8_t>(4).data()));
  EXPECT_EQ(device->SelectPeriods(), std::vector<std::string>{"9F 00 00 00"});
  EXPECT_EQ(device->Sim().Stats().bytes, 44u);
  EXPECT_EQ(device->Sim().Stats().Ops(SimOp::kIgnored), 0u);
}

TEST_F(Ch341a, SettingsItHasAndHasNot) {
  ASSERT_TRUE(Open());
  uint32_t granted = 0;
  ASSERT_TRUE(backend->SetClock(50000000, &granted));
  EXPECT_EQ(granted, 1500000u);
  ASSERT_TRUE(backend->SetClock(0, &granted));
  EXPECT_EQ(backend->Clock(), 1500000u);
  EXPECT_TRUE(backend->SetMode(0, false));
  for (const auto& [mode, lsb] : {std::pair{3u, false}, {1u, false}, {0u, true}}) {
    EXPECT_FALSE(backend->SetMode(mode, lsb));
    EXPECT_NE(backend->TakeReason().find("the CH341A clocks in mode 0 only"), std::string::npos);
  }
  EXPECT_FALSE(backend->OffersConfigReset());
  EXPECT_FALSE(backend->EnablePort(3));
  EXPECT_EQ(backend->TakeReason(), "the CH341A has chip selects CS0 to CS2 (ports 0 to 2): no port 3");
}

// Port 2 drives CS2 (D2): the chip on that pin answers.
TEST_F(Ch341a, PortPicksTheChipSelectPin) {
  Ch341aEmulatorConfig config;
  config.chipSelectPin = 2;
  ASSERT_TRUE(Open(config));
  ASSERT_TRUE(backend->EnablePort(2));
  std::vector<uint8_t> id(4);
  ASSERT_TRUE(OneCall("9F 00 00 00", id.data()));
  EXPECT_EQ(id, (std::vector<uint8_t>{0xFF, 0x20, 0xBA, 0x18}));
}

struct OpenCase {
  const char* label;
  Ch341aEmulatorConfig config;
  uint32_t index;
  std::string reason;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.label; }

class Ch341aOpen : public testing::TestWithParam<OpenCase> {};

TEST_P(Ch341aOpen, SaysWhyItCannotOpen) {
  OpenCase c = GetParam();
  c.config.sim.chip = "M25P80";
  std::string error;
  std::unique_ptr<Ch341aEmulator> device = Ch341aEmulator::Create(c.config, &error);
  ASSERT_TRUE(device) << error;
  TraceWriter trace;
  Ch341aDeviceRequest request;
  request.index = c.index;
  EXPECT_FALSE(Ch341aBackend::Open(request, device->Seam(), trace, &error));
  EXPECT_EQ(error, c.reason);
}

Ch341aEmulatorConfig Devices(uint32_t n) {
  Ch341aEmulatorConfig config;
  config.devices = n;
  return config;
}
Ch341aEmulatorConfig OpenFails(int openError, int claimError) {
  Ch341aEmulatorConfig config;
  config.openError = openError;
  config.claimError = claimError;
  return config;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ch341aOpen,
    testing::Values(OpenCase{"NoneFound", Devices(0), 0, "no CH341A (USB 1a86:5512) found"},
                    OpenCase{"NoSuchIndex", Devices(2), 2, "no CH341A at index 2: 2 found (index 0 to 1)"},
                    OpenCase{"PermissionDenied", OpenFails(kUsbErrorAccess, 0), 0,
                             "permission denied on USB device 1a86:5512 (bus 1, address 7): install 60-romwick.rules "
                             "into /etc/udev/rules.d (see the README, Real hardware) and plug the device in again"},
                    OpenCase{"HeldByAnotherProgram", OpenFails(0, kUsbErrorBusy), 0,
                             "the CH341A at bus 1, address 7 is in use: another program holds it"}),
    [](const testing::TestParamInfo<OpenCase>& info) { return info.param.label; });

TEST_F(Ch341a, AKernelDriverIsDetachedToClaimTheDevice) {
  Ch341aEmulatorConfig config;
  config.kernelDriver = true;
  ASSERT_TRUE(Open(config));
  EXPECT_TRUE(device->Claimed());
  ASSERT_TRUE(backend->Close());
  EXPECT_FALSE(device->Claimed());
}

// Linux 6.10 and later bind spi-ch341 to 1a86:5512: the backend has libusb
// detach it for the run, and the kernel binds it again at the release.
// Where libusb cannot detach it, the reason names the driver.
TEST_F(Ch341a, TheKernelsSpiDriverIsDetachedAndComesBack) {
  Ch341aEmulatorConfig config;
  config.kernelDriver = true;
  ASSERT_TRUE(Open(config));
  EXPECT_EQ(device->KernelDriverActive(0), 0);
  ASSERT_TRUE(backend->Close());
  EXPECT_EQ(device->KernelDriverActive(0), 1);

  const auto refusal = [&](Ch341aEmulatorConfig refusing) {
    refusing.sim.chip = "M25P80";
    std::string error;
    std::unique_ptr<Ch341aEmulator> held = Ch341aEmulator::Create(refusing, &error);
    EXPECT_FALSE(Ch341aBackend::Open({}, held->Seam(), trace, &error));
    return error;
  };
  config.noAutoDetach = true;
  EXPECT_EQ(refusal(config),
            "the CH341A at bus 1, address 7 is in use: its kernel driver holds it, and libusb cannot detach it here "
            "(Linux 6.10 and later bind spi-ch341 to 1a86:5512): unbind it or unload the module "
            "(sudo modprobe -r spi-ch341)");
  config.noAutoDetach = false;
  config.claimError = kUsbErrorBusy;
  EXPECT_EQ(refusal(config),
            "the CH341A at bus 1, address 7 is in use: another program or a kernel driver holds it (Linux 6.10 and "
            "later bind spi-ch341 to 1a86:5512, which libusb detaches for romwick where it can)");
}

struct FailureCase {
  const char* label;
  Ch341aEmulatorConfig config;
  std::string reason;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class Ch341aFailures : public Ch341a, public testing::WithParamInterface<FailureCase> {};

Ch341aEmulatorConfig Fault(uint64_t Ch341aEmulatorConfig::*field, uint64_t n) {
  Ch341aEmulatorConfig config;
  config.*field = n;
  return config;
}

// The identification's reply is the first; its write the first four
// packets (speed, pins and select, the command, the release).
TEST_P(Ch341aFailures, FailTheCallAndEveryBusCallAfterIt) {
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
    Table, Ch341aFailures,
    testing::Values(
        FailureCase{"ShortReply", Fault(&Ch341aEmulatorConfig::shortReply, 1),
                    "short reply from the CH341A: 3 of 4 bytes"},
        FailureCase{"MalformedReply", Fault(&Ch341aEmulatorConfig::longReply, 1),
                    "malformed reply from the CH341A: a packet longer than the 4 bytes due"},
        FailureCase{"Unplugged", Fault(&Ch341aEmulatorConfig::unplugAfter, 2),
                    "the CH341A is gone: unplugged, or it lost its power or its USB connection"},
        FailureCase{"StopsAnswering", Fault(&Ch341aEmulatorConfig::muteAfter, 2),
                    "the CH341A took no data within 1000 ms (endpoint 0x02)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

#ifdef ROMWICK_HAVE_LIBUSB
// libusb itself, on a machine without a CH341A (none is ever needed): the
// open fails with the reason a user would see.
TEST(Ch341aThroughLibusb, WithoutADeviceTheOpenSaysSo) {
  std::string error;
  std::unique_ptr<LibusbLibrary> usb = LibusbLibrary::Create(&error);
  if (!usb) GTEST_SKIP() << error;
  std::vector<UsbDevicePlace> found;
  ASSERT_EQ(usb->Find(ch341a::kVendor, ch341a::kProduct, &found), 0);
  if (!found.empty()) GTEST_SKIP() << "a CH341A is attached";
  TraceWriter trace;
  EXPECT_FALSE(Ch341aBackend::Open({}, std::move(usb), trace, &error));
  EXPECT_EQ(error, "no CH341A (USB 1a86:5512) found");
}
#endif

}  // namespace
