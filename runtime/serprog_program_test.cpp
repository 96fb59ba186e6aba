// SPDX-License-Identifier: MIT
// serprog: devices through the built program, against the serprog emulator
// that this test serves over a real pseudo-terminal or loopback socket; the
// test build of the runtime only paces the serial calls: the program's
// pauses pass on the emulator's clock, not the host's, and a wait for an
// answer that cannot come ends at once.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "sim/sim_chip_facts.h"
#include "testsupport/backend_round_trip.h"
#include "testsupport/run_program.h"
#include "testsupport/serprog_emulator.h"
#include "testsupport/write_expectations.h"

namespace {

using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::ScratchDir;

// Where a device name's port goes; the emulator's own name is put back as
// it in what the program writes.
const std::string kPlace = "EMULATOR";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// romwick with the test build of the runtime against the emulator that
// `description` describes, `pacing` more of its ROMWICK_TEST_SERPROG; the
// program's pauses go to the emulator's clock. The round trips are long
// (0.2 s), so that the polls of a long erase are few; the time is the
// emulator's own, so this changes nothing else.
ProgramResult RunPaced(const std::string& description, const std::vector<std::string>& args,
                       const std::string& pacing) {
  std::string error;
  std::unique_ptr<testsupport::SerprogEmulator> emulator =
      testsupport::SerprogEmulator::FromDescription("latency=200000," + description, &error);
  if (!emulator) {
    ADD_FAILURE() << error;
    return {};
  }
  emulator->Start();
  const std::string name = emulator->DeviceName();
  std::vector<std::string> placed;
  for (const std::string& arg : args) placed.push_back(Replaced(arg, kPlace, name));
  const std::string paced = "channel=" + emulator->Channel() + (pacing.empty() ? "" : "," + pacing);
  ProgramResult run = testsupport::RunOnTestDoubles(placed, {"ROMWICK_TEST_SERPROG=" + paced});
  emulator->Stop();
  // The port, and a TCP device's host and port as its reasons name it.
  for (const std::string& shown : {name, name.substr(name.find(':') + 1)}) {
    run.output = Replaced(run.output, shown, kPlace);
    run.errors = Replaced(run.errors, shown, kPlace);
  }
  return run;
}

ProgramResult RunOnEmulator(const std::string& description, const std::vector<std::string>& args) {
  return RunPaced(description, args, "");
}

ProgramResult RunOnEmulatorOverTcp(const std::string& description, const std::vector<std::string>& args) {
  return RunOnEmulator("tcp," + description, args);
}

const std::string kDevice = "serprog:" + kPlace;

// Write, read back, range erase and bulk erase on every chip, both
// generations, through pico-serprog on a pseudo-terminal; the whole chip
// image is compared after each run.
TEST(SerprogProgram, WritesReadsAndErasesEveryChipThroughTheEmulator) {
  for (const SimChipFacts& chip : SimChips()) {
    for (const char* generation : {"-1", "-2"}) {
      SCOPED_TRACE(std::string(chip.name) + " " + generation);
      const testsupport::RoundTrip trip{.device = kDevice, .generation = generation, .run = RunOnEmulator};
      // Pages, and more than one read command.
      testsupport::CheckWriteAndReadBack(chip, 5000, trip);
      testsupport::CheckBulkErase(chip, trip);
    }
  }
}

// The same over TCP, and through a device that carries at most a page's
// command out and 1 KiB back in one S_CMD_O_SPIOP: the programs split their
// reads by the window limit.
TEST(SerprogProgram, WritesReadsAndErasesOverTcpAndWithinStatedLengths) {
  for (const char* name : {"M25P80", "W25Q256JV", "AT45DB081"}) {
    const SimChipFacts& chip = *FindSimChip(name);
    for (const char* generation : {"-1", "-2"}) {
      SCOPED_TRACE(std::string(name) + " " + generation);
      testsupport::CheckWriteAndReadBack(
          chip, 5000, {.device = kDevice, .generation = generation, .run = RunOnEmulatorOverTcp});
      testsupport::CheckWriteAndReadBack(
          chip, 5000,
          {.device = kDevice, .generation = generation, .moreDescription = ",maxlen=270:1024", .run = RunOnEmulator});
    }
  }
}

TEST(SerprogProgram, HasNoConfigurationReset) {
  for (const char* generation : {"-1", "-2"}) {
    const ProgramResult run = RunOnEmulator("chip=M25P80", {"-d", kDevice, generation, "-cr", "-id"});
    EXPECT_EQ(run.output, "Configuration reset not supported by this device\n");
    EXPECT_EQ(run.exitCode, 9);
    EXPECT_EQ(run.errors, "");
  }
}

// Every entry-point call, and under it every serial write and read it
// made: what a user with a misbehaving programmer sends.
TEST(SerprogProgram, TraceShowsEachCallAndItsSerialTraffic) {
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  const std::string name = kDevice + ",trace=" + trace;
  const ProgramResult run = RunOnEmulator("chip=M25P80", {"-d", name, "-2", "-s", "8000000", "-id"});
  EXPECT_EQ(run.output, "  Device ID: 20 20 14\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.errors, "");
  const std::string expected =
      "1 open " + name + " -> ok\n"
      "    opened EMULATOR: raw, 8N1, no flow control, its rate as it was\n"
      "    serial write: 8 commands, 8 bytes: 00 | 00 | 00 | 00 | 00 | 00 | 00 | 00\n"
      "    serial write: 1 commands, 1 bytes: 10\n"
      "    serial write: 1 commands, 1 bytes: 10\n"
      "    synchronised: S_CMD_SYNCNOP answered NAK ACK twice\n"
      "    serial write: 1 commands, 1 bytes: 01\n"
      "    serial read: 1 answers, 3 bytes\n"
      "    serial write: 1 commands, 1 bytes: 02\n"
      "    serial read: 1 answers, 33 bytes\n"
      "    serial write: 1 commands, 1 bytes: 05\n"
      "    serial read: 1 answers, 2 bytes\n"
      "    serial write: 1 commands, 2 bytes: 12 08\n"
      "    serial read: 1 answers, 1 bytes\n"
      "    serial write: 1 commands, 1 bytes: 04\n"
      "    serial read: 1 answers, 3 bytes\n"
      "    serial write: 1 commands, 1 bytes: 03\n"
      "    serial read: 1 answers, 17 bytes\n"
      "    serial write: 1 commands, 2 bytes: 15 01\n"
      "    serial read: 1 answers, 1 bytes\n"
      "    serprog interface 1, 'pico-serprog': commands 00 01 02 03 04 05 10 12 13 14 15; bus types 0x08; "
      "S_CMD_O_SPIOP at most 16777215 bytes out, 16777215 back; input buffer 65535 bytes; output drivers on\n"
      "2 SerEnable(port=0) -> ok\n"
      "3 SerSetMode(mode=0,0) -> ok\n"
      "4 SerSetClock(hz=50000000) granted 31250000 -> ok\n"
      "    serial write: 1 commands, 5 bytes: 14 80 F0 FA 02\n"
      "    serial read: 1 answers, 5 bytes\n"
      "    S_CMD_S_SPI_FREQ 50000000 Hz: the device set 31250000 Hz\n"
      "5 SerSetClock(hz=8000000) granted 8000000 -> ok\n"
      "    serial write: 1 commands, 5 bytes: 14 00 12 7A 00\n"
      "    serial read: 1 answers, 5 bytes\n"
      "    S_CMD_S_SPI_FREQ 8000000 Hz: the device set 8000000 Hz\n"
      "6 SerSetSelect(level=0) -> ok\n"
      "7 SerXfer(select=0,0, n=4) tx 9F 00 00 00 rx FF 20 20 14 -> ok\n"
      "    serial write: 1 commands, 8 bytes: 13 01 00 00 03 00 00 9F\n"
      "    serial read: 1 answers, 4 bytes\n"
      "8 SerSetSelect(level=1) -> ok [x2]\n"
      "10 SerDisable() -> ok\n"
      "11 HubClose() -> ok\n"
      "    serial write: 1 commands, 2 bytes: 15 00\n"
      "    serial read: 1 answers, 1 bytes\n"
      "summary: writes=14 commands=21 spi-ops=1 bytes-out=39 bytes-in=87 selects=1 cs=high "
      "config-reset=released\n";
  EXPECT_EQ(std::regex_replace(ReadFile(trace), std::regex("/dev/pts/[0-9]+"), kPlace), expected);
}

TEST(SerprogProgram, ListFindsNoSerprogDevice) {
  const ProgramResult run = testsupport::RunOnTestDoubles(
      {"-list"}, {"ROMWICK_TEST_SERPROG=", "ROMWICK_TEST_FAKE_SPIDEV=chip=M25P80,nonode",
                  "ROMWICK_TEST_FTDI=chip=M25P80,devices=0", "ROMWICK_TEST_CH341A=chip=M25P80,devices=0"});
  EXPECT_EQ(run.output, "No SPI interface devices found\n");
  EXPECT_EQ(run.exitCode, 0);
}

struct FailureCase {
  const char* label;
  std::string emulator;  // the emulator's faults
  std::string pacing;    // ROMWICK_TEST_SERPROG
  std::string reason;    // the runtime's, on standard error
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class SerprogProgramWriteFailures : public testing::TestWithParam<FailureCase> {};

// A failure in the middle of a write ends the run with the program's
// message and the runtime's reason, at once; the chip holds the data up to
// the page being written when it failed, and nothing past that page.
TEST_P(SerprogProgramWriteFailures, EndTheRunAndWriteNothingBeyond) {
  const FailureCase& c = GetParam();
  for (const char* generation : {"-1", "-2"}) {
    for (const bool tcp : {false, true}) {
      SCOPED_TRACE(std::string(generation) + (tcp ? " tcp" : " pty"));
      const std::string more = std::string(tcp ? ",tcp," : ",") + c.emulator;
      const ProgramResult run = testsupport::CheckWriteFailsPartWay(
          {.device = kDevice,
           .generation = generation,
           .moreDescription = more,
           .run = [&](const std::string& description,
                      const std::vector<std::string>& args) { return RunPaced(description, args, c.pacing); }},
          2048);
      const std::string gone = tcp ? "the connection closed" : "the port closed (unplugged, or the device reset)";
      EXPECT_EQ(run.errors, "romwick runtime: " + Replaced(c.reason, "GONE", gone) + "\n");
    }
  }
}

// The identification, a status read, then four S_CMD_O_SPIOPs a page (write
// enable, page program, two polls): each fault strikes a few pages in.
INSTANTIATE_TEST_SUITE_P(
    Table, SerprogProgramWriteFailures,
    testing::Values(FailureCase{"HangsUp", "hangup=14", "", "EMULATOR is gone: GONE"},
                    FailureCase{"StopsAnswering", "mute=14", "",
                                "EMULATOR: no answer within 1000 ms to S_CMD_O_SPIOP: the device stopped answering"},
                    FailureCase{"RefusesAPageProgram", "nak=13", "", "EMULATOR refused S_CMD_O_SPIOP (NAK)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.label; });

struct OpenFailureCase {
  const char* label;
  std::string emulator;  // its keys besides the chip
  std::string pacing;    // ROMWICK_TEST_SERPROG
  std::string device;
  std::string reason;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.label; }

class SerprogProgramOpenFailures : public testing::TestWithParam<OpenFailureCase> {};

TEST_P(SerprogProgramOpenFailures, AreConnectFailuresWithTheReason) {
  const OpenFailureCase& c = GetParam();
  const ProgramResult run = RunPaced("chip=M25P80" + c.emulator, {"-d", c.device, "-id"}, c.pacing);
  EXPECT_EQ(run.output, "Unable to connect to device: " + c.device + "\n");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.errors, "romwick runtime: cannot open '" + c.device + "': " + c.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerprogProgramOpenFailures,
    testing::Values(
        OpenFailureCase{"NoSuchPort", "", "", "serprog:/dev/ttyACM-none", "no such serial port /dev/ttyACM-none"},
        // As root the open cannot be refused for real: the paced calls do.
        OpenFailureCase{"PermissionDenied", "", "deny=dialout", kDevice,
                        "permission denied on EMULATOR: it belongs to group 'dialout'; add your user to that group "
                        "(usermod -aG dialout <user>) and log in again"},
        OpenFailureCase{"NotASerialPort", "", "", "serprog:/dev/null",
                        "/dev/null is not a serial port (Inappropriate ioctl for device)"},
        OpenFailureCase{"AnswersSomethingElse", ",answer=4F4B", "", kDevice,
                        "EMULATOR: the synchronisation (S_CMD_SYNCNOP) was answered with 4F 4B 4F 4B 4F 4B 4F 4B 4F "
                        "4B 4F 4B 4F 4B 4F 4B and never NAK ACK twice in 4 tries of 1000 ms: this is no serprog "
                        "device, or it runs at another baud rate"},
        OpenFailureCase{"UnknownKey", "", "", kDevice + ",speed=1000000", "unknown key 'speed'"},
        OpenFailureCase{"BaudOverTcp", ",tcp", "", kDevice + ",baud=115200",
                        "baud= is for serial ports: a TCP connection has no baud rate"},
        OpenFailureCase{"NoTcpPort", "", "", "serprog:tcp:localhost", "a TCP device is named tcp:<host>:<port>"},
        OpenFailureCase{"NoPortNamed", "", "", "serprog:", "no serial port named (serprog:/dev/ttyACM<n>, or "
                                                           "tcp:<host>:<port>)"}),
    [](const testing::TestParamInfo<OpenFailureCase>& info) { return info.param.label; });

}  // namespace
