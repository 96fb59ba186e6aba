#include "image/ghex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
};

/// 1,023 zero bytes, then 0x0A and 0x0B.
std::vector<uint8_t> ZerosThenSplitPair() {
  std::vector<uint8_t> bytes(1023, 0x00);
  bytes.push_back(0x0A);
  bytes.push_back(0x0B);
  return bytes;
}

const std::vector<uint8_t> k012{0x00, 0x01, 0x02};

const ReadCase kReadCases[] = {
    {"Pairs", "00 01 02", 64, true, GHEX_OK, k012, false},
    {"RunTogether", "000102", 64, true, GHEX_OK, k012, false},
    {"LoneDigits", "0 1 2", 64, true, GHEX_OK, k012, false},
    {"MixedCase", "ab CD", 64, true, GHEX_OK, {0xAB, 0xCD}, false},
    {"OddDigitCount", "ABC", 64, true, GHEX_OK, {0xAB, 0x0C}, false},
    {"Blanks", "\t00\r\n\n  01 \r\n02\n", 64, true, GHEX_OK, k012, false},
    {"Comma", "12,34", 64, false, GHEX_BAD_TOKEN, {0x12}, false},
    {"HexPrefix", "0x12", 64, false, GHEX_BAD_TOKEN, {0x00}, false},
    {"Empty", "", 64, true, GHEX_OK, {}, false},
    {"BlankLinesOnly", " \n\t\n\r\n\n", 64, true, GHEX_OK, {}, false},
    // The first piece of an over-long line ends between the A and the B.
    {"PairSplitAcrossPieces", std::string(2046, '0') + "AB\n", 2048, true, GHEX_OK,
     ZerosThenSplitPair(), false},
    {"ExactlyTheCapacity", "01 02 03 04", 4, true, GHEX_OK, {1, 2, 3, 4}, false},
    {"BeyondTheCapacity", "01 02 03 04 05 06\n07", 4, true, GHEX_OK, {1, 2, 3, 4}, true},
    {"BadTokenBeyondTheCapacity", "01 02 03 04 05 zz", 4, false, GHEX_BAD_TOKEN, {1, 2, 3, 4}, true},
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
  ghex.AttachBuffer(buffer, 4);
  ghex.AttachInput(folder.get());
  EXPECT_FALSE(ghex.ReadData());
  EXPECT_EQ(GHEX_READ, ghex.GetStatus());
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
  ghex.AttachBuffer(bytes, 5);
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
  ghex.AttachBuffer(bytes, 4);
  ghex.AttachOutput(out.get());
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
  ghex.AttachBuffer(bytes, 2);
  ghex.AttachOutput(full);
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
  ghex.AttachBuffer(bytes, 2);
  ASSERT_TRUE(ghex.OpenOutput(path.c_str()));
  ASSERT_TRUE(ghex.WriteRecord(2, 0));
  ASSERT_TRUE(ghex.CloseOutput());
  EXPECT_EQ("0F F0 \n", testsupport::ReadFile(path));
}

}  // namespace
