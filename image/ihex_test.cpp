// SPDX-License-Identifier: MIT
#include "image/ihex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "image/test_hex_text.h"
#include "image/test_scratch_stream.h"

namespace {

/// `count` data bytes 0x00, 0x01, ... as hex digits.
std::string Counting(int count, int first = 0) {
  std::string hex;
  char pair[3];
  for (int i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", (first + i) & 0xFF);
    hex += pair;
  }
  return hex;
}

std::vector<uint8_t> CountingBytes(int count, int first = 0) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
  return bytes;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

constexpr uint32_t kCapacity = 0x20000;
constexpr uint8_t kUntouched = 0xEE;
const std::string kThree = Rec("0300000001ABCD");
const std::string kEnd = ":00000001FF\n";

struct Filled {
  uint32_t address;
  std::vector<uint8_t> bytes;
};

struct ReadCase {
  const char* name;
  std::string text;
  bool ok;
  int32_t status;
  std::vector<Filled> filled;  // every byte the read must have stored, and no other
  uint32_t low;
  uint32_t end;
  TextFault fault;
};

const std::vector<uint8_t> kThreeBytes{0x01, 0xAB, 0xCD};
const std::vector<uint8_t> kFirst16 = CountingBytes(16);
const std::vector<uint8_t> kLast16 = CountingBytes(16, 16);
/// kThree without its line end.
const std::string kThreeOnly = kThree.substr(0, kThree.size() - 1);
const std::string kBlanks2100(2100, ' ');
constexpr TextFault kNoFault{};
constexpr uint32_t kNone = 0xFFFFFFFF;  // the low address when nothing was stored

/// `text` with every line feed replaced by `lineEnd`.
std::string WithLineEnds(std::string text, const std::string& lineEnd) {
  std::string out;
  for (char c : text) out += c == '\n' ? lineEnd : std::string(1, c);
  return out;
}

const ReadCase kReadCases[] = {
    {"UpperCase", kThree + kEnd, true, IHEX_OK, {{0, kThreeBytes}}, 0, 3, kNoFault},
    {"LowerCase", Lower(kThree + kEnd), true, IHEX_OK, {{0, kThreeBytes}}, 0, 3, kNoFault},
    {"BlanksAfterChecksum", kThreeOnly + " \t \r\n", true, IHEX_OK, {{0, kThreeBytes}}, 0, 3, kNoFault},
    {"TextAfterChecksum", kThreeOnly + " ;x\r\n", false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_TEXT_AFTER_CHECKSUM, 1, 0}},
    // The second record would be lost; the first does not act either.
    {"TwoRecordsOnALine", Rec("0100100011") + kThreeOnly + Rec("01000300AA"), false, IHEX_BAD_RECORD,
     {{0x10, {0x11}}}, 0x10, 0x11, {TEXTFAULT_TEXT_AFTER_CHECKSUM, 2, 0}},
    {"LongestRecord", Rec("FF010000" + Counting(255)), true, IHEX_OK, {{0x100, CountingBytes(255)}}, 0x100,
     0x1FF, kNoFault},
    {"NoEndRecord", kThree, true, IHEX_OK, {{0, kThreeBytes}}, 0, 3, kNoFault},
    {"Empty", "", true, IHEX_OK, {}, kNone, 0, kNoFault},
    {"LinesAfterEndNeverRead", kThree + kEnd + "garbage\n" + Rec("01000100AA"), true, IHEX_OK,
     {{0, kThreeBytes}}, 0, 3, kNoFault},
    {"CarriageReturnsOnly", WithLineEnds(Rec("0100100011") + kThree + kEnd, "\r"), true, IHEX_OK,
     {{0, kThreeBytes}, {0x10, {0x11}}}, 0, 0x11, kNoFault},
    {"CarriageReturnsAndLineFeeds", WithLineEnds(Rec("0100100011") + kThree + kEnd, "\r\n"), true, IHEX_OK,
     {{0, kThreeBytes}, {0x10, {0x11}}}, 0, 0x11, kNoFault},
    {"BlankLine", kThree + "\n" + Rec("01000300AA"), false, IHEX_BAD_RECORD, {{0, kThreeBytes}}, 0, 3,
     {TEXTFAULT_BLANK_LINE, 2, 0}},
    // A carriage return after a line feed ends a line of its own.
    {"BlankLineBetweenLineEnds", kThree + "\r" + Rec("01000300AA"), false, IHEX_BAD_RECORD, {{0, kThreeBytes}},
     0, 3, {TEXTFAULT_BLANK_LINE, 2, 0}},
    {"BlankBeforeColon", " " + kThree, false, IHEX_BAD_RECORD, {}, kNone, 0, {TEXTFAULT_NO_COLON, 1, 0}},
    {"NulBeforeColon", std::string(1, '\0') + kThree, false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_NUL, 1, 0}},
    {"NulInTheRecord", std::string(":03000000\0" "1ABCD84\n", 18), false, IHEX_BAD_DIGIT, {}, kNone, 0,
     {TEXTFAULT_NUL, 1, 0}},
    {"NulAfterChecksum", kThreeOnly + std::string("\0", 1) + "\n", false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_NUL, 1, 0}},
    {"WrongChecksumDigit", ":0300000001ABCD8D\n", false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_CHECKSUM, 1, 0}},
    {"CutBeforeChecksum", ":0300000001ABCD\n", false, IHEX_BAD_DIGIT, {}, kNone, 0,
     {TEXTFAULT_ENDS_EARLY, 1, 0}},
    {"CutAtEndOfFile", ":0300000001AB", false, IHEX_BAD_DIGIT, {}, kNone, 0, {TEXTFAULT_ENDS_EARLY, 1, 0}},
    {"NonDigit", ":03000000G1ABCD7E\n", false, IHEX_BAD_DIGIT, {}, kNone, 0, {TEXTFAULT_NOT_HEX_DIGIT, 1, 'G'}},
    {"Type06", kThree + Rec("00000006"), false, IHEX_BAD_RECORD, {{0, kThreeBytes}}, 0, 3,
     {TEXTFAULT_RECORD_TYPE, 2, 6}},
    {"ShortSegmentAddress", Rec("0100000200"), false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_RECORD_TOO_SHORT, 1, 2}},
    {"ShortStartSegment", Rec("020000030000"), false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_RECORD_TOO_SHORT, 1, 3}},
    {"ShortLinearAddress", Rec("0100000400"), false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_RECORD_TOO_SHORT, 1, 4}},
    {"ShortStartLinear", Rec("03000005000000"), false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_RECORD_TOO_SHORT, 1, 5}},
    {"StartRecordsStoreNothing", Rec("0400000312345678") + Rec("0400000512345678"), true, IHEX_OK, {}, kNone, 0,
     kNoFault},
    // Without an address record the 16-bit offset runs on past 0xFFFF.
    {"NoAddressRecordRunsOn", Rec("20FFF000" + Counting(32)), true, IHEX_OK, {{0xFFF0, CountingBytes(32)}},
     0xFFF0, 0x10010, kNoFault},
    // After a segment record the offset wraps within its 64 KB window.
    {"SegmentWraps", Rec("020000020000") + Rec("20FFF000" + Counting(32)), true, IHEX_OK,
     {{0xFFF0, kFirst16}, {0, kLast16}}, 0, 0x10000, kNoFault},
    {"SegmentBase", Rec("020000021000") + Rec("0300100001ABCD"), true, IHEX_OK, {{0x10010, kThreeBytes}},
     0x10010, 0x10013, kNoFault},
    {"LinearBase", Rec("020000040001") + kThree, true, IHEX_OK, {{0x10000, kThreeBytes}}, 0x10000, 0x10003,
     kNoFault},
    {"LinearRunsOnToTheCapacity", Rec("020000040001") + Rec("20FFF000" + Counting(32)), false,
     IHEX_OUT_OF_RANGE, {{0x1FFF0, kFirst16}}, 0x1FFF0, 0x20000, {TEXTFAULT_BEYOND_IMAGE, 2, 0x20000}},
    {"BeyondCapacity", Rec("020000040002") + kThree, false, IHEX_OUT_OF_RANGE, {}, kNone, 0,
     {TEXTFAULT_BEYOND_IMAGE, 2, 0x20000}},
    {"TopOfTheAddressSpace", Rec("02000004FFFF") + Rec("02FFFF00AABB"), false, IHEX_OUT_OF_RANGE, {}, kNone, 0,
     {TEXTFAULT_BEYOND_IMAGE, 2, 0xFFFFFFFF}},
    // A line longer than one piece: only blanks may follow the record.
    {"LongLineOfBlanks", kThreeOnly + kBlanks2100 + "\n" + kEnd, true, IHEX_OK, {{0, kThreeBytes}}, 0, 3,
     kNoFault},
    {"LongBlankLine", kThree + kBlanks2100 + "\n" + kEnd, false, IHEX_BAD_RECORD, {{0, kThreeBytes}}, 0, 3,
     {TEXTFAULT_BLANK_LINE, 2, 0}},
    {"LongLineOfBlanksBeforeTheColon", kThree + kBlanks2100 + kEnd, false, IHEX_BAD_RECORD, {{0, kThreeBytes}},
     0, 3, {TEXTFAULT_NO_COLON, 2, 0}},
    {"TextFarAfterTheRecord", kThreeOnly + kBlanks2100 + "x\n", false, IHEX_BAD_RECORD, {}, kNone, 0,
     {TEXTFAULT_TEXT_AFTER_CHECKSUM, 1, 0}},
    {"EndRecordFollowedFarByText", kThree + ":00000001FF" + kBlanks2100 + ":00000001FF\n", false,
     IHEX_BAD_RECORD, {{0, kThreeBytes}}, 0, 3, {TEXTFAULT_TEXT_AFTER_CHECKSUM, 2, 0}},
};

