// SPDX-License-Identifier: MIT
// Complete runs through the built program against the simulated chips,
// judged by what it prints, its exit code, the chip's image file and the
// files it writes.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/run_fixture.h"
#include "testsupport/run_program.h"

namespace {

using namespace runtest;

TEST_F(Run, WriteThenReadInEveryFormatOnEveryChip) {
  const uint32_t length = 5000;
  for (const Chip& chip : kChips) {
    for (const Format& format : kFormats) {
      for (const uint32_t address : {0u, chip.size / 2 + 0x1234u}) {
        SCOPED_TRACE(std::string(chip.name) + " " + format.flag + " at " + std::to_string(address));
        std::string expected = Seed(chip);
        const std::string data = Pattern(length, address + 1);
        const std::string input = File("in", format.encode(data));
        // The DataFlash has no sector erase; its pages are erased as they are programmed.
        const bool dataflash = chip.sector == 0;
        const auto write = Romwick({"-d", Dev(chip), "-w", input, format.flag, "-a", std::to_string(address),
                                    dataflash ? "-NE" : "-e"});
        if (!dataflash) EraseCovering(expected, chip, address, length);
        expected.replace(address, length, data);
        EXPECT_EQ(write.output, std::string(dataflash ? "" : "Doing partial erase of flash memory device\n") +
                                    "Writing file: " + input + " to flash memory device\n" +
                                    "Bytes written to flash: 5000\nBytes verified: 5000\n");
        EXPECT_EQ(write.exitCode, 0);
        EXPECT_TRUE(Contents() == expected);

        const std::string output = dir.File("out");
        const auto read = Romwick({"-d", Dev(chip), "-r", output, format.flag, "-a", std::to_string(address),
                                   "-l", std::to_string(length)});
        EXPECT_EQ(read.output,
                  "Reading flash memory and writing to file: " + output + "\nBytes written to file: 5000\n");
        EXPECT_EQ(read.exitCode, 0);
        EXPECT_EQ(ReadFile(output), ReadFile(input));
      }
    }
  }
}

TEST_F(Run, IntelHexImageIsProgrammedAndErasedAtItsOwnAddresses) {
  std::string expected = Seed(M25P80);
  const std::string data = Pattern(0x180, 3);
  const std::string input = File("in.hex", IntelHex(data, 0x10000));
  const auto run = Romwick({"-d", Dev(M25P80), "-w", input, "-fi", "-a", "0x20000"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                            " to flash memory device\nBytes written to flash: 384\nBytes verified: 384\n");
  EraseCovering(expected, M25P80, 0x30000, 0x180);  // only the sector the image lies in
  expected.replace(0x30000, 0x180, data);
  EXPECT_TRUE(Contents() == expected);
}

TEST_F(Run, DeviceAloneHasNoLengthToErase) {
  const std::string before = Seed(M25P80);
  const auto run = Romwick({"-d", Dev(M25P80)});
  EXPECT_EQ(run.output, "Data length for partial erase not specified\n");
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_TRUE(Contents() == before);
}

TEST_F(Run, LengthAloneErasesTheSectorsItCovers) {
  std::string expected = Seed(M25P80);
  const auto run = Romwick({"-d", Dev(M25P80), "-l", "4096"});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\n");
  EXPECT_EQ(run.exitCode, 0);
  EraseCovering(expected, M25P80, 0, 4096);
  EXPECT_TRUE(Contents() == expected);
}

TEST_F(Run, HugeEraseLengthErasesUpToTheEnd) {
  std::string expected = Seed(M25P80);
  const auto run = Romwick({"-d", Dev(M25P80), "-a", "0xF0000", "-l", "0x80000000"});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\n");
  EXPECT_EQ(run.exitCode, 0);
  EraseCovering(expected, M25P80, 0xF0000, 0x10000);
  EXPECT_TRUE(Contents() == expected);
}

TEST_F(Run, IdentificationPrintsAnyCodeAndTouchesNothing) {
  for (const Chip& chip : kChips) {
    const std::string before = Seed(chip);
    const auto run = Romwick({"-d", Dev(chip), "-id", "-E", "-t"});
    EXPECT_EQ(run.output, std::string("  Device ID: ") + chip.id + "\n") << chip.name;
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contents() == before) << chip.name;
  }
  const auto unknown = Romwick({"-d", "sim:M25P80,id=C22017", "-id"});
  EXPECT_EQ(unknown.output, "  Device ID: C2 20 17\n");
  EXPECT_EQ(unknown.exitCode, 0);
  const auto absent = Romwick({"-d", "sim:M25P80,nochip", "-id"});
  EXPECT_EQ(absent.output, "  Device ID: FF FF FF\n");
}

TEST_F(Run, UnrecognisedDevicesStopTheRun) {
  const std::string trace = dir.File("trace.txt");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-d", "sim:M25P80,id=AB1218", "-l", "4096"},
           {"-d", "sim:M25P80,trace=" + trace, "-m", "M25P99", "-E"},
       }) {
    const auto run = Romwick(args);
    EXPECT_EQ(run.output, "Device ID code not a recognized device\n") << args[1];
    EXPECT_EQ(run.exitCode, 10) << args[1];
  }
  // With -m the chip is not asked for its code.
  EXPECT_EQ(ReadFile(trace).find("tx 9F"), std::string::npos) << ReadFile(trace);
}

