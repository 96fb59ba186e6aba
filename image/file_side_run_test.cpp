// Runs of the built program that load or save image files, against the
// simulated chips: what it prints, its exit code, and the chip's image
// compared before and after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/file_side_fixture.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

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
  Seed(kImageBufferSize);
  const std::string data = RandomBytes(kImageBufferSize);
  const std::string input = Input(data);
  const auto run = testsupport::RunRomwick({"-d", Device("N25Q128"), "-w", input});
  EXPECT_EQ(run.output, "Doing partial erase of flash memory device\nWriting file: " + input +
                            " to flash memory device\nBytes written to flash: 16777216\n");
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

}  // namespace
