// SPDX-License-Identifier: MIT
#include "image/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/file_side_fixture.h"
#include "testsupport/run_program.h"

namespace {

constexpr const char* kWarning = "Warning: Input file larger than memory buffer\n";

TEST(ImageFileModeTest, BinaryOrTextByFormatWriteOrReadByDirection) {
  EXPECT_STREQ("rb", ImageFile::Mode(false, IMAGEFORMAT_BINARY));
  EXPECT_STREQ("rt", ImageFile::Mode(false, IMAGEFORMAT_RAW_HEX));
  EXPECT_STREQ("rt", ImageFile::Mode(false, IMAGEFORMAT_INTEL_HEX));
  EXPECT_STREQ("wb", ImageFile::Mode(true, IMAGEFORMAT_BINARY));
  EXPECT_STREQ("wt", ImageFile::Mode(true, IMAGEFORMAT_RAW_HEX));
  EXPECT_STREQ("wt", ImageFile::Mode(true, IMAGEFORMAT_INTEL_HEX));
}

TEST_F(FileSide, InputFileThatCannotBeOpened) {
  const std::string path = dir.File("missing.bin");
  EXPECT_EQ((Outcome{false, "Error opening file: " + path + "\n", IMAGEFILE_INPUT_FILE}),
            Load(path, IMAGEFORMAT_BINARY));
}

TEST_F(FileSide, OutputFileThatCannotBeOpened) {
  const std::string path = dir.File("no-such-folder/out.hex");
  EXPECT_EQ((Outcome{false, "Error opening file: " + path + "\n", IMAGEFILE_OUTPUT_FILE}),
            Save(path, IMAGEFORMAT_INTEL_HEX, 0));
}

TEST_F(FileSide, EmptyBinaryFile) {
  file.dataLength = 99;
  file.spans = {{5, 1}};
  EXPECT_EQ((Outcome{true, ""}), LoadText("", IMAGEFORMAT_BINARY));
  EXPECT_EQ(0, file.dataLength);
  EXPECT_TRUE(file.spans.empty());
}

TEST_F(FileSide, BinaryFileLoadsFromTheBufferStart) {
  const std::string bytes = RandomBytes(100000);
  file.spans = {{5, 1}};
  EXPECT_EQ((Outcome{true, ""}), LoadText(bytes, IMAGEFORMAT_BINARY));
  EXPECT_EQ(100000, file.dataLength);
  EXPECT_EQ(Spans({{0, 100000}}), file.spans);
  EXPECT_TRUE(bytes == Buffer(0, bytes.size()));
}

TEST_F(FileSide, BinaryFileThatFillsTheBufferExactlyLoadsWithoutAWarning) {
  const std::string bytes = RandomBytes(kCapacity);
  EXPECT_EQ((Outcome{true, ""}), LoadText(bytes, IMAGEFORMAT_BINARY));
  EXPECT_EQ(static_cast<int32_t>(kCapacity), file.dataLength);
  EXPECT_EQ(Spans({{0, kCapacity}}), file.spans);
  EXPECT_TRUE(bytes == Buffer(0, kCapacity));
}

TEST_F(FileSide, BinaryFileLargerThanTheBufferWarnsAndLoadsItsStart) {
  for (size_t size : {size_t{kCapacity} + 1, size_t{kCapacity} + 1000}) {
    SCOPED_TRACE(size);
    const std::string bytes = RandomBytes(size);
    EXPECT_EQ((Outcome{true, kWarning, IMAGEFILE_INPUT_TRUNCATED}), LoadText(bytes, IMAGEFORMAT_BINARY));
    EXPECT_EQ(static_cast<int32_t>(kCapacity), file.dataLength);
    EXPECT_TRUE(bytes.compare(0, kCapacity, Buffer(0, kCapacity)) == 0);
  }
}

TEST_F(FileSide, BinaryReadError) {
  // A folder opens as a stream, and every read from it fails.
  EXPECT_EQ((Outcome{false, "Error reading from input file\n", IMAGEFILE_INPUT_FILE}),
            Load(dir.path(), IMAGEFORMAT_BINARY));
}

TEST_F(FileSide, RawHexLoads) {
  file.spans = {{5, 1}};
  EXPECT_EQ((Outcome{true, ""}), LoadText("01 02 03\r\nab\n", IMAGEFORMAT_RAW_HEX));
  EXPECT_EQ(4, file.dataLength);
  EXPECT_EQ(Spans({{0, 4}}), file.spans);
  EXPECT_EQ(std::string("\x01\x02\x03\xAB", 4), Buffer(0, 4));
}

TEST_F(FileSide, RawHexFailuresKeepWhatWasStored) {
  EXPECT_EQ((Outcome{false, "Data format or syntax error in input file\nline 2: ',' is not a hex digit\n",
                     IMAGEFILE_INPUT_FILE}),
            LoadText("12\n34,56", IMAGEFORMAT_RAW_HEX));
  EXPECT_EQ(2, file.dataLength);

  EXPECT_EQ((Outcome{false, "Error reading from input file\nline 1: read error\n", IMAGEFILE_INPUT_FILE}),
            Load(dir.path(), IMAGEFORMAT_RAW_HEX));
  EXPECT_EQ(0, file.dataLength);
}

TEST_F(FileSide, RawHexBeyondTheBufferWarnsAndLoads) {
  // 512 bytes a line, and one line more than the buffer holds.
  const std::string line = std::string(1024, 'A') + "\n";
  std::string text;
  for (uint32_t i = 0; i <= kCapacity / 512; ++i) text += line;
  EXPECT_EQ((Outcome{true, kWarning, IMAGEFILE_INPUT_TRUNCATED}), LoadText(text, IMAGEFORMAT_RAW_HEX));
  EXPECT_EQ(static_cast<int32_t>(kCapacity), file.dataLength);
  EXPECT_EQ(0xAA, buffer[kCapacity - 1]);
}

struct IntelHexLoadCase {
  const char* name;
  std::string text;
  uint32_t origin;
  int32_t length;
  std::string image;  // the buffer from the origin on, `length` bytes
  std::vector<ImageSpan> spans;
};

const IntelHexLoadCase kIntelHexLoads[] = {
    {"FromZero", ":0300000001ABCD84\n:00000001FF\n", 0, 3, "\x01\xAB\xCD", {{0, 3}}},
    // The gap between the two records stays erased.
    {"AboveZeroWithAGap", ":020000040001F9\n:03000000010203F7\n:02001000AABB89\n:00000001FF", 0x10000,
     0x12, std::string("\x01\x02\x03", 3) + std::string(13, '\xFF') + "\xAA\xBB", {{0x10000, 3}, {0x10010, 2}}},
    {"NoDataRecords", ":020000040001F9\n:00000001FF\n", 0, 0, "", {}},
};

class IntelHexLoad : public FileSide, public testing::WithParamInterface<IntelHexLoadCase> {};

TEST_P(IntelHexLoad, TheImageKeepsItsAddresses) {
  const IntelHexLoadCase& c = GetParam();
  std::memset(buffer.get(), 0, kCapacity);
  EXPECT_EQ((Outcome{true, ""}), LoadText(c.text, IMAGEFORMAT_INTEL_HEX));
  EXPECT_EQ(c.spans, file.spans);
  EXPECT_EQ(c.length, file.dataLength);
  EXPECT_EQ(c.image, Buffer(c.origin, c.image.size()));
  // Everything outside the image is erased.
  const std::string erased(kCapacity - c.image.size(), '\xFF');
  EXPECT_TRUE(Buffer(0, c.origin) + Buffer(c.origin + c.length, kCapacity - c.origin - c.length) == erased);
}

INSTANTIATE_TEST_SUITE_P(Files, IntelHexLoad, testing::ValuesIn(kIntelHexLoads),
                         [](const testing::TestParamInfo<IntelHexLoadCase>& info) { return info.param.name; });

TEST_F(FileSide, IntelHexFailureReportsWhatWasStored) {
  EXPECT_EQ((Outcome{false, "Error reading input file\nline 3: checksum\n", IMAGEFILE_INPUT_FILE}),
            LoadText(":020000040001F9\n:03000000010203F7\n:03000000010203F8\n", IMAGEFORMAT_INTEL_HEX));
  EXPECT_EQ(3, file.dataLength);
}

TEST_F(FileSide, IntelHexBeyondTheBufferNamesItsSize) {
  EXPECT_EQ((Outcome{false, "Error reading input file\nline 3: data at 0x01000000 is beyond the 16 MB image\n",
                     IMAGEFILE_INPUT_FILE}),
            LoadText(Rec("0100000011") + Rec("020000040100") + Rec("0100000022"), IMAGEFORMAT_INTEL_HEX));
}

TEST_F(FileSide, SavingNothing) {
  file.byteCount = 123;
  EXPECT_EQ("", SavedText(IMAGEFORMAT_BINARY, 0));
  EXPECT_EQ(123, file.byteCount);  // a binary save does not count
  EXPECT_EQ("", SavedText(IMAGEFORMAT_RAW_HEX, 0));
  EXPECT_EQ(0, file.byteCount);
  file.byteCount = 123;
  EXPECT_EQ(":00000001FF", SavedText(IMAGEFORMAT_INTEL_HEX, 0));
  EXPECT_EQ(0, file.byteCount);
}

TEST_F(FileSide, SeventyBytesAsRawHexLines) {
  for (int i = 0; i < 70; ++i) buffer[i] = static_cast<uint8_t>(0xA0 + i);
  std::string expected;
  char group[4];
  for (int i = 0; i < 70; ++i) {
    std::snprintf(group, sizeof group, "%02X ", 0xA0 + i);
    expected += group;
    if (i == 31 || i == 63 || i == 69) expected += "\n";
  }
  EXPECT_EQ(expected, SavedText(IMAGEFORMAT_RAW_HEX, 70));
  EXPECT_EQ(70, file.byteCount);
}

TEST_F(FileSide, SeventyBytesAsIntelHexRecords) {
  std::memset(buffer.get(), 0x11, 70);
  const std::string text = SavedText(IMAGEFORMAT_INTEL_HEX, 70);
  EXPECT_EQ(":20000000" + std::string(64, '1') + "C0\n" + ":20002000" + std::string(64, '1') + "A0\n" +
                ":0600400011111111111154\n:00000001FF",
            text);
  EXPECT_EQ(70, file.byteCount);
}

TEST_F(FileSide, IntelHexSaveLeavesNoStreamToCloseAgain) {
  file.dataLength = 16;
  ASSERT_TRUE(file.Open(dir.File("out").c_str(), IMAGEFORMAT_INTEL_HEX, true));
  ASSERT_TRUE(file.Save(IMAGEFORMAT_INTEL_HEX, buffer.get(), capacity));
  EXPECT_EQ(nullptr, file.Stream());
  EXPECT_TRUE(file.Close());
}

/// The names in the scratch folder.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::ranges::sort(names);
  return names;
}

