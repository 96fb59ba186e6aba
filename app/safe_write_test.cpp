// SPDX-License-Identifier: MIT
// The safe-write behaviours through the built program against the simulated
// chips: verify, write protection, -u, bounded waits, interruption, the
// progress line, and files read from the chip. Each judged by what the
// program prints, its exit code, the chip's whole image and the trace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_fixture.h"
#include "testsupport/run_program.h"

namespace {

using namespace runtest;

// After a verify failure at the simulator's 30 MHz: a lower clock may help.
constexpr const char* kLowerClockHint =
    "The SPI clock was 30000000 Hz: a long or clipped connection may need a lower one (-s 1000000)\n";

/// The operations of a trace's summary line ("read id=1, read status=1, read=1").
std::string Ops(const std::string& trace) {
  const size_t from = trace.find(" ops: ");
  const size_t to = trace.find(" cs=", from);
  return from == std::string::npos || to == std::string::npos ? "?" : trace.substr(from + 6, to - from - 6);
}

/// True when no command that changes the chip (nor the write enable before
/// one) went out in the trace.
bool NothingErasedOrProgrammed(const std::string& trace) {
  return !std::regex_search(trace, std::regex(" tx (06|02|D8|C7|01|84|83|88|81|50)( |$)"));
}

class SafeWrite : public Run {
 protected:
  std::string Erased(const Chip& chip) {
    const std::string contents(chip.size, '\xFF');
    WriteFile(image, contents);
    return contents;
  }
  std::string Trace() const { return ReadFile(trace); }

