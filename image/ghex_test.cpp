// SPDX-License-Identifier: MIT
#include "image/ghex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/test_hex_text.h"
#include "image/test_scratch_stream.h"

namespace {

constexpr uint8_t kUntouched = 0xEE;

struct ReadCase {
  const char* name;
  std::string text;
  uint32_t capacity;
  bool ok;
  int32_t status;
  std::vector<uint8_t> stored;
  bool dropped;
  TextFault fault;
};

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

/// `zeros` zero bytes, then `tail`.
std::vector<uint8_t> ZerosThen(size_t zeros, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> bytes(zeros + tail.size(), 0x00);
  std::copy(tail.begin(), tail.end(), bytes.begin() + static_cast<ptrdiff_t>(zeros));
  return bytes;
}

/// 2,046 zero digits: the first piece of a longer line ends one digit later.
const std::string kZeroDigits(GHEX::kPieceSize - 1, '0');
const std::string k5000 = RandomBytes(5000);
const std::vector<uint8_t> k012{0x00, 0x01, 0x02};
constexpr TextFault kNoFault{};

const ReadCase kReadCases[] = {
    {"Pairs", "00 01 02", 64, true, GHEX_OK, k012, false, kNoFault},
    {"RunTogether", "000102", 64, true, GHEX_OK, k012, false, kNoFault},
    {"LoneDigits", "0 1 2", 64, true, GHEX_OK, k012, false, kNoFault},
    {"MixedCase", "ab CD", 64, true, GHEX_OK, {0xAB, 0xCD}, false, kNoFault},
    {"OddDigitCount", "ABC", 64, true, GHEX_OK, {0xAB, 0x0C}, false, kNoFault},
    {"Blanks", "\t00\r\n\n  01 \r\n02\n", 64, true, GHEX_OK, k012, false, kNoFault},
    {"Comma", "12,34", 64, false, GHEX_BAD_TOKEN, {0x12}, false, {TEXTFAULT_NOT_HEX_DIGIT, 1, ','}},
    {"HexPrefix", "0x12", 64, false, GHEX_BAD_TOKEN, {0x00}, false, {TEXTFAULT_NOT_HEX_DIGIT, 1, 'x'}},
    {"Empty", "", 64, true, GHEX_OK, {}, false, kNoFault},
    {"BlankLinesOnly", " \n\t\n\r\n\n", 64, true, GHEX_OK, {}, false, kNoFault},
    // A line end ends a lone digit: a carriage return alone too.
    {"CarriageReturnsOnly", "00\r01\r2\r3", 64, true, GHEX_OK, {0x00, 0x01, 0x02, 0x03}, false, kNoFault},
    {"Nul", std::string("01 0\0 02\n", 9), 64, false, GHEX_BAD_TOKEN, {0x01, 0x00}, false,
     {TEXTFAULT_NUL, 1, 0}},
    // Every kind of line end counts one line, an empty line too.
    {"FaultOnTheSixthLine", "00\n01\r\n02\r\n\r03\rzz", 64, false, GHEX_BAD_TOKEN, {0, 1, 2, 3}, false,
     {TEXTFAULT_NOT_HEX_DIGIT, 6, 'z'}},
    {"UnprintableCharacter", "01\n\v", 64, false, GHEX_BAD_TOKEN, {0x01}, false,
     {TEXTFAULT_NOT_HEX_DIGIT, 2, '\v'}},
    // The first piece of an over-long line ends between the A and the B.
    {"PairSplitAcrossPieces", kZeroDigits + "AB\n", 2048, true, GHEX_OK, ZerosThen(1023, {0xAB}), false,
     kNoFault},
    {"PairSplitAcrossPiecesAtTheEnd", kZeroDigits + "AB", 2048, true, GHEX_OK, ZerosThen(1023, {0xAB}),
     false, kNoFault},
    // A digit at the end of a piece that ends its line stands alone.
    {"LoneDigitEndsAWholePiece", kZeroDigits + "A\nB", 2048, true, GHEX_OK, ZerosThen(1023, {0x0A, 0x0B}),
     false, kNoFault},
    {"SplitDigitThenABlank", kZeroDigits + "A B", 2048, true, GHEX_OK, ZerosThen(1023, {0x0A, 0x0B}), false,
     kNoFault},
    {"SplitDigitThenAFault", kZeroDigits + "A,", 2048, false, GHEX_BAD_TOKEN, ZerosThen(1023, {0x0A}), false,
     {TEXTFAULT_NOT_HEX_DIGIT, 1, ','}},
    {"XxdOneLine", XxdPlainLine(k5000), 8192, true, GHEX_OK, Bytes(k5000), false, kNoFault},
    {"XxdOneLineWithCrLf", XxdPlainLine(k5000).insert(10000, "\r"), 8192, true, GHEX_OK, Bytes(k5000), false,
     kNoFault},
    {"FaultFarIntoALongLine", "00\n" + kZeroDigits + kZeroDigits + "00#", 4096, false, GHEX_BAD_TOKEN,
     std::vector<uint8_t>(2048), false, {TEXTFAULT_NOT_HEX_DIGIT, 2, '#'}},
    {"ExactlyTheCapacity", "01 02 03 04", 4, true, GHEX_OK, {1, 2, 3, 4}, false, kNoFault},
    {"BeyondTheCapacity", "01 02 03 04 05 06\n07", 4, true, GHEX_OK, {1, 2, 3, 4}, true, kNoFault},
    {"BadTokenBeyondTheCapacity", "01 02 03 04 05 zz", 4, false, GHEX_BAD_TOKEN, {1, 2, 3, 4}, true,
     {TEXTFAULT_NOT_HEX_DIGIT, 1, 'z'}},
};

class GhexRead : public testing::TestWithParam<ReadCase> {};

TEST_P(GhexRead, FillsTheBufferFromItsStart) {
  const ReadCase& c = GetParam();
  std::vector<uint8_t> buffer(c.capacity + 1, kUntouched);
  ScratchStream in(c.text);
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachBuffer(buffer.data(), c.capacity));
  ASSERT_TRUE(ghex.AttachInput(in.get()));