class IhexRead : public testing::TestWithParam<ReadCase> {};

TEST_P(IhexRead, StoresAtAbsoluteAddresses) {
  const ReadCase& c = GetParam();
  std::vector<uint8_t> buffer(kCapacity, kUntouched);
  ScratchStream in(c.text);
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(buffer.data(), kCapacity));
  ASSERT_TRUE(ihex.AttachInput(in.get()));

  EXPECT_EQ(c.ok, ihex.ReadData());
  EXPECT_EQ(c.status, ihex.GetStatus());
  EXPECT_EQ(c.fault, ihex.GetFault());
  std::vector<uint8_t> expected(kCapacity, kUntouched);
  for (const Filled& f : c.filled) std::copy(f.bytes.begin(), f.bytes.end(), expected.begin() + f.address);
  EXPECT_TRUE(expected == buffer);
  EXPECT_EQ(c.low, ihex.GetLowAddress());
  EXPECT_EQ(c.end, ihex.GetEndAddress());
  EXPECT_EQ(c.end > c.low ? static_cast<int32_t>(c.end - c.low) : 0, ihex.GetDataLength());
}

INSTANTIATE_TEST_SUITE_P(Lines, IhexRead, testing::ValuesIn(kReadCases),
                         [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

struct RangesCase {
  const char* name;
  std::string text;
  std::vector<IHEX::Range> ranges;
};

const RangesCase kRangesCases[] = {
    {"RecordsEndToEnd", Rec("020000000102") + Rec("020002000304"), {{0, 4}}},
    {"AGapBetween", Rec("020000000102") + Rec("020010000304"), {{0, 2}, {0x10, 0x12}}},
    {"OutOfOrderAndOverlapping", Rec("0400100001020304") + Rec("020000000506") + Rec("04000E000708090A"),
     {{0, 2}, {0x0E, 0x14}}},
    {"SegmentWrapInsideItsWindow", Rec("020000020000") + Rec("04FFFE0001020304"), {{0, 2}, {0xFFFE, 0x10000}}},
    {"NoDataRecords", Rec("020000040001") + kEnd, {}},
};

class IhexRanges : public testing::TestWithParam<RangesCase> {};

TEST_P(IhexRanges, GiveWhatTheDataRecordsFilled) {
  const RangesCase& c = GetParam();
  std::vector<uint8_t> buffer(kCapacity);
  ScratchStream in(c.text);
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(buffer.data(), kCapacity));
  ASSERT_TRUE(ihex.AttachInput(in.get()));
  ASSERT_TRUE(ihex.ReadData());
  EXPECT_EQ(c.ranges, ihex.GetFilledRanges());
}

INSTANTIATE_TEST_SUITE_P(Records, IhexRanges, testing::ValuesIn(kRangesCases),
                         [](const testing::TestParamInfo<RangesCase>& info) { return info.param.name; });

TEST(IhexReadTest, StartRecordsGiveTheStartValues) {
  std::vector<uint8_t> buffer(16);
  ScratchStream in(Rec("0400000312345678") + Rec("04000005CAFEF00D"));
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(buffer.data(), 16));
  ASSERT_TRUE(ihex.AttachInput(in.get()));
  ASSERT_TRUE(ihex.ReadData());
  uint16_t segment = 0, offset = 0;
  uint32_t linear = 0;
  ihex.GetStartSegment(segment, offset);
  ihex.GetStartLinear(linear);
  EXPECT_EQ(0x1234, segment);
  EXPECT_EQ(0xF00D, offset);  // the start linear record came last
  EXPECT_EQ(0xCAFEF00Du, linear);
}