  const std::string trace = dir.File("trace.txt");
};

// ---- Verify ----

TEST_F(SafeWrite, VerifyReadsBackOnlyWhatWasWrittenAndNoVerifyReadsNothing) {
  const std::string input = File("in.bin", Pattern(5000, 3));
  Seed(M25P80);
  const auto verified = Romwick({"-d", Dev(M25P80, ",trace=" + trace), "-w", input, "-a", "0x1000"});
  EXPECT_EQ(verified.exitCode, 0);
  EXPECT_NE(verified.output.find("Bytes written to flash: 5000\nBytes verified: 5000\n"), std::string::npos);
  EXPECT_NE(Trace().find("03 00 10 00"), std::string::npos) << Trace();
  EXPECT_NE(Ops(Trace()).find(" read=1"), std::string::npos) << Ops(Trace());

  std::remove(trace.c_str());
  Seed(M25P80);
  const auto unverified = Romwick({"-d", Dev(M25P80, ",trace=" + trace), "-w", input, "-a", "0x1000", "-NV"});
  EXPECT_EQ(unverified.exitCode, 0);
  EXPECT_EQ(unverified.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                                   " to flash memory device\nBytes written to flash: 5000\n");
  EXPECT_EQ(Ops(Trace()).find("read="), std::string::npos) << Ops(Trace());
}

// Without an erase, programming only clears bits: over old contents the chip
// ends up holding old AND new, and the verify sees every byte that differs.
TEST_F(SafeWrite, VerifyReportsTheFirstDifferenceAndCountsThemAll) {
  const std::string data = Pattern(5000, 3);
  const std::string input = File("in.bin", data);
  std::string expected = Seed(M25P80);
  const uint32_t at = 0x1000;
  int differing = 0;
  size_t first = std::string::npos;
  for (size_t i = 0; i < data.size(); ++i) {
    const char holds = static_cast<char>(expected[at + i] & data[i]);
    if (holds != data[i] && differing++ == 0) first = i;
    expected[at + i] = holds;
  }
  ASSERT_GT(differing, 0);
  const auto run = Romwick({"-d", Dev(M25P80), "-w", input, "-a", "0x1000", "-NE"});
  char line[160];
  std::snprintf(line, sizeof line,
                "Verify failed at address 0x%06X: flash holds 0x%02X, file holds 0x%02X (%d bytes differ)\n",
                static_cast<unsigned>(at + first), static_cast<uint8_t>(expected[at + first]),
                static_cast<uint8_t>(data[first]), differing);
  EXPECT_EQ(run.output, "Writing file: " + input + " to flash memory device\nBytes written to flash: 5000\n" + line +
                            kLowerClockHint);
  EXPECT_EQ(run.exitCode, 13);
  EXPECT_TRUE(Contents() == expected);
}

// At 1 MHz the clock is not the suspect: no hint.
TEST_F(SafeWrite, NoClockHintAtTheReliableClock) {
  const std::string input = File("in.bin", Pattern(4096, 5));
  Seed(M25P80);
  const auto run = Romwick({"-d", Dev(M25P80, ",flip=0x10234"), "-s", "1000000", "-w", input, "-a", "0x10000"});
  EXPECT_EQ(run.exitCode, 13);
  EXPECT_NE(run.output.find("Verify failed at address 0x010234"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("SPI clock"), std::string::npos) << run.output;
}

TEST_F(SafeWrite, VerifyCatchesABitTheChipDropped) {
  const std::string input = File("in.bin", std::string(4096, '\xFF') + Pattern(4096, 5));
  Seed(M25P80);
  const auto run = Romwick({"-d", Dev(M25P80, ",flip=0x11234"), "-w", input, "-a", "0x10000"});
  EXPECT_TRUE(std::regex_search(
      run.output, std::regex("Verify failed at address 0x011234: flash holds 0x[0-9A-F]{2}, file holds 0x[0-9A-F]{2} "
                             "\\(1 bytes differ\\)\nThe SPI clock")))
      << run.output;
  EXPECT_TRUE(run.output.ends_with(kLowerClockHint)) << run.output;
  EXPECT_EQ(run.exitCode, 13);
}

// ---- Write protection ----

struct RefusalCase {
  const char* name;
  const Chip& chip;
  std::vector<std::string> args;  // "IN" stands for the input file
  const char* status;
};

class ProtectedChip : public SafeWrite, public testing::WithParamInterface<RefusalCase> {};

// Refused before anything is touched: the chip's image is as it was, and no
// erase or program command reached it.
TEST_P(ProtectedChip, IsRefusedBeforeAnythingIsTouched) {
  const RefusalCase& c = GetParam();
  const std::string before = Seed(c.chip);
  const std::string input = File("in.bin", Pattern(600, 4));
  std::vector<std::string> args{"-d", Dev(c.chip, ",protect,trace=" + trace)};
  for (const std::string& a : c.args) args.push_back(a == "IN" ? input : a);
  const auto run = Romwick(args);
  EXPECT_EQ(run.output, std::string("Flash memory device is write protected (status ") + c.status +
                            "); -unprotect clears its protection\n");
  EXPECT_EQ(run.exitCode, 14);
  EXPECT_TRUE(Contents() == before);
  EXPECT_TRUE(NothingErasedOrProgrammed(Trace())) << Trace();
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ProtectedChip,
    testing::Values(RefusalCase{"Write", M25P80, {"-w", "IN"}, "0x1C"},
                    RefusalCase{"WriteWithoutErase", M25P80, {"-w", "IN", "-NE"}, "0x1C"},
                    RefusalCase{"WriteAfterBulkErase", M25P80, {"-w", "IN", "-E"}, "0x1C"},
                    RefusalCase{"Update", M25P80, {"-w", "IN", "-u"}, "0x1C"},
                    RefusalCase{"BulkErase", M25P80, {"-E"}, "0x1C"},
                    RefusalCase{"RangeErase", M25P80, {"-l", "4096", "-a", "0x80000"}, "0x1C"},
                    RefusalCase{"N25Q128", kChips[5], {"-w", "IN", "-a", "0x10000"}, "0x5C"},
                    RefusalCase{"DataFlashWrite", AT45DB081, {"-w", "IN", "-NE"}, "0xA6"},
                    RefusalCase{"DataFlashChipErase", AT45DB081, {"-E"}, "0xA6"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A run that neither erases nor programs does not even ask the chip.
TEST_F(SafeWrite, ReadsAndIdentificationDoNotLookAtTheProtection) {
  const std::string contents = Seed(M25P80);
  const std::string output = dir.File("out.bin");
  const auto read = Romwick({"-d", Dev(M25P80, ",protect,trace=" + trace), "-r", output, "-l", "4096"});
  EXPECT_EQ(read.exitCode, 0) << read.output;
  EXPECT_TRUE(ReadFile(output) == contents.substr(0, 4096));
  EXPECT_EQ(Ops(Trace()), "read id=2, read=1");
  const auto id = Romwick({"-d", Dev(M25P80, ",protect"), "-id"});
  EXPECT_EQ(id.output, "  Device ID: 20 20 14\n");
}

// A DataFlash whose WP pin is held low keeps its sector protection whatever
// it is sent: -unprotect then stops the run.
TEST_F(SafeWrite, UnprotectThatTheChipDoesNotTakeStopsTheRun) {
  const std::string before = Seed(AT45DB081);
  const std::string input = File("in.bin", Pattern(600, 4));
  const auto run = Romwick({"-d", Dev(AT45DB081, ",protect,wp,trace=" + trace), "-w", input, "-NE", "-unprotect"});
  EXPECT_EQ(run.output, "Flash memory device is still write protected (status 0xA6): it ignored -unprotect\n");
  EXPECT_EQ(run.exitCode, 14);
  EXPECT_TRUE(Contents() == before);
  EXPECT_NE(Trace().find("tx 3D 2A 7F 9A"), std::string::npos);
}

TEST_F(SafeWrite, UnprotectClearsTheProtectionThenWritesAndVerifies) {
  std::string expected = Seed(M25P80);
  const std::string data = Pattern(600, 4);
  const std::string input = File("in.bin", data);
  const auto run = Romwick({"-d", Dev(M25P80, ",protect"), "-w", input, "-unprotect"});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                            " to flash memory device\nBytes written to flash: 600\nBytes verified: 600\n");
  EXPECT_EQ(run.exitCode, 0);
  EraseCovering(expected, M25P80, 0, 600);
  expected.replace(0, 600, data);
  EXPECT_TRUE(Contents() == expected);
  // Alone, -unprotect clears the protection and the run goes on as it would.
  const auto alone = Romwick({"-d", Dev(M25P80, ",protect,trace=" + trace), "-unprotect", "-NE"});
  EXPECT_EQ(alone.output, "");
  EXPECT_EQ(alone.exitCode, 0);
  EXPECT_NE(Trace().find("tx 01 00"), std::string::npos) << Trace();
}

TEST_F(SafeWrite, StatusRegisterLockedBySrwdWithWpLowIsRefusedWithItsReason) {
  const std::string before = Seed(M25P80);
  const std::string input = File("in.bin", Pattern(600, 4));
  const auto run = Romwick({"-d", Dev(M25P80, ",protect=0x9C,wp"), "-w", input, "-unprotect"});
  // 0x9E: the write enable before the refused write set WEL.
  EXPECT_EQ(run.output,
            "Flash memory device is still write protected (status 0x9E): "
            "SRWD locks its status register while W# is held low\n");
  EXPECT_EQ(run.exitCode, 14);
  EXPECT_TRUE(Contents() == before);
}

TEST_F(SafeWrite, OnlyWhatTheRunTouchesMustBeUnprotected) {
  // BP = 1 on the M25P80: its upper sixteenth, the last sector.
  const std::string input = File("in.bin", Pattern(600, 4));
  Seed(M25P80);
  const auto below = Romwick({"-d", Dev(M25P80, ",protect=0x04"), "-w", input, "-a", "0xE0000"});
  EXPECT_EQ(below.exitCode, 0) << below.output;
  const std::string before = Seed(M25P80);
  const auto inside = Romwick({"-d", Dev(M25P80, ",protect=0x04"), "-w", input, "-a", "0xF0000"});
  EXPECT_EQ(inside.output,
            "Flash memory device is write protected (status 0x04); -unprotect clears its protection\n");
  EXPECT_EQ(inside.exitCode, 14);
  EXPECT_TRUE(Contents() == before);
}

// ---- -u ----

struct UpdateCase {
  const char* name;
  const Chip& chip;
  /// The chip before, from a pattern seeded with 7 (or all erased).
  bool erasedBefore;
  /// The image, given the chip's contents before; written at `address`.
  std::string (*image)(const std::string& before);
  uint32_t address;
  std::vector<std::string> options;
  int unchanged, erased, programmedOnly;
  int bytesWritten;
  bool eraseCommands, programCommands;
};

class Update : public SafeWrite, public testing::WithParamInterface<UpdateCase> {};

// The chip ends holding the image and, everywhere else, what it held: -u
// loses nothing, not even in the erase units it rewrites.
TEST_P(Update, RewritesOnlyWhatDiffersAndLosesNothing) {
  const UpdateCase& c = GetParam();
  const std::string before = c.erasedBefore ? Erased(c.chip) : Seed(c.chip);
  const std::string data = c.image(before);
  const std::string input = File("in.bin", data);
  std::vector<std::string> args{"-d", Dev(c.chip, ",trace=" + trace), "-w", input, "-u", "-a",
                                std::to_string(c.address)};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const auto run = Romwick(args);
  const bool bulk = std::find(c.options.begin(), c.options.end(), "-E") != c.options.end();
  EXPECT_EQ(run.output, std::string(bulk ? "Doing bulk erase of entire flash memory device\n" : "") + "Writing file: " +
                            input + " to flash memory device\nErase units unchanged: " + std::to_string(c.unchanged) +
                            ", erased: " + std::to_string(c.erased) +
                            ", programmed without erase: " + std::to_string(c.programmedOnly) +
                            "\nBytes written to flash: " + std::to_string(c.bytesWritten) +
                            "\nBytes verified: " + std::to_string(data.size()) + "\n");
  EXPECT_EQ(run.exitCode, 0);
  std::string expected = bulk ? std::string(c.chip.size, '\xFF') : before;
  expected.replace(c.address, data.size(), data);
  EXPECT_TRUE(Contents() == expected);
  const std::string ops = Ops(Trace());
  EXPECT_EQ(ops.find("sector erase") != std::string::npos || ops.find("buffer to page=") != std::string::npos,
            c.eraseCommands)
      << ops;
  EXPECT_EQ(ops.find("page program") != std::string::npos ||
                ops.find("buffer to page without erase") != std::string::npos,
            c.programCommands)
      << ops;
}

std::string SameAsTheChip(const std::string& before) { return before.substr(0x20000, 5000); }

// Sectors 1 and 2 as they are, except for one byte of sector 2 that sets bits.
std::string OneByteOfSector2SetsBits(const std::string& before) {
  std::string image = before.substr(0x10000, 0x20000);
  image[0x15000] = static_cast<char>(~image[0x15000]);
  return image;
}

std::string BitsCleared(const std::string& before) {
  std::string image = before.substr(0x30000, 1000);
  for (char& c : image) c = static_cast<char>(c & 0xF0);
  return image;
}

// A page of data, an erased page, a page of data: the erased page is not programmed.
std::string ErasedPageBetween(const std::string&) { return Pattern(256, 1) + std::string(256, '\xFF') + Pattern(256, 2); }

std::string Fresh512(const std::string&) { return Pattern(512, 9); }

std::string Fresh1000(const std::string&) { return Pattern(1000, 9); }

std::string DataFlashBitsCleared(const std::string& before) {
  std::string image = before.substr(264, 264);
  for (char& c : image) c = static_cast<char>(c & 0x0F);
  return image;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Update,
    testing::Values(
        UpdateCase{"IdenticalImage", M25P80, false, SameAsTheChip, 0x20000, {}, 1, 0, 0, 0, false, false},
        UpdateCase{"OneChangedSector", M25P80, false, OneByteOfSector2SetsBits, 0x10000, {}, 1, 1, 0, 0x10000, true,
                   true},
        UpdateCase{"BitsOnlyCleared", M25P80, false, BitsCleared, 0x30000, {}, 0, 0, 1, 1000, false, true},
        UpdateCase{"ErasedPagesAreSkipped", M25P80, true, ErasedPageBetween, 0x40000, {}, 0, 0, 1, 768, false, true},
        UpdateCase{"AcrossASectorBoundary", M25P80, false, Fresh512, 0xFF00, {}, 0, 2, 0, 512, true, true},
        UpdateCase{"WithNoEraseAsked", M25P80, false, Fresh512, 0xFF00, {"-NE"}, 0, 2, 0, 512, true, true},
        UpdateCase{"AfterABulkErase", M25P80, false, Fresh512, 0xFF00, {"-E"}, 0, 0, 2, 512, false, true},
        UpdateCase{"BigSectorsOfTheM25P128", kChips[4], false, Fresh512, 0x3FF00, {}, 0, 2, 0, 512, true, true},
        UpdateCase{"DataFlashPages", AT45DB081, false, Fresh1000, 1000, {}, 0, 5, 0, 1000, true, false},
        UpdateCase{"DataFlashBitsCleared", AT45DB081, false, DataFlashBitsCleared, 264, {}, 0, 0, 1, 264, false, true},
        UpdateCase{"DataFlashIdentical", AT45DB081, false, SameAsTheChip, 0x20000, {}, 20, 0, 0, 0, false, false}),
    [](const testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

// The bytes -u writes back around the file, in the units it rewrites, are
// programmed like the file's: a cell that fails among them is a verify
// failure, not silently changed data outside the image.
TEST_F(SafeWrite, UpdateVerifiesTheBytesItWritesBack) {
  struct Case {
    const Chip& chip;
    uint32_t address;  // of the 16-byte file
    uint32_t flip;     // a byte of the unit outside the file
  };
  for (const Case& c : {Case{M25P80, 0x10010, 0x10100}, Case{AT45DB081, 1000, 800}}) {
    std::string expected = Seed(c.chip);
    const std::string data = Pattern(16, 5);
    const std::string input = File("in.bin", data);
    const auto run =
        Romwick({"-d", Dev(c.chip, ",flip=" + std::to_string(c.flip)), "-w", input, "-a", std::to_string(c.address), "-u"});
    const auto held = static_cast<uint8_t>(expected[c.flip]);
    const auto dropped = static_cast<uint8_t>(held == 0xFF ? 0xFE : held | (~held & (held + 1)));
    char failure[128];
    std::snprintf(failure, sizeof failure,
                  "Verify failed at address 0x%06X: flash holds 0x%02X, held 0x%02X before the write (1 bytes differ)\n",
                  c.flip, dropped, held);
    EXPECT_EQ(run.output, "Writing file: " + input + " to flash memory device\n"
                          "Erase units unchanged: 0, erased: 1, programmed without erase: 0\n"
                          "Bytes written to flash: 16\n" + failure + kLowerClockHint)
        << c.chip.name;
    EXPECT_EQ(run.exitCode, 13);
    expected.replace(c.address, data.size(), data);
    expected[c.flip] = static_cast<char>(dropped);
    EXPECT_TRUE(Contents() == expected) << c.chip.name;
  }
}

// Records in one sector make one unit; the sector between the records'
// sectors is not read.
TEST_F(SafeWrite, UpdateTakesAUnitOnceForAllItsRecords) {
  std::string expected = Seed(M25P80);
  const std::string a = Pattern(16, 21), b = Pattern(16, 22), c = Pattern(40, 23);
  const std::string hex = HexRecord(0, 0x10, a) + HexRecord(0, 0x40, b) +
                          HexRecord(4, 0, std::string("\x00\x02", 2)) + HexRecord(0, 0, c) + ":00000001FF\n";
  const auto run = Romwick({"-d", Dev(M25P80, ",trace=" + trace), "-w", File("in.hex", hex), "-fi", "-u"});
  EXPECT_NE(run.output.find("Erase units unchanged: 0, erased: 2, programmed without erase: 0\n"
                            "Bytes written to flash: 72\nBytes verified: 72\n"),
            std::string::npos)
      << run.output;
  expected.replace(0x10, 16, a);
  expected.replace(0x40, 16, b);
  expected.replace(0x20000, 40, c);
  EXPECT_TRUE(Contents() == expected);
  EXPECT_EQ(Trace().find("03 01 00 00"), std::string::npos);  // sector 1 lies between
}

// ---- Bounded waits ----

TEST_F(SafeWrite, AStuckEraseSaysWhichOperationTimedOut) {
  const std::string input = File("in.bin", Pattern(600, 4));
  Seed(M25P80);
  const auto sector = Romwick({"-d", Dev(M25P80, ",stuck"), "-w", input});
  EXPECT_EQ(sector.output,
            "Doing partial erase of flash memory device\nError writing to SPI device\n"
            "The flash memory device did not finish its sector erase within 6.1 s\n");
  EXPECT_EQ(sector.exitCode, 4);
  Seed(AT45DB081);
  const auto chip = Romwick({"-d", Dev(AT45DB081, ",stuck"), "-E"});
  EXPECT_EQ(chip.output,
            "Doing bulk erase of entire flash memory device\nError writing to SPI device\n"
            "The flash memory device did not finish its chip erase within 44.1 s\n");
  EXPECT_EQ(chip.exitCode, 4);
}

// ---- Interruption ----

struct SignalCase {
  std::vector<int> signals;  // sent one after the other
  int exitCode;
};

class Interrupted : public SafeWrite, public testing::WithParamInterface<SignalCase> {
 protected:
  /// Runs romwick with `args`, sends the signals once its `hold`-th bus call
  /// waits, and returns how it ended.
  testsupport::ProgramResult RunAndInterrupt(const std::vector<std::string>& args) {
    auto program = testsupport::StartRomwick(args);
    EXPECT_TRUE(program->WaitForError("romwick runtime: holding call"));
    for (int signal : GetParam().signals) program->Signal(signal);
    return program->Finish();
  }
};

// The page programs before the signal are in the chip's image, saved as the
// interface closed; the command in flight went out whole; chip select and
// the configuration reset were released.
TEST_P(Interrupted, WriteEndsCleanly) {
  Erased(M25P80);
  const std::string data = Pattern(0x10000, 6);
  const std::string input = File("in.bin", data);
  const auto run =
      RunAndInterrupt({"-d", Dev(M25P80, ",hold=200,trace=" + trace), "-2", "-cr", "-w", input, "-NE"});
  EXPECT_EQ(run.output, "Writing file: " + input + " to flash memory device\nInterrupted\n");
  EXPECT_EQ(run.exitCode, GetParam().exitCode);
  const std::string log = Trace();
  EXPECT_NE(log.find(" cs=high config-reset=released"), std::string::npos) << log.substr(log.rfind("summary"));
  const std::string after = Contents();
  size_t pages = 0;
  while (pages < 256 && after.compare(pages * 256, 256, data, pages * 256, 256) == 0) ++pages;
  EXPECT_GT(pages, 0u);
  EXPECT_LT(pages, 256u);
  EXPECT_EQ(after.find_first_not_of('\xFF', pages * 256), std::string::npos) << "programmed past page " << pages;
}

// A bulk erase's wait gives up; the chip finishes the erase by itself.
TEST_P(Interrupted, BulkEraseStopsWaiting) {
  Seed(M25P80);
  const auto run = RunAndInterrupt({"-d", Dev(M25P80, ",hold=50"), "-E"});
  EXPECT_EQ(run.output, "Doing bulk erase of entire flash memory device\nInterrupted\n");
  EXPECT_EQ(run.exitCode, GetParam().exitCode);
  EXPECT_TRUE(Contents() == std::string(M25P80.size, '\xFF'));
}

// An interrupted read leaves the file that was there, and nothing else.
TEST_P(Interrupted, ReadLeavesTheOldFile) {
  Seed(M25P80);
  const std::string output = File("out.bin", "the old file");
  const auto run = RunAndInterrupt({"-d", Dev(M25P80, ",hold=20"), "-r", output});
  EXPECT_EQ(run.output, "Reading flash memory and writing to file: " + output + "\nInterrupted\n");
  EXPECT_EQ(run.exitCode, GetParam().exitCode);
  EXPECT_EQ(ReadFile(output), "the old file");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"chip.bin", "out.bin"}));
}

/// The call number a trace line starts with ("2016 SerXfer(...)"), 0 for the summary.
uint32_t CallNumber(const std::string& line) { return static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10)); }

/// The opcodes of the select periods that begin after call `after` of a
/// trace, in order: the first byte sent in each period. A period begins with
/// a select call at level 0, or a transfer that selects the chip itself.
std::vector<std::string> CommandsAfter(const std::string& trace, uint32_t after) {
  static const std::regex kSelect(R"((Ser|Pl)SetSelect\(level=([01])\))");
  static const std::regex kTransfer(R"(\(select=([01]),([01]), n=[0-9]+\) (tx|fill) ([0-9A-F]{2}))");
  std::vector<std::string> commands;
  bool selected = false;
  bool awaitingCommand = false;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    const bool counts = CallNumber(line) > after;
    if (std::regex_search(line, m, kSelect)) {
      selected = m[2] == "0";
      awaitingCommand = selected && counts;
    } else if (std::regex_search(line, m, kTransfer)) {
      const bool begins = !selected && m[1] == "0";
      if ((begins && counts) || awaitingCommand) commands.push_back(m[4]);
      awaitingCommand = false;
      selected = m[2] == "0";
    }
  }
  return commands;
}

