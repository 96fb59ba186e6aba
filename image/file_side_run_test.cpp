// SPDX-License-Identifier: MIT
// Runs of the built program that load or save image files, against the
// simulated chips: what it prints, its exit code, and the chip's image
// compared before and after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/test_hex_text.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

/// The N25Q128's size, and so the size of the image buffer for it.
constexpr uint32_t kN25Q128Size = 0x1000000;

class FileSideRun : public testing::Test {
 protected:
  /// The simulated `chip` on the scratch image file.
  std::string Device(const std::string& chip) const { return "sim:" + chip + ",image=" + image; }
  /// Fills the chip's image with `size` bytes that differ from the files'.
  std::string Seed(size_t size) {
    const std::string contents = RandomBytes(size + 1).substr(1);
    WriteFile(image, contents);
    return contents;
  }
  std::string Chip() const { return ReadFile(image); }
  std::string Input(const std::string& contents) const {
    WriteFile(dir.File("in"), contents);
    return dir.File("in");
  }

  testsupport::ScratchDir dir;
  const std::string image = dir.File("chip.bin");
};

TEST_F(FileSideRun, BinaryImageOfExactlyTheBufferSizeIsWrittenWithoutAWarning) {
  Seed(kN25Q128Size);
  const std::string data = RandomBytes(kN25Q128Size);
  const std::string input = Input(data);
  const auto run = testsupport::RunRomwick({"-d", Device("N25Q128"), "-w", input});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                            " to flash memory device\nBytes written to flash: 16777216\nBytes verified: 16777216\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Chip() == data);
}

TEST_F(FileSideRun, TextSaveThatCannotBeWrittenSaysSo) {
  if (!testsupport::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const char* format : {"-fh", "-fi"}) {
    SCOPED_TRACE(format);
    const std::string before = Seed(1 << 20);
    const auto run = testsupport::RunRomwick({"-d", Device("M25P80"), "-r", "/dev/full", format, "-l", "100"});
    EXPECT_EQ(run.output,
              "Reading flash memory and writing to file: /dev/full\nError writing to output file\n");
    EXPECT_EQ(run.exitCode, 11);
    EXPECT_TRUE(Chip() == before);
  }
}

constexpr const char* kRawHexSyntax = "Data format or syntax error in input file\n";
constexpr const char* kRawHexRead = "Error reading from input file\n";
constexpr const char* kIntelHexRead = "Error reading input file\n";

struct Refusal {
  const char* name;
  const char* format;
  std::string text;  // empty: the input is a folder, which opens but cannot be read
  std::string printed;
};

const Refusal kRefusals[] = {
    {"RawHexNotADigit", "-fh", "00 11\n22 3,\n", std::string(kRawHexSyntax) + "line 2: ',' is not a hex digit\n"},
    {"RawHexUnprintable", "-fh", "00\r\n\x1B", std::string(kRawHexSyntax) + "line 2: byte 0x1B is not a hex digit\n"},
    {"RawHexNul", "-fh", std::string("00\r11\r22\0", 9), std::string(kRawHexSyntax) + "line 3: NUL byte\n"},
    {"RawHexReadError", "-fh", "", std::string(kRawHexRead) + "line 1: read error\n"},
    {"IntelHexChecksum", "-fi", Rec("0100000011") + Rec("0100010022") + ":0100020033FF\n",
     std::string(kIntelHexRead) + "line 3: checksum\n"},
    {"IntelHexBlankLine", "-fi", Rec("0100000011") + "\r\n" + Rec("00000006"),
     std::string(kIntelHexRead) + "line 2: blank line\n"},
    {"IntelHexUnknownType", "-fi", Rec("0100000011") + Rec("0100010022") + Rec("00000006"),
     std::string(kIntelHexRead) + "line 3: record type 06\n"},
    {"IntelHexBeyondTheImage", "-fi", Rec("020000040800") + Rec("0100000011"),
     std::string(kIntelHexRead) + "line 2: data at 0x08000000 is beyond the 16 MB image\n"},
    {"IntelHexNoColon", "-fi", "x" + Rec("0100000011"), std::string(kIntelHexRead) + "line 1: no ':' at the start\n"},
    {"IntelHexEndsEarly", "-fi", ":0300000001AB\n", std::string(kIntelHexRead) + "line 1: ends before its checksum\n"},
    {"IntelHexNotADigit", "-fi", ":03000000G1ABCD7E\n",
     std::string(kIntelHexRead) + "line 1: 'G' is not a hex digit\n"},
    {"IntelHexTwoRecordsOnALine", "-fi", ":0100000011EE:0100010022CC\n",
     std::string(kIntelHexRead) + "line 1: text after the checksum\n"},
    {"IntelHexShortAddressRecord", "-fi", Rec("0100000400"),
     std::string(kIntelHexRead) + "line 1: record type 04 too short for its address\n"},
    {"IntelHexNul", "-fi", Rec("0100000011") + std::string(1, '\0'),
     std::string(kIntelHexRead) + "line 2: NUL byte\n"},
    {"IntelHexReadError", "-fi", "", std::string(kIntelHexRead) + "line 1: read error\n"},
};

