// SPDX-License-Identifier: MIT
// spidev: devices through the built program: against the real kernel where
// no hardware is needed, otherwise against the fake spidev kernel that the
// test build of the runtime core puts behind spidev: names.
#include <gtest/gtest.h>

#include <cstdio>
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
using testsupport::WriteFile;

const std::string kNode = "spidev:/dev/spidev0.0";

// romwick with the test build of the runtime, whose spidev: devices are the
// fake kernel that `fake` describes.
ProgramResult RunOnFake(const std::string& fake, const std::vector<std::string>& args) {
  return testsupport::RunOnTestDoubles(args, {"ROMWICK_TEST_FAKE_SPIDEV=" + fake});
}

// The number after "<name>=" in `line`, or "" without one.
std::string Field(const std::string& line, const std::string& name) {
  std::smatch m;
  return std::regex_search(line, m, std::regex(" " + name + "=([0-9]+)")) ? m[1].str() : "";
}

// Write, read back and range erase on every chip, both generations, both
// common buffer sizes, and each select window of the runtime was one
// chip-select period on the wire (the fake's count of periods is the
// runtime's of windows).
TEST(SpidevProgram, WritesReadsAndErasesEveryChipThroughTheFakeKernel) {
  // spidev carries a select window whole in one message or refuses it: the
  // programs split their reads by the runtime's window limit.
  for (const SimChipFacts& chip : SimChips()) {
    for (const char* generation : {"-1", "-2"}) {
      for (const char* bufferSize : {"4096", "65536"}) {
        SCOPED_TRACE(std::string(chip.name) + " " + generation + " bufsiz " + bufferSize);
        ScratchDir dir;
        const std::string report = dir.File("report.txt");
        const std::string summary = dir.File("summary.txt");
        const testsupport::RoundTrip trip{
            .device = kNode + ",summary=" + summary,
            .generation = generation,
            .moreDescription = std::string(",bufsiz=") + bufferSize + ",report=" + report,
            .run = RunOnFake,
            // The summary file collects a line a run: each check starts it afresh.
            .afterEachRun =
                [&] {
                  const std::string windows = Field(ReadFile(summary), "selects");
                  EXPECT_NE(windows, "");
                  EXPECT_EQ(Field(ReadFile(report), "selects"), windows);
                  std::remove(summary.c_str());
                }};
        // More than a read chunk and a buffer.
        testsupport::CheckWriteAndReadBack(chip, 70000, trip);
      }
    }
  }
}

// The controllers the fake kernel models besides the plain one: a driver
// that skips transfers without buffers, a half-duplex controller, a node
// whose device tree set chip select active high and dual transfers.
const std::vector<std::string> kControllers{"", ",skipempty", ",halfduplex", ",mode=0x504"};

// The DataFlash chip erase sends a command whose answer the programmer
// reads, so its window ends with the message of that answer, before the
// status polls.
TEST(SpidevProgram, BulkEraseErasesTheChip) {
  for (const char* chip : {"M25P80", "AT45DB081"}) {
    for (const char* generation : {"-1", "-2"}) {
      for (const std::string& controller : kControllers) {
        SCOPED_TRACE(std::string(chip) + " " + generation + controller);
        testsupport::CheckBulkErase(*FindSimChip(chip), {.device = kNode,
                                                         .generation = generation,
                                                         .moreDescription = controller,
                                                         .run = RunOnFake});
      }
    }
  }
}

// Write, read back and range erase of less than one select window carries,
// on each kind of controller, and the node keeps its mode bits for the
// next user.
TEST(SpidevProgram, WritesReadsAndErasesOnEveryKindOfController) {
  for (const char* chip : {"M25P80", "AT45DB081"}) {
    for (const char* generation : {"-1", "-2"}) {
      for (const std::string& controller : kControllers) {
        SCOPED_TRACE(std::string(chip) + " " + generation + controller);
        ScratchDir dir;
        const std::string report = dir.File("report.txt");
        const testsupport::RoundTrip trip{
            .device = kNode,
            .generation = generation,
            .moreDescription = controller + ",report=" + report,
            .run = RunOnFake,
            .afterEachRun = [&] { EXPECT_EQ(Field(ReadFile(report), "mode"), controller == ",mode=0x504" ? "1284" : "0"); }};
        testsupport::CheckWriteAndReadBack(*FindSimChip(chip), 2000, trip);
      }
    }
  }
}

