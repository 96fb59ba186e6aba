// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/flashapp.h"
#include "app/options.h"
#include "image/file_side_fixture.h"
#include "testsupport/run_program.h"

namespace {

constexpr const char* kWarning = "Warning: Input file larger than memory buffer\n";

TEST(ImageFileModeTest, BinaryOrTextByFormatWriteOrReadByDirection) {
  EXPECT_STREQ("rb", FLASHAPP::ImageFileMode(false, FORMAT_BINARY));
  EXPECT_STREQ("rt", FLASHAPP::ImageFileMode(false, FORMAT_RAW_HEX));
  EXPECT_STREQ("rt", FLASHAPP::ImageFileMode(false, FORMAT_INTEL_HEX));
  EXPECT_STREQ("wb", FLASHAPP::ImageFileMode(true, FORMAT_BINARY));
  EXPECT_STREQ("wt", FLASHAPP::ImageFileMode(true, FORMAT_RAW_HEX));
  EXPECT_STREQ("wt", FLASHAPP::ImageFileMode(true, FORMAT_INTEL_HEX));
}

TEST_F(FileSide, InputFileThatCannotBeOpened) {
  const std::string path = dir.File("missing.bin");
  EXPECT_EQ((Outcome{false, "Error opening file: " + path + "\n"}), Load(path, FORMAT_BINARY));
  EXPECT_EQ(RC_INPUT_FILE, options.GetResultCode());
}

TEST_F(FileSide, OutputFileThatCannotBeOpened) {
  const std::string path = dir.File("no-such-folder/out.hex");
  EXPECT_EQ((Outcome{false, "Error opening file: " + path + "\n"}), Save(path, FORMAT_INTEL_HEX, 0));
  EXPECT_EQ(RC_OUTPUT_FILE, options.GetResultCode());
}

TEST_F(FileSide, EmptyBinaryFile) {
  app.dataLength = 99;
  app.imageSpans = {{5, 1}};
  EXPECT_EQ((Outcome{true, ""}), LoadText("", FORMAT_BINARY));
  EXPECT_EQ(0, app.dataLength);
  EXPECT_TRUE(app.imageSpans.empty());
  EXPECT_EQ(RC_OK, options.GetResultCode());
}

TEST_F(FileSide, BinaryFileLoadsFromTheBufferStart) {
  const std::string bytes = RandomBytes(100000);
  app.imageSpans = {{5, 1}};
  EXPECT_EQ((Outcome{true, ""}), LoadText(bytes, FORMAT_BINARY));
  EXPECT_EQ(100000, app.dataLength);
  EXPECT_EQ(Spans({{0, 100000}}), app.imageSpans);
  EXPECT_TRUE(bytes == Buffer(0, bytes.size()));
}

TEST_F(FileSide, BinaryFileThatFillsTheBufferExactlyLoadsWithoutAWarning) {
  const std::string bytes = RandomBytes(kImageBufferSize);
  EXPECT_EQ((Outcome{true, ""}), LoadText(bytes, FORMAT_BINARY));
  EXPECT_EQ(RC_OK, options.GetResultCode());
  EXPECT_EQ(static_cast<int32_t>(kImageBufferSize), app.dataLength);
  EXPECT_EQ(Spans({{0, kImageBufferSize}}), app.imageSpans);
  EXPECT_TRUE(bytes == Buffer(0, kImageBufferSize));
}

TEST_F(FileSide, BinaryFileLargerThanTheBufferWarnsAndLoadsItsStart) {
  for (size_t size : {size_t{kImageBufferSize} + 1, size_t{kImageBufferSize} + 1000}) {
    SCOPED_TRACE(size);
    options.SetResultCode(RC_OK);
    const std::string bytes = RandomBytes(size);
    EXPECT_EQ((Outcome{true, kWarning}), LoadText(bytes, FORMAT_BINARY));
    EXPECT_EQ(RC_INPUT_TRUNCATED, options.GetResultCode());
    EXPECT_EQ(static_cast<int32_t>(kImageBufferSize), app.dataLength);
    EXPECT_TRUE(bytes.compare(0, kImageBufferSize, Buffer(0, kImageBufferSize)) == 0);
  }
}

TEST_F(FileSide, BinaryReadError) {
  // A folder opens as a stream, and every read from it fails.
  EXPECT_EQ((Outcome{false, "Error reading from input file\n"}), Load(dir.path(), FORMAT_BINARY));
  EXPECT_EQ(RC_INPUT_FILE, options.GetResultCode());
}

TEST_F(FileSide, RawHexLoads) {
  app.imageSpans = {{5, 1}};
  EXPECT_EQ((Outcome{true, ""}), LoadText("01 02 03\r\nab\n", FORMAT_RAW_HEX));
  EXPECT_EQ(4, app.dataLength);
  EXPECT_EQ(Spans({{0, 4}}), app.imageSpans);
  EXPECT_EQ(std::string("\x01\x02\x03\xAB", 4), Buffer(0, 4));
}

TEST_F(FileSide, RawHexFailuresKeepWhatWasStored) {
  EXPECT_EQ((Outcome{false, "Data format or syntax error in input file\nline 2: ',' is not a hex digit\n"}),
            LoadText("12\n34,56", FORMAT_RAW_HEX));
  EXPECT_EQ(RC_INPUT_FILE, options.GetResultCode());
  EXPECT_EQ(2, app.dataLength);

  options.SetResultCode(RC_OK);
  EXPECT_EQ((Outcome{false, "Error reading from input file\nline 1: read error\n"}),
            Load(dir.path(), FORMAT_RAW_HEX));
  EXPECT_EQ(RC_INPUT_FILE, options.GetResultCode());
  EXPECT_EQ(0, app.dataLength);
}

TEST_F(FileSide, RawHexBeyondTheBufferWarnsAndLoads) {
  // 512 bytes a line, and one line more than the buffer holds.
  const std::string line = std::string(1024, 'A') + "\n";
  std::string text;
  for (uint32_t i = 0; i <= kImageBufferSize / 512; ++i) text += line;
  EXPECT_EQ((Outcome{true, kWarning}), LoadText(text, FORMAT_RAW_HEX));
  EXPECT_EQ(RC_INPUT_TRUNCATED, options.GetResultCode());
  EXPECT_EQ(static_cast<int32_t>(kImageBufferSize), app.dataLength);
  EXPECT_EQ(0xAA, app.imageBuffer[kImageBufferSize - 1]);
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
  std::memset(app.imageBuffer.get(), 0, kImageBufferSize);
  EXPECT_EQ((Outcome{true, ""}), LoadText(c.text, FORMAT_INTEL_HEX));
  EXPECT_EQ(c.spans, app.imageSpans);
  EXPECT_EQ(c.length, app.dataLength);
  EXPECT_EQ(c.image, Buffer(c.origin, c.image.size()));
  // Everything outside the image is erased.
  const std::string erased(kImageBufferSize - c.image.size(), '\xFF');
  EXPECT_TRUE(Buffer(0, c.origin) + Buffer(c.origin + c.length, kImageBufferSize - c.origin - c.length) ==
              erased);
  EXPECT_EQ(RC_OK, options.GetResultCode());
}

INSTANTIATE_TEST_SUITE_P(Files, IntelHexLoad, testing::ValuesIn(kIntelHexLoads),
                         [](const testing::TestParamInfo<IntelHexLoadCase>& info) { return info.param.name; });

TEST_F(FileSide, IntelHexFailureReportsWhatWasStored) {
  EXPECT_EQ((Outcome{false, "Error reading input file\nline 3: checksum\n"}),
            LoadText(":020000040001F9\n:03000000010203F7\n:03000000010203F8\n", FORMAT_INTEL_HEX));
  EXPECT_EQ(RC_INPUT_FILE, options.GetResultCode());
  EXPECT_EQ(3, app.dataLength);
}

TEST_F(FileSide, SavingNothing) {
  app.byteCount = 123;
  EXPECT_EQ("", SavedText(FORMAT_BINARY, 0));
  EXPECT_EQ(123, app.byteCount);  // a binary save does not count
  EXPECT_EQ("", SavedText(FORMAT_RAW_HEX, 0));
  EXPECT_EQ(0, app.byteCount);
  app.byteCount = 123;
  EXPECT_EQ(":00000001FF", SavedText(FORMAT_INTEL_HEX, 0));
  EXPECT_EQ(0, app.byteCount);
  EXPECT_EQ(RC_OK, options.GetResultCode());
}

TEST_F(FileSide, SeventyBytesAsRawHexLines) {
  for (int i = 0; i < 70; ++i) app.imageBuffer[i] = static_cast<uint8_t>(0xA0 + i);
  std::string expected;
  char group[4];
  for (int i = 0; i < 70; ++i) {
    std::snprintf(group, sizeof group, "%02X ", 0xA0 + i);
    expected += group;
    if (i == 31 || i == 63 || i == 69) expected += "\n";
  }
  EXPECT_EQ(expected, SavedText(FORMAT_RAW_HEX, 70));
  EXPECT_EQ(70, app.byteCount);
}

TEST_F(FileSide, SeventyBytesAsIntelHexRecords) {
  std::memset(app.imageBuffer.get(), 0x11, 70);
  const std::string text = SavedText(FORMAT_INTEL_HEX, 70);
  EXPECT_EQ(":20000000" + std::string(64, '1') + "C0\n" + ":20002000" + std::string(64, '1') + "A0\n" +
                ":0600400011111111111154\n:00000001FF",
            text);
  EXPECT_EQ(70, app.byteCount);
}

TEST_F(FileSide, IntelHexSaveLeavesNoStreamToCloseAgain) {
  options.SetFileName(dir.File("out").c_str());
  options.SetReadFlash(true);
  options.SetFileFormat(FORMAT_INTEL_HEX);
  app.dataLength = 16;
  ASSERT_TRUE(app.OpenImageFile());
  ASSERT_TRUE(app.SaveImage());
  EXPECT_EQ(nullptr, app.imageFile);
  app.CloseImageFile();
  app.Shutdown();
}

class SavedFormat : public FileSide, public testing::WithParamInterface<int32_t> {};

TEST_P(SavedFormat, LoadsBackToTheSameBytes) {
  // More than two 64 KB pages, ending in a short record.
  const std::string bytes = RandomBytes(0x20000 + 17);
  Fill(bytes);
  const int32_t length = static_cast<int32_t>(bytes.size());
  ASSERT_EQ((Outcome{true, ""}), Save(dir.File("image"), GetParam(), length));
  std::memset(app.imageBuffer.get(), 0, kImageBufferSize);
  EXPECT_EQ((Outcome{true, ""}), Load(dir.File("image"), GetParam()));
  EXPECT_EQ(length, app.dataLength);
  EXPECT_EQ(Spans({{0, static_cast<uint32_t>(length)}}), app.imageSpans);
  EXPECT_TRUE(bytes == Buffer(0, bytes.size()));
}

TEST_P(SavedFormat, OutputFileThatCannotBeWritten) {
  if (!testsupport::FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ((Outcome{false, "Error writing to output file\n"}), Save("/dev/full", GetParam(), 100));
  EXPECT_EQ(RC_OUTPUT_FILE, options.GetResultCode());
}

TEST_F(FileSide, UnknownFormatIsAnInternalError) {
  for (int32_t format : {3, -1}) {
    options.SetFileFormat(format);
    options.SetResultCode(RC_OK);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(app.LoadImage());
    EXPECT_EQ(RC_INTERNAL, options.GetResultCode());
    options.SetResultCode(RC_OK);
    EXPECT_FALSE(app.SaveImage());
    EXPECT_EQ(RC_INTERNAL, options.GetResultCode());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
  }
}

std::string FormatName(const testing::TestParamInfo<int32_t>& info) {
  static const char* const kNames[] = {"Binary", "RawHex", "IntelHex"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Formats, SavedFormat,
                         testing::Values(FORMAT_BINARY, FORMAT_RAW_HEX, FORMAT_INTEL_HEX), FormatName);

}  // namespace