TEST_F(FileSide, AWrittenFileTakesItsNameOnlyOnceSavedAndClosed) {
  const std::string path = dir.File("out.bin");
  testsupport::WriteFile(path, "old");
  Fill("new");
  file.dataLength = 3;
  ASSERT_TRUE(file.Open(path.c_str(), IMAGEFORMAT_BINARY, true));
  ASSERT_TRUE(file.Save(IMAGEFORMAT_BINARY, buffer.get(), capacity));
  EXPECT_EQ("old", testsupport::ReadFile(path));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ("new", testsupport::ReadFile(path));

  // A save the run gives up on, and a file never saved, leave the old file
  // and nothing beside it.
  Fill("bad");
  ASSERT_TRUE(file.Open(path.c_str(), IMAGEFORMAT_BINARY, true));
  ASSERT_TRUE(file.Save(IMAGEFORMAT_BINARY, buffer.get(), capacity));
  file.complete = false;
  EXPECT_TRUE(file.Close());
  {
    ImageFile unsaved;
    ASSERT_TRUE(unsaved.Open(path.c_str(), IMAGEFORMAT_BINARY, true));
  }
  EXPECT_EQ("new", testsupport::ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"out.bin"}, Names(dir.path()));
  EXPECT_EQ(IMAGEFILE_NONE, file.LastOutcome());
}

