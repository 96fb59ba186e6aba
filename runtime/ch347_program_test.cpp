// SPDX-License-Identifier: MIT
// ch347: devices through the built program: against the CH347 emulator
// that the test build of the runtime core puts behind ch347: names, and,
// where no device is needed, against libusb itself.
#include <gtest/gtest.h>

#include <regex>
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

// romwick with the test build of the runtime, whose ch347: devices are the
// emulator that `emulator` describes; no spidev node, FTDI chip or CH341A
// is there.
ProgramResult RunOnEmulator(const std::string& emulator, const std::vector<std::string>& args) {
  return testsupport::RunOnTestDoubles(args, {"ROMWICK_TEST_CH347=" + emulator,
                                              "ROMWICK_TEST_FAKE_SPIDEV=chip=M25P80,nonode",
                                              "ROMWICK_TEST_FTDI=chip=M25P80,devices=0",
                                              "ROMWICK_TEST_CH341A=chip=M25P80,devices=0"});
}

// The number after "<name>=" in `line`, or "" without one.
std::string Field(const std::string& line, const std::string& name) {
  std::smatch m;
  return std::regex_search(line, m, std::regex(" " + name + "=([0-9.]+)")) ? m[1].str() : "";
}

// Write, read back, range erase and bulk erase on every chip, both
// generations, through the emulator, which sees no broken rule (it would
// say so on standard error). The CH347F on its interface 4 for half of them.
TEST(Ch347Program, WritesReadsAndErasesEveryChipThroughTheEmulator) {
  bool f = false;
  for (const SimChipFacts& chip : SimChips()) {
    for (const char* generation : {"-1", "-2"}) {
      SCOPED_TRACE(std::string(chip.name) + " " + generation);
      const testsupport::RoundTrip trip{.device = "ch347:",
                                        .generation = generation,
                                        .moreDescription = f ? ",model=F" : "",
                                        .run = RunOnEmulator};
      f = !f;
      // Pages, a read longer than one reply and one command of the program.
      testsupport::CheckWriteAndReadBack(chip, 70000, trip);
      testsupport::CheckBulkErase(chip, trip);
    }
  }
}

// The same at the device's fastest clock, which the program caps at the
// chip's limit: the N25Q128 takes 60 MHz (with fast reads above 54 MHz),
// the M25P80 40 MHz, granted 30.
TEST(Ch347Program, WritesAndReadsAtTheClockTheChipAllows) {
  for (const char* name : {"N25Q128", "M25P80"}) {
    SCOPED_TRACE(name);
    const testsupport::RoundTrip trip{.device = "ch347:", .generation = "-2", .run = [](const std::string& emulator,
                                                                                          std::vector<std::string> args) {
      args.insert(args.end(), {"-s", "60000000"});
      return RunOnEmulator(emulator, args);
    }};
    testsupport::CheckWriteAndReadBack(*FindSimChip(name), 5000, trip);
  }
}

TEST(Ch347Program, WithoutResetKeyHasNoConfigurationReset) {
  const ProgramResult run = RunOnEmulator("chip=M25P80", {"-d", "ch347:", "-cr", "-id"});
  EXPECT_EQ(run.output, "Configuration reset not supported by this device\n");
  EXPECT_EQ(run.exitCode, 9);
  EXPECT_EQ(run.errors, "");
}

// -cr holds the GPIO of reset= asserted while the program works on the
// chip: every chip-select period falls while the emulator sees it asserted.
TEST(Ch347Program, ConfigurationResetHoldsTheResetGpio) {
  ScratchDir dir;
  const std::string report = dir.File("report.txt");
  const std::string emulator = "chip=N25Q128,reset=6:active-high,report=" + report;
  const ProgramResult run = RunOnEmulator(emulator, {"-d", "ch347:reset=6:active-high", "-cr", "-id"});
  EXPECT_EQ(run.output, "  Device ID: 20 BA 18\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.errors, "");
  const std::string line = ReadFile(report);
  EXPECT_NE(Field(line, "chip-selects"), "0");
  EXPECT_EQ(Field(line, "selects-in-reset"), Field(line, "chip-selects")) << line;
  EXPECT_EQ(RunOnEmulator(emulator, {"-d", "ch347:reset=6:active-high", "-id"}).exitCode, 0);
  EXPECT_EQ(Field(ReadFile(report), "selects-in-reset"), "0");
}

// -p 1 is CS1, as cs=1 is with port 0; the chip is on CS1.
TEST(Ch347Program, PortOrCsKeyPicksTheChipSelect) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-d", "ch347:", "-p", "1", "-id"},
                                               std::vector<std::string>{"-d", "ch347:cs=1", "-id"}}) {
    const ProgramResult run = RunOnEmulator("chip=M25P80,cs=1", args);
    EXPECT_EQ(run.output, "  Device ID: 20 20 14\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors, "");
  }
}