// The code is read twice: no chip, or a wire that drops a bit, stops the
// run before anything is erased, and says to check the wiring.
TEST_F(Run, IdentificationThatCannotBeTrustedStopsTheRun) {
  const std::string before = Seed(M25P80);
  const auto absent = Romwick({"-d", "sim:M25P80,nochip", "-E"});
  EXPECT_EQ(absent.output, "No flash memory device answers (device ID code FF FF FF): check the wiring\n");
  EXPECT_EQ(absent.exitCode, 10);
  const auto glitch = Romwick({"-d", Dev(M25P80, ",idglitch"), "-E"});
  EXPECT_EQ(glitch.output,
            "Device ID code read twice differs (20 20 14, then 20 20 04): check the wiring\n");
  EXPECT_EQ(glitch.exitCode, 4);
  EXPECT_EQ(Contents(), before);
}

TEST_F(Run, MemoryTypeNamesTheDeviceWithoutAskingTheChip) {
  const std::string before = Seed(M25P80);
  const std::string data = Pattern(300, 9);
  const std::string input = File("in.bin", data);
  const auto run = Romwick({"-d", Dev(M25P80, ",id=000000"), "-m", "m25p80", "-w", input});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Contents().substr(0, 300), data);
}

TEST_F(Run, DataFlashRefusesARangeEraseButWritesWithBulkOrNoErase) {
  const std::string data = Pattern(1000, 5);
  const std::string input = File("in.bin", data);
  Seed(AT45DB081);
  const auto refused = Romwick({"-d", Dev(AT45DB081), "-w", input});
  EXPECT_EQ(refused.output,
            "Doing partial erase of flash memory device\n"
            "Requested operation not supported on this device\n"
            "Error writing to SPI device\n");
  EXPECT_EQ(refused.exitCode, 4);

  const auto bulk = Romwick({"-d", Dev(AT45DB081), "-w", input, "-E", "-a", "100"});
  EXPECT_EQ(bulk.exitCode, 0) << bulk.output;
  std::string expected(AT45DB081.size, '\xFF');
  expected.replace(100, 1000, data);
  EXPECT_TRUE(Contents() == expected);

  std::string seeded = Seed(AT45DB081);
  const auto noErase = Romwick({"-d", Dev(AT45DB081), "-w", input, "-NE", "-a", "1000"});
  EXPECT_EQ(noErase.exitCode, 0) << noErase.output;
  seeded.replace(1000, 1000, data);  // the rest of each partly written page stays
  EXPECT_TRUE(Contents() == seeded);
}