  EXPECT_EQ(c.ok, ghex.ReadData());
  EXPECT_EQ(c.status, ghex.GetStatus());
  EXPECT_EQ(c.fault, ghex.GetFault());
  EXPECT_EQ(static_cast<int32_t>(c.stored.size()), ghex.GetDataLength());
  std::vector<uint8_t> expected(c.capacity + 1, kUntouched);
  std::copy(c.stored.begin(), c.stored.end(), expected.begin());
  EXPECT_TRUE(expected == buffer);
  EXPECT_EQ(c.dropped, ghex.HasDroppedBytes());
}

INSTANTIATE_TEST_SUITE_P(Text, GhexRead, testing::ValuesIn(kReadCases),
                         [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(GhexReadTest, ReadErrorIsStatus11) {
  uint8_t buffer[4];
  ScratchStream folder{ScratchStream::Folder{}};
  ASSERT_NE(nullptr, folder.get());
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachBuffer(buffer, 4));
  ASSERT_TRUE(ghex.AttachInput(folder.get()));
  EXPECT_FALSE(ghex.ReadData());
  EXPECT_EQ(GHEX_READ, ghex.GetStatus());
  EXPECT_EQ((TextFault{TEXTFAULT_READ, 1, 0}), ghex.GetFault());
}

TEST(GhexReadTest, ReadFileIntoABufferOfItsOwn) {
  testsupport::ScratchDir dir;
  testsupport::WriteFile(dir.File("a.txt"), "DE AD\nBE EF\n");
  GHEX ghex;
  ASSERT_TRUE(ghex.AllocateFilled(0x55));
  EXPECT_TRUE(ghex.ReadFile(dir.File("a.txt").c_str()));
  const uint8_t* buffer = ghex.GetBuffer();
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0x55}));
  EXPECT_EQ(0x55, buffer[GHEX::kDefaultCapacity - 1]);
  EXPECT_EQ(4, ghex.GetDataLength());
  EXPECT_FALSE(ghex.ReadFile(dir.File("missing.txt").c_str()));
  EXPECT_EQ(GHEX_OPEN_FAILED, ghex.GetStatus());
  ghex.Release();
  EXPECT_EQ(nullptr, ghex.GetBuffer());
  EXPECT_EQ(0, ghex.GetDataLength());
}

TEST(GhexStreamTest, OneStreamAtATime) {
  ScratchStream a, b;
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachInput(a.get()));
  EXPECT_FALSE(ghex.AttachOutput(b.get()));
  EXPECT_EQ(GHEX_STREAM_IN_USE, ghex.GetStatus());
  EXPECT_FALSE(ghex.OpenOutput("unused"));
  EXPECT_EQ(GHEX_STREAM_IN_USE, ghex.GetStatus());
  ghex.Release();
  EXPECT_FALSE(ghex.OpenOutput("/nonexistent-folder/x.txt"));
  EXPECT_EQ(GHEX_OPEN_FAILED, ghex.GetStatus());
}

TEST(GhexWriteTest, ARecordIsOneLineOfDigitPairs) {
  uint8_t bytes[5] = {0x11, 0x00, 0xAB, 0xFF, 0x22};
  ScratchStream out("", "w");
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachBuffer(bytes, 5));
  ASSERT_TRUE(ghex.AttachOutput(out.get()));
  EXPECT_TRUE(ghex.WriteRecord(3, 1));
  EXPECT_TRUE(ghex.WriteRecord(0, 5));
  EXPECT_TRUE(ghex.CloseOutput());  // attached: stays open
  EXPECT_EQ("00 AB FF \n\n", out.Contents());
}

TEST(GhexWriteTest, BytesOutsideTheBufferAreRefused) {
  uint8_t bytes[4] = {};
  ScratchStream out("", "w");
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachBuffer(bytes, 4));
  ASSERT_TRUE(ghex.AttachOutput(out.get()));
  EXPECT_FALSE(ghex.WriteRecord(2, 3));
  EXPECT_FALSE(ghex.WriteRecord(-1, 0));
  EXPECT_FALSE(ghex.WriteRecord(1, -1));
  EXPECT_EQ(GHEX_OK, ghex.GetStatus());
  EXPECT_EQ("", out.Contents());
}

TEST(GhexWriteTest, FailedWriteSetsNoStatus) {
  FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  std::setvbuf(full, nullptr, _IONBF, 0);
  uint8_t bytes[2] = {1, 2};
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachBuffer(bytes, 2));
  ASSERT_TRUE(ghex.AttachOutput(full));
  EXPECT_FALSE(ghex.WriteRecord(2, 0));
  EXPECT_EQ(GHEX_OK, ghex.GetStatus());
  ghex.Release();
  std::fclose(full);
}

TEST(GhexWriteTest, OpenOutputClosesItsOwnFile) {
  testsupport::ScratchDir dir;
  const std::string path = dir.File("out.txt");
  uint8_t bytes[2] = {0x0F, 0xF0};
  GHEX ghex;
  ASSERT_TRUE(ghex.AttachBuffer(bytes, 2));
  ASSERT_TRUE(ghex.OpenOutput(path.c_str()));
  ASSERT_TRUE(ghex.WriteRecord(2, 0));
  ASSERT_TRUE(ghex.CloseOutput());
  EXPECT_EQ("0F F0 \n", testsupport::ReadFile(path));
}

}  // namespace