// A signal at any moment of a write lets the command in flight and its wait
// finish, and starts nothing after it: no write enable or page program goes
// out once a status poll has seen the chip ready.
TEST_F(SafeWrite, NoCommandStartsAfterAnInterruptingSignal) {
  const std::string input = File("in.bin", Pattern(0x800, 3));
  for (const char* generation : {"-1", "-2"}) {
    Erased(M25P80);
    std::remove(trace.c_str());
    ASSERT_EQ(Romwick({"-d", Dev(M25P80, ",trace=" + trace), generation, "-w", input, "-a", "0x1F800", "-NV"}).exitCode,
              0);
    const std::string whole = Trace();
    // Bus calls are counted from the first after the open, the enable, the
    // bring-up's clock and mode settings and the identification's clock.
    const uint32_t firstProgram = CallNumber(whole.substr(whole.rfind('\n', whole.find(" tx 02 01 F8")) + 1));
    for (uint32_t hold = firstProgram - 8; hold < firstProgram + 40; ++hold) {
      Erased(M25P80);
      std::remove(trace.c_str());
      auto program = testsupport::StartRomwick({"-d", Dev(M25P80, ",trace=" + trace + ",hold=" + std::to_string(hold)),
                                                generation, "-w", input, "-a", "0x1F800", "-NV"});
      ASSERT_TRUE(program->WaitForError("romwick runtime: holding call"));
      program->Signal(SIGTERM);
      EXPECT_EQ(program->Finish().exitCode, 143);
      for (const std::string& command : CommandsAfter(Trace(), hold + 5)) {
        EXPECT_EQ(command, "05") << generation << " hold=" << hold;
      }
    }
  }
}

