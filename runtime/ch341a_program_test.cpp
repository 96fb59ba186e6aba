// SPDX-License-Identifier: MIT
// ch341a: devices through the built program: against the CH341A emulator
// that the test build of the runtime core puts behind ch341a: names, and,
// where no device is needed, against libusb itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_chip_facts.h"
#include "testsupport/backend_round_trip.h"
#include "testsupport/run_program.h"
#include "testsupport/write_expectations.h"

namespace {

using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::ScratchDir;

// romwick with the test build of the runtime, whose ch341a: devices are the
// emulator that `emulator` describes; no spidev node or FTDI chip is there.
ProgramResult RunOnEmulator(const std::string& emulator, const std::vector<std::string>& args) {
  return testsupport::RunOnTestDoubles(args, {"ROMWICK_TEST_CH341A=" + emulator,
                                              "ROMWICK_TEST_FAKE_SPIDEV=chip=M25P80,nonode",
                                              "ROMWICK_TEST_FTDI=chip=M25P80,devices=0"});
}

// Write, read back, range erase and bulk erase on every chip, both
// generations, through the emulator.
TEST(Ch341aProgram, WritesReadsAndErasesEveryChipThroughTheEmulator) {
  for (const SimChipFacts& chip : SimChips()) {
    for (const char* generation : {"-1", "-2"}) {
      SCOPED_TRACE(std::string(chip.name) + " " + generation);
      const testsupport::RoundTrip trip{.device = "ch341a:", .generation = generation, .run = RunOnEmulator};
      // Pages, and more than one SPI packet stream.
      testsupport::CheckWriteAndReadBack(chip, 5000, trip);
      testsupport::CheckBulkErase(chip, trip);
    }
  }
}

TEST(Ch341aProgram, HasNoConfigurationReset) {
  for (const char* generation : {"-1", "-2"}) {
    const ProgramResult run = RunOnEmulator("chip=M25P80", {"-d", "ch341a:", generation, "-cr", "-id"});
    EXPECT_EQ(run.output, "Configuration reset not supported by this device\n");
    EXPECT_EQ(run.exitCode, 9);
    EXPECT_EQ(run.errors, "");
  }
}

// Every entry-point call, and under it every USB write and read it made:
// what a user with a misbehaving programmer sends. The clock is the
// device's whatever is asked.
TEST(Ch341aProgram, TraceShowsEachCallAndItsUsbTraffic) {
  for (const char* generation : {"-1", "-2"}) {
    ScratchDir dir;
    const std::string trace = dir.File("trace.txt");
    const std::string name = "ch341a:,trace=" + trace;
    const ProgramResult run = RunOnEmulator("chip=M25P80", {"-d", name, generation, "-s", "8000000", "-id"});
    EXPECT_EQ(run.output, "  Device ID: 20 20 14\n");
    EXPECT_EQ(run.exitCode, 0);
    const bool second = std::string(generation) == "-2";
    const std::string prefix = second ? "Ser" : "Pl";
    const std::string clocks =
        second ? "3 SerSetMode(mode=0,0) -> ok\n"
                 "4 SerSetClock(hz=50000000) granted 1500000 -> ok\n"
                 "    the CH341A's SPI clock is fixed: 1500000 Hz for 50000000 asked\n"
                 "5 SerSetClock(hz=8000000) granted 1500000 -> ok\n"
                 "    the CH341A's SPI clock is fixed: 1500000 Hz for 8000000 asked\n"
               : "3 PlSetMode(mode=0,0, hz=0) granted 1500000 -> ok\n"
                 "4 PlSetMode(mode=0,0, hz=50000000) granted 1500000 -> ok\n"
                 "    the CH341A's SPI clock is fixed: 1500000 Hz for 50000000 asked\n"
                 "5 PlSetMode(mode=0,0, hz=8000000) granted 1500000 -> ok\n"
                 "    the CH341A's SPI clock is fixed: 1500000 Hz for 8000000 asked\n";
    const std::string expected =
        "1 open " + name + " -> ok\n" +
        "    opened the CH341A at bus 1, address 7: interface 0 claimed, SPI clock 1500000 Hz (fixed)\n" + "2 " +
        prefix + "Enable(port=0) -> ok\n" + clocks + "6 " + prefix + "SetSelect(level=0) -> ok\n" + "7 " + prefix +
        "Xfer(select=0,0, n=4) tx 9F 00 00 00 rx FF 20 20 14 -> ok\n" +
        "    USB write: 3 transfers, 3 packets, 13 bytes: AA 61 00 | AB B7 7F B6 20 | A8 F9 00 00 00\n" +
        "    USB read: 1 packets, 4 bytes: FF 04 04 28\n" + "8 " + prefix + "SetSelect(level=1) -> ok [x2]\n" +
        "10 " + prefix + "Disable() -> ok\n" + "    USB write: 1 transfers, 1 packets, 5 bytes: AB B7 B7 40 20\n" +
        "11 " + (second ? "HubClose" : "PlClose") + "() -> ok\n" +
        "summary: usb-writes=2 out-packets=4 in-packets=1 spi-bytes=4 selects=1 status-reads=0 from-batches=0 "
        "modelled=0.002099 s round-trips=2 chip-selects=1 ops: read id=1 cs=high config-reset=released\n";
    EXPECT_EQ(ReadFile(trace), expected) << generation;
  }
}

TEST(Ch341aProgram, ListsTheDevicesAsNamesToOpen) {
  const ProgramResult two = RunOnEmulator("chip=M25P80,devices=2", {"-list"});
  EXPECT_EQ(two.output, "ch341a:index=0\nch341a:index=1\n");
  EXPECT_EQ(two.exitCode, 0);
  EXPECT_EQ(two.errors, "");
  const ProgramResult none = RunOnEmulator("chip=M25P80,devices=0", {"-list"});
  EXPECT_EQ(none.output, "No SPI interface devices found\n");
  EXPECT_EQ(none.exitCode, 0);
  // The second of two opens.
  EXPECT_EQ(RunOnEmulator("chip=M25P80,devices=2", {"-d", "ch341a:index=1", "-id"}).output,
            "  Device ID: 20 20 14\n");
}

struct FailureCase {
  const char* label;
  std::string emulator;  // the emulator's faults
  std::string reason;    // the runtime's, on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class Ch341aWriteFailures : public testing::TestWithParam<FailureCase> {};

// A failure in the middle of a write ends the run with the program's
// message and the runtime's reason, at once; the chip holds the data up to
// the page being written when it failed, and nothing past that page.
TEST_P(Ch341aWriteFailures, EndTheRunAndWriteNothingBeyond) {
  const FailureCase& c = GetParam();
  for (const char* generation : {"-1", "-2"}) {
    SCOPED_TRACE(generation);
    const ProgramResult run = testsupport::CheckWriteFailsPartWay(
        {.device = "ch341a:", .generation = generation, .moreDescription = "," + c.emulator, .run = RunOnEmulator},
        2048);
    EXPECT_EQ(run.errors, "romwick runtime: " + c.reason + "\n");
  }
}

// The OUT packets and replies of a page are some 12 and 10, besides the
// status batches: the counts put each fault a few pages into the write
// (the replies' into a status read, which depends on the device's modelled
// byte time: 58 since the emulator charges its measured 4.9 µs a byte).
INSTANTIATE_TEST_SUITE_P(
    Table, Ch341aWriteFailures,
    testing::Values(FailureCase{"ShortReply", "short=58", "short reply from the CH341A: 1 of 2 bytes"},
                    FailureCase{"MalformedReply", "long=58",
                                "malformed reply from the CH341A: a packet longer than the 2 bytes due"},
                    FailureCase{"Unplugged", "unplug=150",
                                "the CH341A is gone: unplugged, or it lost its power or its USB connection"},
                    FailureCase{"StopsAnswering", "mute=150", "the CH341A sent no reply within 1000 ms (endpoint 0x82)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

struct OpenFailureCase {
  const char* label;
  std::string emulator;  // its keys besides the chip
  std::string device;
  std::string reason;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.label; }

class Ch341aOpenFailures : public testing::TestWithParam<OpenFailureCase> {};

TEST_P(Ch341aOpenFailures, AreConnectFailuresWithTheReason) {
  const OpenFailureCase& c = GetParam();
  const ProgramResult run =
      RunOnEmulator("chip=M25P80" + (c.emulator.empty() ? "" : "," + c.emulator), {"-d", c.device, "-id"});
  EXPECT_EQ(run.output, "Unable to connect to device: " + c.device + "\n");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.errors, "romwick runtime: cannot open '" + c.device + "': " + c.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ch341aOpenFailures,
    testing::Values(OpenFailureCase{"PermissionDenied", "deny", "ch341a:",
                                    "permission denied on USB device 1a86:5512 (bus 1, address 7): install "
                                    "60-romwick.rules into /etc/udev/rules.d (see the README, Real hardware) and "
                                    "plug the device in again"},
                    OpenFailureCase{"NoneFound", "devices=0", "ch341a:", "no CH341A (USB 1a86:5512) found"},
                    OpenFailureCase{"SecondOfOne", "", "ch341a:index=1",
                                    "no CH341A at index 1: 1 found (index 0 to 0)"},
                    OpenFailureCase{"InUse", "busy", "ch341a:",
                                    "the CH341A at bus 1, address 7 is in use: another program holds it"},
                    OpenFailureCase{"UnknownKey", "", "ch341a:speed=1000000", "unknown key 'speed'"}),
    [](const testing::TestParamInfo<OpenFailureCase>& info) { return info.param.label; });

// The program as installed, its runtime reaching libusb: no CH341A is
// attached where the tests run, and the reason says so.
TEST(Ch341aProgram, WithLibusbAndNoDeviceTheReasonSaysSo) {
  const ProgramResult run = testsupport::RunRomwick({"-d", "ch341a:", "-id"});
  if (run.exitCode == 0) GTEST_SKIP() << "a CH341A is attached";
  EXPECT_EQ(run.output, "Unable to connect to device: ch341a:\n");
  EXPECT_EQ(run.exitCode, 4);
#ifdef ROMWICK_HAVE_LIBUSB
  EXPECT_EQ(run.errors, "romwick runtime: cannot open 'ch341a:': no CH341A (USB 1a86:5512) found\n");
#else
  EXPECT_EQ(run.errors,
            "romwick runtime: cannot open 'ch341a:': ch341a: needs libusb-1.0, and this runtime was built without it\n");
#endif
}

}  // namespace