// Every entry-point call, and under it every USB write and read it made:
// what a user with a misbehaving programmer sends. The clock granted is the
// fastest step of 60 MHz not above the one asked for.
TEST(Ch347Program, TraceShowsEachCallItsUsbTrafficAndTheClockGranted) {
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  const std::string name = "ch347:,trace=" + trace;
  const ProgramResult run = RunOnEmulator("chip=M25P80", {"-d", name, "-s", "8000000", "-id"});
  EXPECT_EQ(run.output, "  Device ID: 20 20 14\n");
  EXPECT_EQ(run.exitCode, 0);
  const std::string expected =
      "1 open " + name + " -> ok\n" +
      "    opened the CH347T at bus 1, address 7: interface 2 claimed\n"
      "    USB write: 1 commands, 29 bytes: C0 1A 00 00 00 04 01 00 00 00 00 00 00 00 02 10 ...\n"
      "    USB read: 1 replies, 4 bytes: C0 01 00 00\n"
      "2 SerEnable(port=0) -> ok\n"
      "3 SerSetMode(mode=0,0) -> ok\n"
      "4 SerSetClock(hz=50000000) granted 30000000 -> ok\n"
      "5 SerSetClock(hz=8000000) granted 7500000 -> ok\n"
      "6 SerSetSelect(level=0) -> ok\n"
      "7 SerXfer(select=0,0, n=4) tx 9F 00 00 00 rx FF 20 20 14 -> ok\n"
      "    USB write: 3 commands, 49 bytes: C0 1A 00 00 00 04 01 00 00 00 00 00 00 00 02 18 ...\n"
      "    USB read: 2 replies, 11 bytes: C0 01 00 00 C2 04 00 FF 20 20 14\n"
      "8 SerSetSelect(level=1) -> ok [x2]\n"
      "10 SerDisable() -> ok\n"
      "    USB write: 1 commands, 13 bytes: C1 0A 00 C0 00 00 00 00 00 00 00 00 00\n"
      "11 HubClose() -> ok\n";
  const std::string text = ReadFile(trace);
  EXPECT_EQ(text.substr(0, text.find("summary: ")), expected);
  EXPECT_NE(text.find("summary: usb-writes=3 commands=5 replies=3 spi-bytes=4 selects=1 status-reads=0 "
                      "from-batches=0 clock=7500000 modelled="),
            std::string::npos)
      << text;
}

TEST(Ch347Program, ListsTheDevicesAsNamesToOpen) {
  const ProgramResult two = RunOnEmulator("chip=M25P80,devices=2", {"-list"});
  EXPECT_EQ(two.output, "ch347:index=0\nch347:index=1\n");
  EXPECT_EQ(two.exitCode, 0);
  EXPECT_EQ(two.errors, "");
  const ProgramResult f = RunOnEmulator("chip=M25P80,model=F", {"-list"});
  EXPECT_EQ(f.output, "ch347:index=0\n");
  const ProgramResult none = RunOnEmulator("chip=M25P80,devices=0", {"-list"});
  EXPECT_EQ(none.output, "No SPI interface devices found\n");
  EXPECT_EQ(none.exitCode, 0);
  // The second of two opens, and so does the one with its serial number.
  EXPECT_EQ(RunOnEmulator("chip=M25P80,devices=2", {"-d", "ch347:index=1", "-id"}).output, "  Device ID: 20 20 14\n");
  EXPECT_EQ(RunOnEmulator("chip=M25P80,devices=2,serials=A1/B2", {"-d", "ch347:serial=B2", "-id"}).output,
            "  Device ID: 20 20 14\n");
}