class SavedFormat : public FileSide, public testing::WithParamInterface<int32_t> {};

TEST_P(SavedFormat, LoadsBackToTheSameBytes) {
  // More than two 64 KB pages, ending in a short record.
  const std::string bytes = RandomBytes(0x20000 + 17);
  Fill(bytes);
  const int32_t length = static_cast<int32_t>(bytes.size());
  ASSERT_EQ((Outcome{true, ""}), Save(dir.File("image"), GetParam(), length));
  std::memset(buffer.get(), 0, kCapacity);
  EXPECT_EQ((Outcome{true, ""}), Load(dir.File("image"), GetParam()));
  EXPECT_EQ(length, file.dataLength);
  EXPECT_EQ(Spans({{0, static_cast<uint32_t>(length)}}), file.spans);
  EXPECT_TRUE(bytes == Buffer(0, bytes.size()));
}

TEST_P(SavedFormat, OutputFileThatCannotBeWritten) {
  if (!testsupport::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ((Outcome{false, "Error writing to output file\n", IMAGEFILE_OUTPUT_FILE}),
            Save("/dev/full", GetParam(), 100));
}

TEST_F(FileSide, UnknownFormatIsAnInternalError) {
  for (int32_t format : {3, -1}) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(file.Load(format, buffer.get(), capacity));
    EXPECT_EQ(IMAGEFILE_INTERNAL, file.LastOutcome());
    EXPECT_FALSE(file.Save(format, buffer.get(), capacity));
    EXPECT_EQ(IMAGEFILE_INTERNAL, file.LastOutcome());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
  }
}

