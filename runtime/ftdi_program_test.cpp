// SPDX-License-Identifier: MIT
// ftdi: devices through the built program, against the MPSSE emulator that
// the test build of the runtime core puts behind ftdi: names; and -list.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "runtime/backends.h"
#include "sim/sim_chip_facts.h"
#include "testsupport/backend_round_trip.h"
#include "testsupport/run_program.h"
#include "testsupport/write_expectations.h"

namespace {

using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::ScratchDir;

// romwick with the test build of the runtime, whose ftdi: devices are the
// emulator `emulator` describes (and spidev: ones the fake kernel `spidev`).
ProgramResult RunOnEmulator(const std::string& emulator, const std::vector<std::string>& args,
                            const std::string& spidev = "chip=M25P80,nonode") {
  return testsupport::RunOnTestDoubles(args, {"ROMWICK_TEST_FTDI=" + emulator, "ROMWICK_TEST_FAKE_SPIDEV=" + spidev});
}

// The number after "<name>=" in `line`, or "" without one.
std::string Field(const std::string& line, const std::string& name) {
  std::smatch m;
  return std::regex_search(line, m, std::regex(" " + name + "=([0-9.]+)")) ? m[1].str() : "";
}

// Write, read back, range erase and bulk erase on every chip, both
// generations, through the emulator, which sees no broken rule.
TEST(FtdiProgram, WritesReadsAndErasesEveryChipThroughTheEmulator) {
  for (const SimChipFacts& chip : SimChips()) {
    for (const char* generation : {"-1", "-2"}) {
      SCOPED_TRACE(std::string(chip.name) + " " + generation);
      ScratchDir dir;
      const std::string report = dir.File("report.txt");
      const testsupport::RoundTrip trip{
          .device = "ftdi:",
          .generation = generation,
          .moreDescription = ",report=" + report,
          .run = [](const std::string& emulator, const std::vector<std::string>& args) {
            return RunOnEmulator(emulator, args);
          },
          .afterEachRun = [&] { EXPECT_EQ(Field(ReadFile(report), "violations"), "0"); }};
      // More than a read command and a chip buffer.
      testsupport::CheckWriteAndReadBack(chip, 70000, trip);
      testsupport::CheckBulkErase(chip, trip);
    }
  }
}

// -cr holds the line of reset= asserted while the program works on the chip:
// every chip-select period of the run falls while the emulator sees it
// asserted, on an FT2232H's second channel with chip select on ACBUS.
TEST(FtdiProgram, ConfigurationResetHoldsTheResetPin) {
  for (const char* generation : {"-1", "-2"}) {
    ScratchDir dir;
    const std::string report = dir.File("report.txt");
    const std::string emulator = "chip=N25Q128,type=FT2232H,cs=ACBUS3,reset=ADBUS4:active-high,report=" + report;
    const std::string device = "ftdi:iface=B,cs=ACBUS3,reset=ADBUS4:active-high";
    const ProgramResult run = RunOnEmulator(emulator, {"-d", device, "-cr", "-id"});
    const std::string line = ReadFile(report);
    if (std::string(generation) == "-1") {
      // The first generation has no configuration reset.
      EXPECT_EQ(RunOnEmulator(emulator, {"-d", device, "-1", "-cr", "-id"}).exitCode, 9);
      continue;
    }
    EXPECT_EQ(run.output, "  Device ID: 20 BA 18\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(Field(line, "selects"), "0");
    EXPECT_EQ(Field(line, "selects-in-reset"), Field(line, "selects")) << line;

    const ProgramResult without = RunOnEmulator(emulator, {"-d", device, "-id"});
    EXPECT_EQ(without.exitCode, 0);
    EXPECT_EQ(Field(ReadFile(report), "selects-in-reset"), "0");
  }
}

// An open-drain reset line, on a net that another device holds low while
// the run starts: -cr drives it low, and the pin is never driven high
// against that device (the emulator sees no short).
TEST(FtdiProgram, AnOpenDrainResetLineOnASharedNet) {
  ScratchDir dir;
  const std::string report = dir.File("report.txt");
  for (const char* net : {"", ",held"}) {
    SCOPED_TRACE(net);
    const std::string emulator = std::string("chip=N25Q128,reset=ADBUS4:open-drain") + net + ",report=" + report;
    const ProgramResult run = RunOnEmulator(emulator, {"-d", "ftdi:reset=ADBUS4:open-drain", "-cr", "-id"});
    EXPECT_EQ(run.output, "  Device ID: 20 BA 18\n");
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    const std::string line = ReadFile(report);
    EXPECT_EQ(Field(line, "violations"), "0") << line;
    EXPECT_EQ(Field(line, "selects-in-reset"), Field(line, "selects")) << line;
  }
}

struct FailureCase {
  const char* label;
  std::string emulator;  // more keys of the emulator
  std::string device;
  std::vector<std::string> options;
  std::string output;
  int exitCode;
  std::string reason;  // the runtime's, on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class FtdiFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(FtdiFailures, SayWhyAndFailTheRun) {
  const FailureCase& c = GetParam();
  std::vector<std::string> args{"-d", c.device};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const ProgramResult run = RunOnEmulator("chip=M25P80" + c.emulator, args);
  EXPECT_EQ(run.output, c.output);
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_EQ(run.errors, c.reason);
}

const std::string kDevice = "FT232H 0403:6014 (bus 1, address 2)";

INSTANTIATE_TEST_SUITE_P(
    Table, FtdiFailures,
    testing::Values(
        FailureCase{"NoDevice", ",devices=0", "ftdi:", {"-id"}, "Unable to connect to device: ftdi:\n", 4,
                    "romwick runtime: cannot open 'ftdi:': no FT232H, FT2232H or FT4232H found on the USB (looked "
                    "for 0403:6014, 0403:6010, 0403:6011)\n"},
        FailureCase{"PermissionDenied", ",deny", "ftdi:", {"-id"}, "Unable to connect to device: ftdi:\n", 4,
                    "romwick runtime: cannot open 'ftdi:': permission denied on USB device 0403:6014 (bus 1, "
                    "address 2): install 60-romwick.rules into /etc/udev/rules.d (see the README, Real hardware) "
                    "and plug the device in again\n"},
        FailureCase{"NoSuchPort", "", "ftdi:", {"-p", "1", "-id"},
                    "Unable to enable SPI interface on device: ftdi:\n", 4,
                    "romwick runtime: " + kDevice +
                        ": a device name drives one channel, it has no port 1 (choose the channel with iface=)\n"},
        FailureCase{"NoResetLine", "", "ftdi:", {"-cr", "-id"}, "Configuration reset not supported by this device\n",
                    9, ""},
        // Writes: 1 sets the engine up, 2 the identification.
        FailureCase{"MalformedReply", ",garble=2", "ftdi:", {"-id"}, "Error reading from SPI device\n", 4,
                    "romwick runtime: " + kDevice +
                        ": malformed reply: 6 bytes should end in FA AB, they end in 14 FA\n"},
        FailureCase{"ShortRead", ",short=2", "ftdi:", {"-id"}, "Error reading from SPI device\n", 4,
                    "romwick runtime: " + kDevice +
                        ": short read: 5 of 6 reply bytes came, then nothing for 1000 ms\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

// A device unplugged, a reply garbled or cut short in the middle of a write
// ends the run with the program's message and the runtime's reason; the
// chip holds whole pages of the data and nothing past them.
TEST(FtdiProgram, AFailureInTheMiddleOfAWriteEndsTheRun) {
  struct Fault {
    const char* key;
    const char* reason;
  };
  for (const Fault& fault : {Fault{"unplug=30", "is gone from the USB (unplugged?)"},
                             Fault{"garble=12", "malformed reply"}, Fault{"short=12", "short read"}}) {
    for (const char* generation : {"-1", "-2"}) {
      SCOPED_TRACE(std::string(fault.key) + " " + generation);
      const ProgramResult run = testsupport::CheckWriteFailsPartWay(
          {.device = "ftdi:",
           .generation = generation,
           .moreDescription = std::string(",") + fault.key,
           .run = [](const std::string& emulator, const std::vector<std::string>& args) {
             return RunOnEmulator(emulator, args);
           }},
          4096);
      EXPECT_NE(run.errors.find(fault.reason), std::string::npos) << run.errors;
    }
  }
}

TEST(FtdiProgram, ListsTheDevicesItCanFind) {
  const ProgramResult two = RunOnEmulator("chip=M25P80,devices=2", {"-list"}, "chip=M25P80");
  // The fake spidev kernel's node first, where the runtime has that backend.
  const std::string node = FindScheme("spidev")->absent ? "" : "spidev:/dev/spidev0.0\n";
  EXPECT_EQ(two.output, node + "ftdi:serial=RW000001\nftdi:serial=RW000002\n");
  EXPECT_EQ(two.exitCode, 0);
  EXPECT_EQ(two.errors, "");

  const ProgramResult anonymous = RunOnEmulator("chip=M25P80,type=FT4232H,noserial", {"-list"});
  EXPECT_EQ(anonymous.output, "ftdi:index=0\n");
  EXPECT_EQ(anonymous.exitCode, 0);

  const ProgramResult none = RunOnEmulator("chip=M25P80,devices=0", {"-list"});
  EXPECT_EQ(none.output, "No SPI interface devices found\n");
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.errors, "");
}

}  // namespace
