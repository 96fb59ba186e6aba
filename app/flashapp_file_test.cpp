// SPDX-License-Identifier: MIT
// The application object's file side: what the options ask for reaches the
// image file, and what the image file came to becomes the result code.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/flashapp.h"
#include "app/options.h"
#include "testsupport/run_program.h"

namespace {

class FlashAppFile : public testing::Test {
 protected:
  void SetUp() override {
    options.FreeNames();
    options.SetDefaults();
    app.imageBuffer.reset(new uint8_t[kImageBufferSize]);
  }
  void TearDown() override {
    static_cast<void>(app.CloseImageFile());  // some tests leave it failing on purpose
    options.FreeNames();
    options.SetDefaults();
  }

  testsupport::ScratchDir dir;
  FLASHAPP app;
};

struct CodeCase {
  const char* name;
  /// Sets the options and the file up, and runs the file side's steps.
  std::function<bool(FLASHAPP&, const testsupport::ScratchDir&)> run;
  bool ok;
  int32_t code;  // the result code afterwards, RC_SYNTAX standing for one recorded before
  std::string printed;
};

/// Sets the options for a run that writes `path` into the flash ("-w") or
/// reads the flash into it ("-r").
void Ask(const std::string& path, int32_t format, bool readFlash) {
  options.SetFileName(path.c_str());
  options.SetReadFlash(readFlash);
  options.SetWriteFlash(!readFlash);
  options.SetFileFormat(format);
}

const CodeCase kCodeCases[] = {
    {"MissingInput",
     [](FLASHAPP& app, const testsupport::ScratchDir& dir) {
       Ask(dir.File("missing"), FORMAT_BINARY, false);
       return app.OpenImageFile();
     },
     false, RC_INPUT_FILE, "Error opening file: <dir>/missing\n"},
    {"OutputThatCannotBeOpened",
     [](FLASHAPP& app, const testsupport::ScratchDir& dir) {
       Ask(dir.File("none/out"), FORMAT_BINARY, true);
       return app.OpenImageFile();
     },
     false, RC_OUTPUT_FILE, "Error opening file: <dir>/none/out\n"},
    {"InputLargerThanTheBuffer",
     [](FLASHAPP& app, const testsupport::ScratchDir& dir) {
       testsupport::WriteFile(dir.File("in"), std::string(kImageBufferSize + 1, 'x'));
       Ask(dir.File("in"), FORMAT_BINARY, false);
       return app.OpenImageFile() && app.LoadImage();
     },
     true, RC_INPUT_TRUNCATED, "Warning: Input file larger than memory buffer\n"},
    {"UnknownFormat",
     [](FLASHAPP& app, const testsupport::ScratchDir&) {
       options.SetFileFormat(3);
       return app.LoadImage();
     },
     false, RC_INTERNAL, ""},
    {"SuccessKeepsTheCodeBefore",
     [](FLASHAPP& app, const testsupport::ScratchDir& dir) {
       testsupport::WriteFile(dir.File("in"), "01 02");
       Ask(dir.File("in"), FORMAT_RAW_HEX, false);
       return app.OpenImageFile() && app.LoadImage() && app.CloseImageFile();
     },
     true, RC_SYNTAX, ""},
};

class FileSideCode : public FlashAppFile, public testing::WithParamInterface<CodeCase> {};

TEST_P(FileSideCode, WhatTheFileCameToIsTheResultCode) {
  const CodeCase& c = GetParam();
  options.SetResultCode(RC_SYNTAX);
  testing::internal::CaptureStdout();
  EXPECT_EQ(c.ok, c.run(app, dir));
  std::string printed = testing::internal::GetCapturedStdout();
  if (const size_t at = printed.find(dir.path()); at != std::string::npos) printed.replace(at, dir.path().size(), "<dir>");
  EXPECT_EQ(c.printed, printed);
  EXPECT_EQ(c.code, options.GetResultCode());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, FileSideCode, testing::ValuesIn(kCodeCases),
                         [](const testing::TestParamInfo<CodeCase>& info) { return info.param.name; });

TEST_F(FlashAppFile, TheFileSideNamesFollowTheImageFile) {
  testsupport::WriteFile(dir.File("in.hex"), ":0300100001ABCD74\n:00000001FF\n");
  Ask(dir.File("in.hex"), FORMAT_INTEL_HEX, false);
  ASSERT_TRUE(app.OpenImageFile());
  EXPECT_NE(nullptr, app.imageFile);
  ASSERT_TRUE(app.LoadImage());
  EXPECT_EQ(3, app.dataLength);
  EXPECT_EQ((std::vector<ImageSpan>{{0x10, 3}}), app.imageSpans);
  EXPECT_TRUE(app.CloseImageFile());
  EXPECT_EQ(nullptr, app.imageFile);

  // The length the run sets is what the save writes; the Intel HEX save
  // closes the stream itself.
  Ask(dir.File("out.hex"), FORMAT_INTEL_HEX, true);
  ASSERT_TRUE(app.OpenImageFile());
  app.dataLength = 2;
  ASSERT_TRUE(app.SaveImage());
  EXPECT_EQ(nullptr, app.imageFile);
  EXPECT_EQ(2, app.byteCount);
  EXPECT_TRUE(app.CloseImageFile());
  EXPECT_EQ(":02000000FFFF00\n:00000001FF", testsupport::ReadFile(dir.File("out.hex")));
}

TEST_F(FlashAppFile, AReadGivenUpOnLeavesTheOldFile) {
  testsupport::WriteFile(dir.File("out.bin"), "old");
  Ask(dir.File("out.bin"), FORMAT_BINARY, true);
  app.dataLength = 3;
  ASSERT_TRUE(app.OpenImageFile() && app.SaveImage());
  app.imageComplete = false;
  EXPECT_TRUE(app.CloseImageFile());
  EXPECT_EQ("old", testsupport::ReadFile(dir.File("out.bin")));
}

TEST(FlashAppFileModeTest, IsTheImageFilesMode) {
  EXPECT_STREQ("rb", FLASHAPP::ImageFileMode(false, FORMAT_BINARY));
  EXPECT_STREQ("wt", FLASHAPP::ImageFileMode(true, FORMAT_INTEL_HEX));
}

}  // namespace