// A signal during the last read command: the read is whole, but the run was
// interrupted, and the old file stays as at any other moment.
TEST_P(Interrupted, DuringTheLastReadCommandTheOldFileStays) {
  Seed(M25P80);
  const std::string output = File("out.bin", "the old file");
  // Call 1 sets the identification clock, 2 to 7 read the code twice; 8 to
  // 11 are the one read command.
  const auto run = RunAndInterrupt({"-d", Dev(M25P80, ",hold=10"), "-r", output, "-l", "4096"});
  EXPECT_EQ(run.output, "Reading flash memory and writing to file: " + output + "\nInterrupted\n");
  EXPECT_EQ(run.exitCode, GetParam().exitCode);
  EXPECT_EQ(ReadFile(output), "the old file");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted,
                         testing::Values(SignalCase{{SIGINT}, 130}, SignalCase{{SIGTERM}, 143},
                                         SignalCase{{SIGHUP}, 129},
                                         // A second signal during the clean-up changes nothing.
                                         SignalCase{{SIGINT, SIGTERM}, 130}),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                           return "Signal" + std::to_string(info.param.signals[0]) + "_x" +
                                  std::to_string(info.param.signals.size());
                         });

// ---- Progress ----

// On a terminal, each long step draws its line and clears it at its end;
// standard output reads as it does without one.
TEST_F(SafeWrite, ProgressShowsOnATerminalAndIsClearedAfterEachStep) {
  const std::string input = File("in.bin", Pattern(0x30000, 2));
  Seed(M25P80);
  const auto quiet = testsupport::StartRomwick({"-d", Dev(M25P80), "-w", input})->Finish();
  EXPECT_EQ(quiet.errors, "");
  Seed(M25P80);
  const auto shown =
      testsupport::StartRomwick({"-d", Dev(M25P80), "-w", input}, testsupport::RunningProgram::ErrorStream::kTerminal)
          ->Finish();
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_EQ(shown.output, quiet.output);
  for (const char* step : {"\rErasing ", "\rWriting ", "\rVerifying "}) {
    EXPECT_NE(shown.errors.find(step), std::string::npos) << step << " in " << shown.errors;
  }
  EXPECT_TRUE(std::regex_search(shown.errors, std::regex("\\rWriting +[0-9]+%  [0-9]+ of 196608 bytes")))
      << shown.errors;
  // Every line drawn is cleared: the text ends in spaces between two returns.
  ASSERT_GE(shown.errors.size(), 2u);
  EXPECT_EQ(shown.errors.back(), '\r');
  const size_t lastDrawn = shown.errors.rfind('\r', shown.errors.size() - 2);
  EXPECT_EQ(shown.errors.find_first_not_of(' ', lastDrawn + 1), shown.errors.size() - 1) << shown.errors;
}

