// SPDX-License-Identifier: MIT
// Image files exchanged with outside tools: Intel HEX with objcopy and
// srec_cat, raw hex with xxd.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/file_side_fixture.h"
#include "testsupport/run_program.h"

namespace {

/// More than 64 KiB, so that the files need extended address records.
constexpr size_t kImageSize = 0x14000 + 3;

class Interop : public FileSide {
 protected:
  /// Runs `tool` with `args`; skips the test when the tool is missing.
  void RunTool(const std::string& tool, const std::vector<std::string>& args) {
    const std::string path = testsupport::FindTool(tool);
    if (path.empty()) GTEST_SKIP() << tool << " is not installed";
    const testsupport::ProgramResult result = testsupport::RunProgram(path, args);
    ASSERT_EQ(0, result.exitCode) << tool << ": " << result.output;
  }
};

struct ReadBack {
  const char* name;
  const char* tool;
  std::vector<std::string> args;  // "in" and "out" stand for the two files
};

const ReadBack kReadBacks[] = {
    {"Objcopy", "objcopy", {"-I", "ihex", "-O", "binary", "in", "out"}},
    {"SrecCat", "srec_cat", {"in", "-intel", "-o", "out", "-binary"}},
};

class WrittenIntelHex : public Interop, public testing::WithParamInterface<ReadBack> {};

TEST_P(WrittenIntelHex, ReadsBackToTheSameBytes) {
  const std::string bytes = RandomBytes(kImageSize);
  Fill(bytes);
  ASSERT_EQ((Outcome{true, ""}), Save(dir.File("image.hex"), IMAGEFORMAT_INTEL_HEX, kImageSize));
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args) {
    if (a == "in") a = dir.File("image.hex");
    if (a == "out") a = dir.File("back.bin");
  }
  RunTool(GetParam().tool, args);
  if (IsSkipped()) return;
  EXPECT_TRUE(bytes == testsupport::ReadFile(dir.File("back.bin")));
}

INSTANTIATE_TEST_SUITE_P(Tools, WrittenIntelHex, testing::ValuesIn(kReadBacks),
                         [](const testing::TestParamInfo<ReadBack>& info) { return info.param.name; });

struct Made {
  const char* name;
  const char* tool;
  std::vector<std::string> args;  // "in" and "out" stand for the two files
  uint32_t origin;
};

const Made kMade[] = {
    {"Objcopy", "objcopy", {"-I", "binary", "-O", "ihex", "in", "out"}, 0},
    {"ObjcopyAboveZero", "objcopy",
     {"-I", "binary", "-O", "ihex", "--change-addresses", "0x23450", "in", "out"}, 0x23450},
    {"SrecCat", "srec_cat", {"in", "-binary", "-o", "out", "-intel"}, 0},
    {"SrecCatAboveZero", "srec_cat", {"in", "-binary", "-offset", "0x30000", "-o", "out", "-intel"},
     0x30000},
};

class MadeIntelHex : public Interop, public testing::WithParamInterface<Made> {};

TEST_P(MadeIntelHex, LoadsToItsAddresses) {
  const Made& m = GetParam();
  const std::string bytes = RandomBytes(kImageSize);
  testsupport::WriteFile(dir.File("image.bin"), bytes);
  std::vector<std::string> args = m.args;
  for (std::string& a : args) {
    if (a == "in") a = dir.File("image.bin");
    if (a == "out") a = dir.File("image.hex");
  }
  RunTool(m.tool, args);
  if (IsSkipped()) return;

  ASSERT_EQ((Outcome{true, ""}), Load(dir.File("image.hex"), IMAGEFORMAT_INTEL_HEX));
  EXPECT_EQ(Spans({{m.origin, kImageSize}}), file.spans);
  EXPECT_EQ(static_cast<int32_t>(kImageSize), file.dataLength);
  EXPECT_TRUE(bytes == Buffer(m.origin, kImageSize));
  EXPECT_TRUE(Buffer(0, m.origin) == std::string(m.origin, '\xFF'));
}

INSTANTIATE_TEST_SUITE_P(Tools, MadeIntelHex, testing::ValuesIn(kMade),
                         [](const testing::TestParamInfo<Made>& info) { return info.param.name; });

/// `bytes` as lines of `perLine` digit pairs, each line ended by `lineEnd`.
std::string PairLines(const std::string& bytes, size_t perLine, const std::string& lineEnd) {
  std::string text;
  for (size_t at = 0; at < bytes.size(); at += perLine) {
    text += XxdPlainLine(bytes.substr(at, perLine));
    text.replace(text.size() - 1, 1, lineEnd);
  }
  return text;
}

TEST_F(Interop, XxdPlainOneLineIsTheTestsOwnAndLoads) {
  const std::string bytes = RandomBytes(70000);
  testsupport::WriteFile(dir.File("image.bin"), bytes);
  RunTool("xxd", {"-p", "-c", "0", dir.File("image.bin"), dir.File("image.txt")});
  if (IsSkipped()) return;
  EXPECT_TRUE(XxdPlainLine(bytes) == testsupport::ReadFile(dir.File("image.txt")));
  ASSERT_EQ((Outcome{true, ""}), Load(dir.File("image.txt"), IMAGEFORMAT_RAW_HEX));
  EXPECT_EQ(70000, file.dataLength);
  EXPECT_TRUE(bytes == Buffer(0, bytes.size()));
}

struct PairText {
  const char* name;
  std::string text;
};

const std::string kBytes = RandomBytes(6000);

// Digit pairs only, in the layouts that reach the reader's limits: lines of
// any length, pairs split between pieces, every kind of line end.
const PairText kPairTexts[] = {
    {"OneLine", XxdPlainLine(kBytes)},
    {"OneLineCrLf", PairLines(kBytes, 6000, "\r\n")},
    {"XxdDefaultLayout", PairLines(kBytes, 30, "\n")},
    {"CarriageReturns", PairLines(kBytes, 30, "\r")},
    {"LinesAroundThePieceSize", PairLines(kBytes, 1023, "\n") + PairLines(kBytes, 1024, "\r\n") +
                                    PairLines(kBytes, 1025, "\r")},
};

class XxdReverse : public Interop, public testing::WithParamInterface<PairText> {};

TEST_P(XxdReverse, LoadsTheBytesXxdReadsBack) {
  const std::string in = dir.File("in.txt");
  testsupport::WriteFile(in, GetParam().text);
  RunTool("xxd", {"-r", "-p", in, dir.File("back.bin")});
  if (IsSkipped()) return;
  const std::string back = testsupport::ReadFile(dir.File("back.bin"));
  ASSERT_EQ((Outcome{true, ""}), Load(in, IMAGEFORMAT_RAW_HEX));
  EXPECT_EQ(static_cast<int32_t>(back.size()), file.dataLength);
  EXPECT_TRUE(back == Buffer(0, back.size()));
}

INSTANTIATE_TEST_SUITE_P(Texts, XxdReverse, testing::ValuesIn(kPairTexts),
                         [](const testing::TestParamInfo<PairText>& info) { return info.param.name; });

}  // namespace