TEST_F(Run, ImagesWithoutDataAreRefusedBeforeTheChipIsTouched) {
  struct Case {
    const char* name;
    std::string text;
    const char* format;
  };
  for (const Case& c : {Case{"empty.bin", "", "-fb"}, Case{"blank.txt", "\n  \n", "-fh"},
                        Case{"nodata.hex", ":020000040001F9\n:00000001FF\n", "-fi"}}) {
    const std::string before = Seed(M25P80);
    const std::string input = File(c.name, c.text);
    const auto run = Romwick({"-d", Dev(M25P80), "-w", input, c.format, "-a", "0x80000"});
    EXPECT_EQ(run.output, "Input file holds no data: " + input + "\n");
    EXPECT_EQ(run.exitCode, 6);
    EXPECT_TRUE(Contents() == before) << c.name;
  }
}

TEST_F(Run, ImagesThatDoNotFitAreRefusedBeforeAnythingIsErased) {
  const std::string data = Pattern(300, 11);
  struct Case {
    std::string input;
    const char* format;
    uint32_t address;
    const char* end;
  };
  for (const Case& c : {Case{File("in.bin", data), "-fb", M25P80.size - 100, "0x1000C8"},
                        Case{File("in.bin", data), "-fb", M25P80.size, "0x10012C"},
                        Case{File("in.bin", data), "-fb", 0xFFFFFF00u, "0x10000002C"},
                        Case{File("in.hex", IntelHex(data.substr(0, 32), 0xFFFF0)), "-fi", 0, "0x100010"}}) {
    const std::string before = Seed(M25P80);
    const auto run = Romwick({"-d", Dev(M25P80), "-w", c.input, c.format, "-a", std::to_string(c.address)});
    EXPECT_EQ(run.output, std::string("Image does not fit in the flash memory device: it ends at ") + c.end +
                              ", the device at 0x100000\n");
    EXPECT_EQ(run.exitCode, 12);
    // Nothing erased, and nothing wrapped round to the start of the chip.
    EXPECT_TRUE(Contents() == before) << c.end;
  }
  // An image that ends exactly at the end of the device fits.
  std::string expected = Seed(M25P80);
  const auto fits = Romwick({"-d", Dev(M25P80), "-w", File("in.bin", data), "-a", std::to_string(M25P80.size - 300)});
  EXPECT_EQ(fits.exitCode, 0) << fits.output;
  EraseCovering(expected, M25P80, M25P80.size - 300, 300);
  expected.replace(M25P80.size - 300, 300, data);
  EXPECT_TRUE(Contents() == expected);
}