struct FailureCase {
  const char* label;
  const char* fake;  // the fake kernel's description; null: the real kernel
  std::string device;
  std::vector<std::string> options;
  std::string output;  // the program's
  int exitCode;
  std::string reason;  // the runtime's, on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class SpidevFailures : public testing::TestWithParam<FailureCase> {};

// `text` with every "<name>" replaced by `value`.
std::string Substitute(std::string text, const std::string& name, const std::string& value) {
  for (size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, name.size(), value);
  return text;
}

TEST_P(SpidevFailures, SayWhyAndFailTheRun) {
  const FailureCase& c = GetParam();
  ScratchDir dir;
  // A plain file stands for a node that is no spidev device.
  WriteFile(dir.File("plain"), "");
  const std::string device = Substitute(c.device, "<dir>", dir.path());
  std::vector<std::string> args{"-d", device};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const std::string fake = c.fake && *c.fake ? std::string("chip=M25P80,") + c.fake : "chip=M25P80";
  const ProgramResult run = c.fake ? RunOnFake(fake, args) : testsupport::RunRomwick(args);
  EXPECT_EQ(run.output, Substitute(c.output, "<device>", device));
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.errors, Substitute(c.reason, "<dir>", dir.path()));
}

const std::string kConnect = "Unable to connect to device: <device>\n";