TEST(IhexReadTest, AddressRecordsSetTheMode) {
  std::vector<uint8_t> buffer(16);
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(buffer.data(), 16));
  EXPECT_FALSE(ihex.IsLinear());
  EXPECT_FALSE(ihex.IsSegmented());
  ScratchStream in(Rec("020000020000") + Rec("020000040000"));
  ASSERT_TRUE(ihex.AttachInput(in.get()));
  ASSERT_TRUE(ihex.ReadData());
  EXPECT_TRUE(ihex.IsLinear());
  EXPECT_FALSE(ihex.IsSegmented());
}

TEST(IhexReadTest, ReadErrorHasItsOwnStatus) {
  std::vector<uint8_t> buffer(16);
  ScratchStream folder{ScratchStream::Folder{}};
  ASSERT_NE(nullptr, folder.get());
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(buffer.data(), 16));
  ASSERT_TRUE(ihex.AttachInput(folder.get()));
  EXPECT_FALSE(ihex.ReadData());
  EXPECT_EQ(IHEX_READ, ihex.GetStatus());
  EXPECT_EQ((TextFault{TEXTFAULT_READ, 1, 0}), ihex.GetFault());
}

TEST(IhexReadTest, ReadFileOpensReadsAndCloses) {
  testsupport::ScratchDir dir;
  testsupport::WriteFile(dir.File("a.hex"), kThree + kEnd);
  IHEX ihex;
  ASSERT_TRUE(ihex.AllocateFilled(0x55));
  EXPECT_TRUE(ihex.ReadFile(dir.File("a.hex").c_str()));
  const uint8_t* buffer = ihex.GetBuffer();
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{0x01, 0xAB, 0xCD, 0x55}));
  EXPECT_EQ(0x55, buffer[IHEX::kDefaultCapacity - 1]);
  EXPECT_FALSE(ihex.ReadFile(dir.File("missing.hex").c_str()));
  EXPECT_EQ(IHEX_OPEN_INPUT, ihex.GetStatus());
  ihex.Release();
  EXPECT_EQ(nullptr, ihex.GetBuffer());
  EXPECT_EQ(3, ihex.GetDataLength());  // the address range outlives the buffer
}