// Records far apart: only the sectors under them are erased and only their
// bytes programmed; what the chip holds between them stays.
TEST_F(Run, SparseIntelHexTouchesOnlyWhatItsRecordsHold) {
  const std::string a = Pattern(16, 21), b = Pattern(16, 22), c = Pattern(40, 23), d = Pattern(8, 24);
  // 0 and 0x40 share sector 0; 0x1FFF8 ends sector 1 next to sector 2's
  // 0x20000 record; 0xF0000 lies alone in the last sector.
  const std::string hex = HexRecord(0, 0, a) + HexRecord(0, 0x40, b) + HexRecord(4, 0, std::string("\x00\x01", 2)) +
                          HexRecord(0, 0xFFF8, d) + HexRecord(4, 0, std::string("\x00\x02", 2)) + HexRecord(0, 0, c) +
                          HexRecord(4, 0, std::string("\x00\x0F", 2)) +
                          HexRecord(0, 0, a) + ":00000001FF\n";
  const std::string input = File("sparse.hex", hex);
  const std::string trace = dir.File("trace.txt");

  std::string expected = Seed(M25P80);
  const auto run = Romwick({"-d", Dev(M25P80, ",trace=" + trace), "-w", input, "-fi"});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                            " to flash memory device\nBytes written to flash: 96\nBytes verified: 96\n");
  EXPECT_EQ(run.exitCode, 0);
  for (uint32_t sector : {0x00000u, 0x10000u, 0x20000u, 0xF0000u}) EraseCovering(expected, M25P80, sector, 1);
  expected.replace(0, 16, a);
  expected.replace(0x40, 16, b);
  expected.replace(0x1FFF8, 8, d);
  expected.replace(0x20000, 40, c);
  expected.replace(0xF0000, 16, a);
  EXPECT_TRUE(Contents() == expected);
  EXPECT_NE(ReadFile(trace).find(" sector erase=4 "), std::string::npos) << ReadFile(trace);

  // The DataFlash without an erase: each page is erased as it is programmed,
  // and the rest of a partly written page keeps its contents.
  expected = Seed(AT45DB081);
  const auto dataflash = Romwick({"-d", Dev(AT45DB081), "-w", input, "-fi", "-NE"});
  EXPECT_EQ(dataflash.exitCode, 0) << dataflash.output;
  EXPECT_NE(dataflash.output.find("Bytes written to flash: 96\n"), std::string::npos) << dataflash.output;
  expected.replace(0, 16, a);
  expected.replace(0x40, 16, b);
  expected.replace(0x1FFF8, 8, d);
  expected.replace(0x20000, 40, c);
  expected.replace(0xF0000, 16, a);
  EXPECT_TRUE(Contents() == expected);
}

// A bus call that fails inside a command ends that command's select period
// without its remaining bytes: the chip would take the page data for a
// command of its own, a lone C7 for a bulk erase, 81 and an address for a
// DataFlash page erase.
TEST_F(Run, AFailureInsideACommandNeverLetsItsDataRunAsACommand) {
  struct Case {
    const Chip& chip;
    std::vector<std::string> options;
    uint32_t address;
    std::string data;
  };
  // The first page piece is the single byte C7 (the write starts at the last
  // byte of a page).
  const std::string bulkErase = "\xC7" + Pattern(600, 31);
  // Every page begins 81 00 20 00: a page erase of page 16.
  std::string pageErase = Pattern(264 * 3, 31);
  for (uint32_t at = 0; at < pageErase.size(); at += 264) pageErase.replace(at, 4, std::string("\x81\x00\x20\x00", 4));
  for (const Case& c : {Case{M25P80, {"-1", "-NE"}, 256 * 40 + 255, bulkErase},
                        Case{AT45DB081, {"-2", "-NE"}, 264 * 40, pageErase},
                        Case{AT45DB081, {"-1", "-NE"}, 264 * 40, pageErase}}) {
    const std::string input = File("in.bin", c.data);
    // The identification takes the first three bus calls and the status
    // read of the protection check the next three; these reach through the
    // first page's commands.
    for (uint32_t n = 7; n <= 15; ++n) {
      SCOPED_TRACE(std::string(c.chip.name) + " " + c.options[0] + " fail=" + std::to_string(n));
      const std::string before = Seed(c.chip);
      std::vector<std::string> args{"-d", Dev(c.chip, ",fail=" + std::to_string(n)), "-w", input,
                                    "-a", std::to_string(c.address)};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const auto run = Romwick(args);
      EXPECT_EQ(run.exitCode, 4) << run.output;
      // Outside the pages the write was given, the chip is as it was.
      const std::string after = Contents();
      const uint32_t page = c.chip.sector ? 256 : 264;
      const uint32_t first = c.address / page * page;
      const uint32_t end = (c.address + static_cast<uint32_t>(c.data.size()) + page - 1) / page * page;
      EXPECT_TRUE(after.compare(0, first, before, 0, first) == 0);
      EXPECT_TRUE(after.compare(end, std::string::npos, before, end, std::string::npos) == 0);
    }
  }
}