struct FailureCase {
  const char* label;
  std::string emulator;  // the emulator's faults
  std::string reason;    // the runtime's, on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class Ch347WriteFailures : public testing::TestWithParam<FailureCase> {};

// A failure in the middle of a write ends the run with the program's
// message and the runtime's reason, at once; the chip holds the data up to
// the page being written when it failed, and nothing past that page.
TEST_P(Ch347WriteFailures, EndTheRunAndWriteNothingBeyond) {
  const FailureCase& c = GetParam();
  for (const char* generation : {"-1", "-2"}) {
    SCOPED_TRACE(generation);
    const ProgramResult run = testsupport::CheckWriteFailsPartWay(
        {.device = "ch347:", .generation = generation, .moreDescription = "," + c.emulator, .run = RunOnEmulator},
        2048);
    EXPECT_EQ(run.errors, "romwick runtime: " + c.reason + "\n");
  }
}

// A page is some 20 commands and 11 replies with its status batch: the
// counts put each fault a few pages into the write, the replies' into the
// reply to a page program's data in both generations.
INSTANTIATE_TEST_SUITE_P(
    Table, Ch347WriteFailures,
    testing::Values(FailureCase{"ShortReply", "short=56", "short reply from the CH347: 3 of 4 bytes"},
                    FailureCase{"MalformedReply", "long=56",
                                "malformed reply from the CH347: a packet longer than the 4 bytes due"},
                    FailureCase{"AnswersSomethingElse", "strange=56",
                                "malformed reply from the CH347: CA 01 00 where the reply to C4 was due"},
                    FailureCase{"Unplugged", "unplug=100",
                                "the CH347 is gone: unplugged, or it lost its power or its USB connection"},
                    FailureCase{"StopsAnswering", "mute=130", "the CH347 sent no reply within 1000 ms (endpoint 0x86)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

struct OpenFailureCase {
  const char* label;
  std::string emulator;  // its keys besides the chip
  std::string device;
  std::string reason;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.label; }

class Ch347OpenFailures : public testing::TestWithParam<OpenFailureCase> {};

TEST_P(Ch347OpenFailures, AreConnectFailuresWithTheReason) {
  const OpenFailureCase& c = GetParam();
  const ProgramResult run =
      RunOnEmulator("chip=M25P80" + (c.emulator.empty() ? "" : "," + c.emulator), {"-d", c.device, "-id"});
  EXPECT_EQ(run.output, "Unable to connect to device: " + c.device + "\n");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.errors, "romwick runtime: cannot open '" + c.device + "': " + c.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ch347OpenFailures,
    testing::Values(OpenFailureCase{"PermissionDenied", "deny", "ch347:",
                                    "permission denied on USB device 1a86:55db (bus 1, address 7): install "
                                    "60-romwick.rules into /etc/udev/rules.d (see the README, Real hardware) and "
                                    "plug the device in again"},
                    OpenFailureCase{"NoneFound", "devices=0", "ch347:", "no CH347 (USB 1a86:55db or 1a86:55de) found"},
                    OpenFailureCase{"SecondOfOne", "", "ch347:index=1", "no CH347 at index 1: 1 found (index 0 to 0)"},
                    OpenFailureCase{"InUse", "busy", "ch347:",
                                    "the CH347T at bus 1, address 7 is in use: another program holds it"},
                    OpenFailureCase{"AnswersSomethingElse", "strange=1", "ch347:",
                                    "malformed reply from the CH347: CA 01 00 where the reply to C0 was due"},
                    OpenFailureCase{"UnknownKey", "", "ch347:speed=1000000", "unknown key 'speed'"},
                    OpenFailureCase{"NoThirdChipSelect", "", "ch347:cs=2", "bad value in 'cs=2'"},
                    OpenFailureCase{"NoNinthGpio", "", "ch347:reset=8", "bad value in 'reset=8'"}),
    [](const testing::TestParamInfo<OpenFailureCase>& info) { return info.param.label; });

// The udev rules give every model the backend finds to the user.
TEST(Ch347Program, TheUdevRulesCoverEveryModel) {
  const std::string rules = ReadFile(testsupport::SourceDir() + "/runtime/udev/60-romwick.rules");
  for (const char* product : {"55db", "55de"}) {
    EXPECT_NE(rules.find(std::string("ATTR{idVendor}==\"1a86\", ATTR{idProduct}==\"") + product +
                         "\", MODE=\"0660\", GROUP=\"plugdev\", TAG+=\"uaccess\""),
              std::string::npos)
        << product;
  }
}

// The program as installed, its runtime reaching libusb: no CH347 is
// attached where the tests run, and the reason says so.
TEST(Ch347Program, WithLibusbAndNoDeviceTheReasonSaysSo) {
  const ProgramResult run = testsupport::RunRomwick({"-d", "ch347:", "-id"});
  if (run.exitCode == 0) GTEST_SKIP() << "a CH347 is attached";
  EXPECT_EQ(run.output, "Unable to connect to device: ch347:\n");
  EXPECT_EQ(run.exitCode, 4);
#ifdef ROMWICK_HAVE_LIBUSB
  EXPECT_EQ(run.errors, "romwick runtime: cannot open 'ch347:': no CH347 (USB 1a86:55db or 1a86:55de) found\n");
#else
  EXPECT_EQ(run.errors,
            "romwick runtime: cannot open 'ch347:': ch347: needs libusb-1.0, and this runtime was built without it\n");
#endif
}

}  // namespace