class RefusedFile : public FileSideRun, public testing::WithParamInterface<Refusal> {};

TEST_P(RefusedFile, SaysWhichLineAndWhyAndLeavesTheChipAlone) {
  const Refusal& r = GetParam();
  const std::string before = Seed(1 << 20);
  const std::string input = r.text.empty() ? dir.path() : Input(r.text);
  const auto run = testsupport::RunRomwick({"-d", Device("M25P80"), "-w", input, r.format});
  EXPECT_EQ(run.output, r.printed);
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_TRUE(Chip() == before);
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedFile, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

/// Bytes the file gives at an offset from `-a`.
struct Placed {
  uint32_t offset;
  std::string bytes;
};

struct Written {
  const char* name;
  const char* format;
  std::string text;
  std::vector<Placed> data;
};

const std::string k5000 = RandomBytes(5000);

const Written kWritten[] = {
    // One line of 10,000 digits, read in several pieces.
    {"RawHexXxdOneLine", "-fh", XxdPlainLine(k5000), {{0, k5000}}},
    {"RawHexCarriageReturns", "-fh", "00 11\r22\r\r33", {{0, std::string("\x00\x11\x22\x33", 4)}}},
    {"IntelHexCarriageReturns", "-fi", ":0100000011EE\r:020000040001F9\r:02001000223399\r:00000001FF\r",
     {{0, "\x11"}, {0x10010, "\x22\x33"}}},
};

class WrittenFile : public FileSideRun, public testing::WithParamInterface<Written> {};

TEST_P(WrittenFile, LandsOnTheChipAsItReads) {
  const Written& w = GetParam();
  constexpr uint32_t kAddress = 0x1000;
  constexpr uint32_t kSector = 0x10000;  // the M25P80's
  std::string expected = Seed(1 << 20);
  const std::string input = Input(w.text);
  size_t total = 0;
  for (const Placed& p : w.data) {
    // Only the sectors under the file's bytes are erased.
    const uint32_t start = kAddress + p.offset;
    const uint32_t first = start / kSector * kSector;
    const uint32_t end = (start + static_cast<uint32_t>(p.bytes.size()) + kSector - 1) / kSector * kSector;
    expected.replace(first, end - first, end - first, '\xFF');
  }
  for (const Placed& p : w.data) {
    expected.replace(kAddress + p.offset, p.bytes.size(), p.bytes);
    total += p.bytes.size();
  }
  const auto run = testsupport::RunRomwick({"-d", Device("M25P80"), "-w", input, w.format, "-a", "0x1000"});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                            " to flash memory device\nBytes written to flash: " + std::to_string(total) +
                            "\nBytes verified: " + std::to_string(total) + "\n");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Chip() == expected);
}

INSTANTIATE_TEST_SUITE_P(Files, WrittenFile, testing::ValuesIn(kWritten),
                         [](const testing::TestParamInfo<Written>& info) { return info.param.name; });

}  // namespace