TEST_F(Run, ReadsStopAtTheEndOfTheDevice) {
  const std::string contents = Seed(M25P80);
  const std::string output = dir.File("out.bin");
  struct Case {
    std::vector<std::string> range;
    uint32_t from;
    uint32_t bytes;
    bool warned;
  };
  for (const Case& c : {Case{{}, 0, M25P80.size, false},
                        Case{{"-a", "0x10"}, 0x10, M25P80.size - 0x10, false},
                        Case{{"-a", "0xFFF00", "-l", "0x200"}, 0xFFF00, 0x100, true},
                        Case{{"-l", "0x2000000"}, 0, M25P80.size, true},
                        Case{{"-a", "0x80000", "-l", "0xFFFFFFFF"}, 0x80000, 0x80000, true},
                        Case{{"-a", "0x100000", "-l", "16"}, 0, 0, true}}) {
    std::vector<std::string> args{"-d", Dev(M25P80), "-r", output};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const auto run = Romwick(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "Reading flash memory and writing to file: " + output + "\n" +
                              (c.warned ? "Warning: read stops at the end of the flash memory device\n" : "") +
                              "Bytes written to file: " + std::to_string(c.bytes) + "\n");
    EXPECT_TRUE(ReadFile(output) == contents.substr(c.from, c.bytes));
  }
}

TEST_F(Run, TimesFollowEachStepAndTheRun) {
  Seed(M25P80);
  const std::string input = File("in.bin", Pattern(1000, 1));
  const auto run = Romwick({"-d", Dev(M25P80), "-w", input, "-t"});
  const std::string t = "Elapsed time: [0-9]+\\.[0-9]{6}\n";
  EXPECT_TRUE(std::regex_match(run.output, std::regex("Doing partial erase of flash memory device\n" + t +
                                                      "Writing file: .* to flash memory device\n"
                                                      "Bytes written to flash: 1000\n" +
                                                      t + "Bytes verified: 1000\n" + t + "Total " + t)))
      << run.output;
  const auto stopped = Romwick({"-d", Dev(M25P80), "-t"});
  EXPECT_EQ(stopped.output, "Data length for partial erase not specified\n");
}