TEST(IhexStreamTest, OneStreamAtATime) {
  ScratchStream a, b;
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachInput(a.get()));
  EXPECT_FALSE(ihex.AttachInput(b.get()));
  EXPECT_EQ(IHEX_STREAM_IN_USE, ihex.GetStatus());
  EXPECT_FALSE(ihex.AttachOutput(b.get()));
  EXPECT_FALSE(ihex.OpenOutput("unused"));
  EXPECT_EQ(IHEX_STREAM_IN_USE, ihex.GetStatus());

  IHEX other;
  EXPECT_FALSE(other.AttachOutput(nullptr));
  EXPECT_EQ(IHEX_OPEN_OUTPUT, other.GetStatus());
  EXPECT_FALSE(other.OpenOutput("/nonexistent-folder/x.hex"));
  EXPECT_EQ(IHEX_OPEN_OUTPUT, other.GetStatus());
}

/// Writes `size` counting bytes as records of at most 32 through an attached
/// stream and returns the text.
std::string WriteCounting(uint32_t size, bool linear) {
  std::vector<uint8_t> buffer = CountingBytes(static_cast<int>(size));
  ScratchStream out("", "w");
  IHEX ihex;
  EXPECT_TRUE(ihex.AttachBuffer(buffer.data(), size));
  if (linear) ihex.SetLinear();
  EXPECT_TRUE(ihex.AttachOutput(out.get()));
  for (uint32_t offset = 0; offset < size; offset += 32) {
    EXPECT_TRUE(ihex.WriteRecord(static_cast<int32_t>(std::min(32u, size - offset)), offset,
                                 buffer.data() + offset));
  }
  EXPECT_TRUE(ihex.CloseOutput());
  out.Forget();  // CloseOutput closed it
  return out.Contents();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1) {
    lines.push_back(text.substr(start, lf - start + 1));
  }
  lines.push_back(text.substr(start));
  return lines;
}