TEST_F(SafeWrite, ABulkEraseShowsItsTimeAgainstTheTypicalOne) {
  Seed(M25P80);
  const auto run =
      testsupport::StartRomwick({"-d", Dev(M25P80), "-E"}, testsupport::RunningProgram::ErrorStream::kTerminal)
          ->Finish();
  EXPECT_EQ(run.output, "Doing bulk erase of entire flash memory device\n");
  EXPECT_TRUE(std::regex_search(run.errors, std::regex("\\rErasing  [0-9]+ s, typically 8 s"))) << run.errors;
}

// ---- Files read from the chip ----

// "-rv" reads twice: a byte that reads differently the second time fails
// the run like a verify, and the old file stays; two equal reads save it.
TEST_F(SafeWrite, ReadTwiceKeepsTheOldFileWhenTheReadsDiffer) {
  const std::string contents = Seed(M25P80);
  const std::string output = File("out.bin", "the old file");
  const auto differs = Romwick({"-d", Dev(M25P80, ",readglitch=0x1234"), "-r", output, "-rv", "-l", "0x8000"});
  char line[128];
  std::snprintf(line, sizeof line, "Second read differs at address 0x001234: first read 0x%02X, second 0x%02X (1 bytes differ)\n",
                static_cast<uint8_t>(contents[0x1234]), static_cast<uint8_t>(contents[0x1234] ^ 0x10));
  EXPECT_EQ(differs.output, "Reading flash memory and writing to file: " + output + "\n" + line + kLowerClockHint);
  EXPECT_EQ(differs.exitCode, 13);
  EXPECT_EQ(ReadFile(output), "the old file");
  const auto same = Romwick({"-d", Dev(M25P80, ",trace=" + trace), "-r", output, "-rv", "-l", "0x8000"});
  EXPECT_EQ(same.output, "Reading flash memory and writing to file: " + output + "\nBytes written to file: 32768\n");
  EXPECT_EQ(same.exitCode, 0);
  EXPECT_TRUE(ReadFile(output) == contents.substr(0, 0x8000));
  EXPECT_EQ(Ops(Trace()), "read id=2, read=2");
}