TEST_F(Run, ConfigurationResetIsHeldOnlyWhileWorking) {
  const std::string trace = dir.File("trace.txt");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  for (const Case& c : {Case{{"-cr", "-l", "4096"}, 0}, Case{{"-cr", "-id"}, 0}, Case{{"-cr", "-m", "NONE"}, 10},
                        Case{{"-cr", "-2", "-w", "/nonexistent/in.bin"}, 6}}) {
    std::remove(trace.c_str());
    std::vector<std::string> args{"-d", Dev(M25P80, ",trace=" + trace)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto run = Romwick(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    const std::string log = ReadFile(trace);
    const size_t asserted = log.find("AdmConfigReset(assert=1)");
    EXPECT_NE(asserted, std::string::npos) << log;
    EXPECT_NE(log.find("AdmConfigReset(assert=0)", asserted), std::string::npos) << log;
    EXPECT_NE(log.find("config-reset=released"), std::string::npos) << log;
  }
  for (const auto& args : std::vector<std::vector<std::string>>{{"-d", Dev(M25P80), "-cr", "-1", "-id"},
                                                                {"-d", Dev(M25P80, ",nocaps"), "-cr", "-id"}}) {
    const auto run = Romwick(args);
    EXPECT_EQ(run.output, "Configuration reset not supported by this device\n");
    EXPECT_EQ(run.exitCode, 9);
  }
}

// When the reset cannot be asserted, the device it should hold may still
// drive the bus: the run stops before the chip is touched, and says so.
// (Only the second runtime generation has the reset.)
TEST_F(Run, AConfigurationResetThatFailsStopsTheRunBeforeTheChip) {
  const std::string before = Seed(M25P80);
  const std::string input = File("in.bin", Pattern(0x3000, 9));
  const std::string trace = dir.File("trace.txt");
  const auto run = Romwick({"-d", Dev(M25P80, ",resetfails,trace=" + trace), "-2", "-cr", "-E", "-w", input});
  EXPECT_EQ(run.output, "Error accessing programming device\n");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(ReadFile(trace).find(" tx "), std::string::npos) << "nothing reached the chip";
}

TEST_F(Run, FileFailuresAreFailures) {
  Seed(M25P80);
  const auto missing = Romwick({"-d", Dev(M25P80), "-w", dir.File("missing.bin")});
  EXPECT_EQ(missing.output, "Error opening file: " + dir.File("missing.bin") + "\n");
  EXPECT_EQ(missing.exitCode, 6);
  const auto unwritable = Romwick({"-d", Dev(M25P80), "-r", "/nonexistent/out.bin", "-l", "16"});
  EXPECT_EQ(unwritable.output,
            "Reading flash memory and writing to file: /nonexistent/out.bin\n"
            "Error opening file: /nonexistent/out.bin\n");
  EXPECT_EQ(unwritable.exitCode, 11);
  const auto badHex = Romwick({"-d", Dev(M25P80), "-w", File("bad.hex", ":0100000000FE\n"), "-fi"});
  EXPECT_EQ(badHex.output, "Error reading input file\nline 1: checksum\n");
  EXPECT_EQ(badHex.exitCode, 6);
}

// A bus call failing anywhere in a write or a read ends the run with its
// message and a non-zero code; chip select is released at the end.
TEST_F(Run, AFailingBusCallEndsTheRunCleanly) {
  const std::string input = File("in.bin", Pattern(70000, 2));
  const std::string output = dir.File("out.bin");
  const std::string trace = dir.File("trace.txt");
  struct Case {
    std::vector<std::string> operation;
    std::vector<uint32_t> failingCalls;  // spread over identification, erase, program or read
  };
  for (const Case& c : {Case{{"-w", input}, {1, 2, 3, 4, 5, 7, 10, 50, 300, 1000, 1400}},
                        Case{{"-r", output, "-l", "70000"}, {1, 2, 3, 4, 5, 6, 7, 8, 9}}}) {
    for (const uint32_t n : c.failingCalls) {
      std::remove(trace.c_str());
      Seed(M25P80);
      std::vector<std::string> args{"-d", Dev(M25P80, ",fail=" + std::to_string(n) + ",trace=" + trace)};
      args.insert(args.end(), c.operation.begin(), c.operation.end());
      const auto run = Romwick(args);
      SCOPED_TRACE(c.operation[0] + " fail=" + std::to_string(n) + "\n" + run.output);
      EXPECT_GE(run.exitCode, 1);
      EXPECT_LE(run.exitCode, 11);
      EXPECT_TRUE(std::regex_search(run.output, std::regex("Error|Unable|not a recognized")));
      EXPECT_NE(ReadFile(trace).find(" cs=high "), std::string::npos) << ReadFile(trace);
    }
  }
}

TEST_F(Run, StuckChipEndsTheRunInsteadOfPollingForever) {
  Seed(M25P80);
  const std::string input = File("in.bin", Pattern(600, 4));
  const auto run = Romwick({"-d", Dev(M25P80, ",stuck"), "-w", input, "-NE"});
  EXPECT_EQ(run.output, "Writing file: " + input +
                            " to flash memory device\nError writing to the flash memory\n"
                            "The flash memory device did not finish its page program within 110 ms\n");
  EXPECT_EQ(run.exitCode, 4);
}

TEST_F(Run, EachGenerationWritesTheSameBytes) {
  for (const char* generation : {"-1", "-2"}) {
    Seed(M25P80);
    const std::string data = Pattern(1000, 8);
    const auto run = Romwick({"-d", Dev(M25P80), generation, "-w", File("in.bin", data), "-a", "0x1F0"});
    EXPECT_EQ(run.exitCode, 0) << generation;
    EXPECT_EQ(Contents().substr(0x1F0, 1000), data) << generation;
  }
}

}  // namespace