TEST(IhexWriteTest, SeventyBytesAsThreeRecordsThenTheEndRecord) {
  EXPECT_EQ(Rec("20000000" + Counting(32)) + Rec("20002000" + Counting(32, 32)) +
                Rec("06004000" + Counting(6, 64)) + ":00000001FF",
            WriteCounting(70, true));
}

TEST(IhexWriteTest, NothingButTheEndRecord) { EXPECT_EQ(":00000001FF", WriteCounting(0, true)); }

TEST(IhexWriteTest, NewPageGetsAnExtendedAddressRecord) {
  for (bool linear : {true, false}) {
    SCOPED_TRACE(linear ? "linear" : "segment");
    const std::vector<std::string> lines = Lines(WriteCounting(0x10000 + 64, linear));
    // 2,048 records fill the first page without an address record.
    ASSERT_EQ(2048u + 1 + 2 + 1, lines.size());
    EXPECT_EQ(0, std::count_if(lines.begin(), lines.begin() + 2048,
                               [](const std::string& l) { return l.substr(7, 2) != "00"; }));
    EXPECT_EQ(linear ? ":020000040001F9\n" : ":020000021000EC\n", lines[2048]);
    EXPECT_EQ(Rec("20000000" + Counting(32)), lines[2049]);
    EXPECT_EQ(Rec("20002000" + Counting(32, 32)), lines[2050]);
    EXPECT_EQ(":00000001FF", lines[2051]);
  }
}

TEST(IhexWriteTest, WrittenRecordsReadBack) {
  const std::string text = WriteCounting(0x30000 + 5, true);
  std::vector<uint8_t> buffer(0x30005);
  ScratchStream in(text);
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(buffer.data(), 0x30005));
  ASSERT_TRUE(ihex.AttachInput(in.get()));
  ASSERT_TRUE(ihex.ReadData());
  EXPECT_TRUE(buffer == CountingBytes(0x30005));
  EXPECT_EQ(0x30005, ihex.GetDataLength());
}

TEST(IhexWriteTest, WriteFailureIsStatus9AndTheStreamStaysOpen) {
  FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  uint8_t bytes[4] = {1, 2, 3, 4};
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(bytes, 4));
  ASSERT_TRUE(ihex.AttachOutput(full));
  // Buffered, the record fails only when the end record is flushed.
  EXPECT_TRUE(ihex.WriteRecord(4, 0, bytes));
  EXPECT_FALSE(ihex.CloseOutput());
  EXPECT_EQ(IHEX_WRITE, ihex.GetStatus());
  ihex.Release();
  std::fclose(full);  // still open, and ours to close

  FILE* unbuffered = std::fopen("/dev/full", "w");
  std::setvbuf(unbuffered, nullptr, _IONBF, 0);
  IHEX direct;
  ASSERT_TRUE(direct.AttachBuffer(bytes, 4));
  ASSERT_TRUE(direct.AttachOutput(unbuffered));
  EXPECT_FALSE(direct.WriteRecord(4, 0, bytes));
  EXPECT_EQ(IHEX_WRITE, direct.GetStatus());
  direct.Release();
  std::fclose(unbuffered);
}

TEST(IhexWriteTest, RecordTooLongForOneLineIsRefused) {
  std::vector<uint8_t> bytes(252);
  ScratchStream out("", "w");
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(bytes.data(), 252));
  ASSERT_TRUE(ihex.AttachOutput(out.get()));
  EXPECT_TRUE(ihex.WriteRecord(251, 0, bytes.data()));
  EXPECT_FALSE(ihex.WriteRecord(252, 0, bytes.data()));
  EXPECT_EQ(IHEX_WRITE, ihex.GetStatus());
  ihex.Release();
}

TEST(IhexWriteTest, OpenOutputWritesAFileOfItsOwn) {
  testsupport::ScratchDir dir;
  const std::string path = dir.File("out.hex");
  uint8_t bytes[3] = {0x01, 0xAB, 0xCD};
  IHEX ihex;
  ASSERT_TRUE(ihex.AttachBuffer(bytes, 3));
  ASSERT_TRUE(ihex.OpenOutput(path.c_str()));
  ASSERT_TRUE(ihex.WriteRecord(3, 0, bytes));
  ASSERT_TRUE(ihex.CloseOutput());
  ihex.Release();
  EXPECT_EQ(kThree + ":00000001FF", testsupport::ReadFile(path));
}

}  // namespace