INSTANTIATE_TEST_SUITE_P(
    Table, SpidevFailures,
    testing::Values(
        FailureCase{"NoSuchNode", nullptr, "spidev:/nonexistent/spidev0.0", {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'spidev:/nonexistent/spidev0.0': no such device node "
                    "/nonexistent/spidev0.0 (spidev is not bound to that bus and chip select)\n"},
        FailureCase{"NotASpidevNode", nullptr, "spidev:<dir>/plain", {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'spidev:<dir>/plain': <dir>/plain is not a spidev device "
                    "(SPI_IOC_RD_MODE32: Inappropriate ioctl for device)\n"},
        FailureCase{"UnknownScheme", nullptr, "usb:0", {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'usb:0': no backend for 'usb:0' (try sim:<chip>, "
                    "spidev:/dev/spidev<bus>.<chip select>, ftdi:, ch341a:, ch347: or serprog:/dev/ttyACM<n>)\n"},
        FailureCase{"PermissionDenied", "deny=spi", kNode, {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'spidev:/dev/spidev0.0': permission denied on /dev/spidev0.0: it "
                    "belongs to group 'spi'; add your user to that group (usermod -aG spi <user>) and log in "
                    "again\n"},
        FailureCase{"NodeRefusesSpidevCalls", "notspidev", kNode, {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'spidev:/dev/spidev0.0': /dev/spidev0.0 is not a spidev device "
                    "(SPI_IOC_RD_MODE32: Inappropriate ioctl for device)\n"},
        FailureCase{"NoSuchPort", "", kNode, {"-p", "1", "-id"}, "Unable to enable SPI interface on device: <device>\n",
                    4,
                    "romwick runtime: /dev/spidev0.0 is one bus and one chip select: it has no port 1 (choose "
                    "another node, /dev/spidev<bus>.<chip select>)\n"},
        // The ioctls of a run: 1 and 2 read the mode and clock at open, 3
        // sets the mode, 4 the clock, 5 reads the identification.
        FailureCase{"ModeIoctlFails", "fail=3:5", kNode, {"-id"},
                    "Unable to initialize SPI interface on device: <device>\n", 4,
                    "romwick runtime: /dev/spidev0.0: SPI_IOC_WR_MODE32 failed (Input/output error)\n"},
        FailureCase{"ClockIoctlFails", "fail=4:22", kNode, {"-id"}, "Unable to set SPI clock speed\n", 4,
                    "romwick runtime: /dev/spidev0.0: SPI_IOC_WR_MAX_SPEED_HZ failed (Invalid argument)\n"},
        FailureCase{"MessageFails", "fail=5:90", kNode, {"-id"}, "Error reading from SPI device\n", 4,
                    "romwick runtime: /dev/spidev0.0: SPI_IOC_MESSAGE(1) failed (Message too long)\n"},
        FailureCase{"NoResetLine", "", kNode, {"-cr", "-id"}, "Configuration reset not supported by this device\n", 9,
                    ""},
        FailureCase{"NoSuchGpioChip", "", kNode + ",reset=gpiochip9:1", {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'spidev:/dev/spidev0.0,reset=gpiochip9:1': reset=gpiochip9:1: no "
                    "GPIO chip 'gpiochip9' (No such file or directory)\n"},
        // The fake GPIO chip's line 8 is another driver's (a chip select).
        FailureCase{"ResetLineHeldByAnother", "", kNode + ",reset=gpiochip0:8", {"-id"}, kConnect, 4,
                    "romwick runtime: cannot open 'spidev:/dev/spidev0.0,reset=gpiochip0:8': reset=gpiochip0:8: "
                    "cannot drive GPIO line gpiochip0:8 (Device or resource busy): 'spi0 CS0' holds it\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

// A failure in the middle of a write ends the run with the program's
// message and the kernel's reason; the chip holds whole pages of the data
// and nothing past them.
TEST(SpidevProgram, AFailedMessageInAWriteEndsTheRun) {
  for (const char* generation : {"-1", "-2"}) {
    SCOPED_TRACE(generation);
    // After the identification, each page takes a write enable, the page
    // program and its polls: the 40th ioctl falls in the fourth page or so.
    const ProgramResult run = testsupport::CheckWriteFailsPartWay(
        {.device = kNode, .generation = generation, .moreDescription = ",fail=40:5", .run = RunOnFake}, 2048);
    EXPECT_NE(run.errors.find("failed (Input/output error)\n"), std::string::npos) << run.errors;
  }
}

TEST(SpidevProgram, ConfigurationResetDrivesTheResetLine) {
  for (const std::string drive : {"", ":open-drain"}) {
    ScratchDir dir;
    const std::string trace = dir.File("trace.txt");
    const ProgramResult run =
        RunOnFake("chip=M25P80", {"-d", kNode + ",reset=gpiochip0:5" + drive + ",trace=" + trace, "-cr", "-id"});
    EXPECT_EQ(run.output, "  Device ID: 20 20 14\n");
    EXPECT_EQ(run.exitCode, 0);
    const std::string log = ReadFile(trace);
    const std::string taken = drive.empty() ? "GPIO gpiochip0:5 taken, configuration reset released"
                                            : "GPIO gpiochip0:5 taken as open drain, configuration reset released";
    for (const std::string& expected : {taken, std::string("AdmGetCaps() caps 2 -> ok"),
                                        std::string("AdmConfigReset(assert=1) -> ok\n    GPIO gpiochip0:5 active"),
                                        std::string("AdmConfigReset(assert=0) -> ok\n    GPIO gpiochip0:5 inactive"),
                                        std::string("config-reset=released")}) {
      EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    }
  }
}

// Every entry-point call, and under it every ioctl it made: what a user
// with a misbehaving board sends. The identification's message releases
// chip select; the releases after it send nothing.
TEST(SpidevProgram, TraceShowsEachCallAndItsIoctls) {
  for (const char* generation : {"-1", "-2"}) {
    ScratchDir dir;
    const std::string trace = dir.File("trace.txt");
    const std::string name = kNode + ",speed=1000000,trace=" + trace;
    const ProgramResult run = RunOnFake("chip=M25P80,nobufsiz", {"-d", name, generation, "-id"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string opened =
        "    opened /dev/spidev0.0: mode 0, 500000 Hz, buffer size 4096 (the driver's default: its bufsiz parameter "
        "cannot be read)\n";
    const std::string expected =
        std::string(generation) == "-2"
            ? "1 open " + name + " -> ok\n" + opened +
                  "2 SerEnable(port=0) -> ok\n"
                  "3 SerSetMode(mode=0,0) -> ok\n"
                  "    SPI_IOC_WR_MODE32 0 = 0\n"
                  "4 SerSetClock(hz=50000000) granted 1000000 -> ok\n"
                  "    SPI_IOC_WR_MAX_SPEED_HZ 1000000 = 0\n"
                  "5 SerSetSelect(level=0) -> ok\n"
                  "6 SerXfer(select=0,0, n=4) tx 9F 00 00 00 rx FF 20 20 14 -> ok\n"
                  "    SPI_IOC_MESSAGE(1) [4 tx rx] = 4\n"
                  "7 SerSetSelect(level=1) -> ok [x2]\n"
                  "9 SerDisable() -> ok\n"
                  "10 HubClose() -> ok\n"
                  "summary: ioctls=5 messages=1 bytes=4 selects=1 cs=high config-reset=released\n"
            : "1 open " + name + " -> ok\n" + opened +
                  "2 PlEnable(port=0) -> ok\n"
                  "3 PlSetMode(mode=0,0, hz=0) granted 500000 -> ok\n"
                  "    SPI_IOC_WR_MODE32 0 = 0\n"
                  "4 PlSetMode(mode=0,0, hz=50000000) granted 1000000 -> ok\n"
                  "    SPI_IOC_WR_MODE32 0 = 0\n"
                  "    SPI_IOC_WR_MAX_SPEED_HZ 1000000 = 0\n"
                  "5 PlSetSelect(level=0) -> ok\n"
                  "6 PlXfer(select=0,0, n=4) tx 9F 00 00 00 rx FF 20 20 14 -> ok\n"
                  "    SPI_IOC_MESSAGE(1) [4 tx rx] = 4\n"
                  "7 PlSetSelect(level=1) -> ok [x2]\n"
                  "9 PlDisable() -> ok\n"
                  "10 PlClose() -> ok\n"
                  "summary: ioctls=6 messages=1 bytes=4 selects=1 cs=high config-reset=released\n";
    EXPECT_EQ(ReadFile(trace), expected) << generation;
  }
}

}  // namespace