TEST_F(SafeWrite, AFailedReadLeavesTheOldFile) {
  Seed(M25P80);
  const std::string output = File("out.bin", "the old file");
  // The identification clock takes a bus call, the code read twice six, the
  // first read command the next three.
  const auto run = Romwick({"-d", Dev(M25P80, ",fail=9"), "-r", output, "-l", "4096"});
  EXPECT_EQ(run.output, "Reading flash memory and writing to file: " + output + "\nError reading from flash memory\n");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(ReadFile(output), "the old file");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A file in a folder that may not be written in (so no temporary file can
// stand beside it) is written only once the whole read is in memory: a read
// that fails leaves it as it was. The run must be an ordinary user's, since
// root may write in any folder.
TEST_F(SafeWrite, AFileThatCanOnlyBeWrittenInPlaceIsKeptByAFailedRead) {
  std::vector<std::string> asUser;
  if (geteuid() == 0) {
    const std::string setpriv = testsupport::FindTool("setpriv");
    if (setpriv.empty()) GTEST_SKIP() << "needs setpriv to run the program as an ordinary user";
    asUser = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  const auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> command = asUser;
    command.push_back(testsupport::BuildDir() + "/romwick");
    command.insert(command.end(), args.begin(), args.end());
    return testsupport::RunProgram(command[0], {command.begin() + 1, command.end()});
  };
  const std::string folder = dir.File("ro");
  const std::string old = folder + "/old.bin";
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  WriteFile(old, "keep me");
  ASSERT_EQ(chmod(old.c_str(), 0666), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);

  // The identification takes seven bus calls; the thirteenth falls in the read.
  const auto failed = run({"-d", "sim:M25P80,fail=13", "-r", old});
  EXPECT_EQ(failed.output, "Reading flash memory and writing to file: " + old + "\nError reading from flash memory\n");
  EXPECT_EQ(failed.exitCode, 4);
  EXPECT_EQ(ReadFile(old), "keep me");

  const auto read = run({"-d", "sim:M25P80", "-r", old, "-l", "64"});
  EXPECT_EQ(read.output, "Reading flash memory and writing to file: " + old + "\nBytes written to file: 64\n");
  EXPECT_EQ(read.exitCode, 0);
  EXPECT_EQ(ReadFile(old), std::string(64, '\xFF'));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"old.bin"});
  chmod(folder.c_str(), 0755);
}

TEST_F(SafeWrite, AFileReadFromTheChipHasTheModeOfAPlainFileOrKeepsItsOwn) {
  const std::string contents = Seed(M25P80);
  const std::string fresh = dir.File("fresh.bin");
  const auto created = testsupport::RunProgram(
      "/bin/sh", {"-c", "umask 027 && exec \"$0\" -d \"$1\" -r \"$2\" -l 64", testsupport::BuildDir() + "/romwick",
                  Dev(M25P80), fresh});
  EXPECT_EQ(created.exitCode, 0) << created.output;
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  const std::string kept = File("kept.bin", "old");
  chmod(kept.c_str(), 0604);
  EXPECT_EQ(Romwick({"-d", Dev(M25P80), "-r", kept, "-l", "64"}).exitCode, 0);
  ASSERT_EQ(stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  EXPECT_TRUE(ReadFile(kept) == contents.substr(0, 64));

  // What is not a regular file is written as it is.
  const auto toNull = Romwick({"-d", Dev(M25P80), "-r", "/dev/null", "-l", "64"});
  EXPECT_EQ(toNull.output, "Reading flash memory and writing to file: /dev/null\nBytes written to file: 64\n");
  EXPECT_EQ(toNull.exitCode, 0);
}

}  // namespace