TEST_F(FileSide, WithoutABufferNothingMovesAndNothingIsRecorded) {
  ASSERT_TRUE(file.Open(dir.File("out").c_str(), IMAGEFORMAT_BINARY, true));
  EXPECT_FALSE(file.Save(IMAGEFORMAT_BINARY, nullptr, 0));
  EXPECT_EQ(IMAGEFILE_NONE, file.LastOutcome());
  EXPECT_FALSE(file.complete);
}

std::string FormatName(const testing::TestParamInfo<int32_t>& info) {
  static const char* const kNames[] = {"Binary", "RawHex", "IntelHex"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Formats, SavedFormat,
                         testing::Values(IMAGEFORMAT_BINARY, IMAGEFORMAT_RAW_HEX, IMAGEFORMAT_INTEL_HEX), FormatName);

/// Images of a 64 MiB chip are made, written and checked a MiB block at a
/// time, each block the pattern seeded by its number, so that the buffer is
/// the only copy of a whole image the test holds.
constexpr size_t kBlock = 1 << 20;

std::string PatternBlock(size_t at) { return testsupport::Pattern(kBlock, static_cast<uint32_t>(at / kBlock)); }

void WritePatternFile(const std::string& path, size_t size) {
  std::ofstream out(path, std::ios::binary);
  for (size_t at = 0; at < size; at += kBlock) {
    out.write(PatternBlock(at).data(), static_cast<std::streamsize>(std::min(kBlock, size - at)));
  }
}

void FillPattern(uint8_t* buffer, size_t size) {
  for (size_t at = 0; at < size; at += kBlock) std::memcpy(buffer + at, PatternBlock(at).data(), kBlock);
}

/// The buffer holds the pattern from its start up to `size`.
bool HoldsPattern(const uint8_t* buffer, size_t size) {
  for (size_t at = 0; at < size; at += kBlock) {
    if (std::memcmp(buffer + at, PatternBlock(at).data(), std::min(kBlock, size - at)) != 0) return false;
  }
  return true;
}

/// The buffer of a 64 MiB chip.
class LargeBuffer : public FileSide {
 protected:
  static constexpr uint32_t kLarge = 64u << 20;
  LargeBuffer() : FileSide(kLarge) {}
};

TEST_F(LargeBuffer, BinaryFileOfTheWholeBufferLoadsAndOneByteMoreWarns) {
  struct Case {
    size_t size;
    Outcome outcome;
  };
  for (const Case& c : {Case{kLarge, {true, ""}}, Case{kLarge + 1, {true, kWarning, IMAGEFILE_INPUT_TRUNCATED}}}) {
    SCOPED_TRACE(c.size);
    std::memset(buffer.get(), 0, kLarge);
    WritePatternFile(dir.File("in"), c.size);
    EXPECT_EQ(c.outcome, Load(dir.File("in"), IMAGEFORMAT_BINARY));
    EXPECT_EQ(static_cast<int32_t>(kLarge), file.dataLength);
    EXPECT_EQ(Spans({{0, kLarge}}), file.spans);
    EXPECT_TRUE(HoldsPattern(buffer.get(), kLarge));
  }
}

TEST_F(LargeBuffer, IntelHexAddressesAbove16MiBLoadUpToTheBufferEnd) {
  const std::string text = Rec("020000040100") + Rec("0400000011223344") + Rec("0200000403FF") +
                           Rec("04FFFC00AABBCCDD") + ":00000001FF\n";
  EXPECT_EQ((Outcome{true, ""}), LoadText(text, IMAGEFORMAT_INTEL_HEX));
  EXPECT_EQ(Spans({{0x01000000, 4}, {0x03FFFFFC, 4}}), file.spans);
  EXPECT_EQ(0x03000000, file.dataLength);
  EXPECT_EQ("\x11\x22\x33\x44", Buffer(0x01000000, 4));
  EXPECT_EQ("\xAA\xBB\xCC\xDD", Buffer(0x03FFFFFC, 4));
  EXPECT_EQ(std::string(8, '\xFF'), Buffer(0x00FFFFFC, 4) + Buffer(0x01000004, 4));
}

TEST_F(LargeBuffer, IntelHexBeyondTheBufferNamesItsSize) {
  EXPECT_EQ((Outcome{false, "Error reading input file\nline 2: data at 0x04000000 is beyond the 64 MB image\n",
                     IMAGEFILE_INPUT_FILE}),
            LoadText(Rec("020000040400") + Rec("0100000011"), IMAGEFORMAT_INTEL_HEX));
}

class LargeSavedFormat : public LargeBuffer, public testing::WithParamInterface<int32_t> {};

TEST_P(LargeSavedFormat, TheWholeBufferLoadsBackToTheSameBytes) {
  FillPattern(buffer.get(), kLarge);
  ASSERT_EQ((Outcome{true, ""}), Save(dir.File("image"), GetParam(), static_cast<int32_t>(kLarge)));
  if (GetParam() != IMAGEFORMAT_BINARY) {
    EXPECT_EQ(static_cast<int32_t>(kLarge), file.byteCount);
  }
  std::memset(buffer.get(), 0, kLarge);
  EXPECT_EQ((Outcome{true, ""}), Load(dir.File("image"), GetParam()));
  EXPECT_EQ(static_cast<int32_t>(kLarge), file.dataLength);
  EXPECT_EQ(Spans({{0, kLarge}}), file.spans);
  EXPECT_TRUE(HoldsPattern(buffer.get(), kLarge));
}

INSTANTIATE_TEST_SUITE_P(Formats, LargeSavedFormat,
                         testing::Values(IMAGEFORMAT_BINARY, IMAGEFORMAT_RAW_HEX, IMAGEFORMAT_INTEL_HEX), FormatName);

}  // namespace
