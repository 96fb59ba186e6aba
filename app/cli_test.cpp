// SPDX-License-Identifier: MIT
// The short paths of a run, through the built binary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/version.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::ReadFile;
using testsupport::RunRomwick;
using testsupport::SourceDir;

// The usage text as a file, its version left as @VERSION@.
std::string Usage() {
  std::string text = ReadFile(SourceDir() + "/app/testdata/usage.txt");
  text.replace(text.find("@VERSION@"), 9, kVersionText);
  return text;
}

std::string VersionLine() { return std::string("Version: ") + kVersionText + "\n"; }

struct ShortPath {
  const char* label;
  std::vector<std::string> args;
  int exitCode;
  std::string (*output)();
};

class ShortPaths : public testing::TestWithParam<ShortPath> {};

TEST_P(ShortPaths, OutputAndExitCode) {
  const ShortPath& c = GetParam();
  const auto result = RunRomwick(c.args);
  EXPECT_EQ(result.output, c.output());
  EXPECT_EQ(result.exitCode, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Binary, ShortPaths,
    testing::Values(
        ShortPath{"NoArguments", {}, 3, [] { return std::string("No SPI device specified\n"); }},
        ShortPath{"Usage", {"-?"}, 0, Usage},
        ShortPath{"UsageBeatsEverything", {"-d", "sim:M25P80", "-E", "-?", "-ver"}, 0, Usage},
        ShortPath{"Version", {"-ver"}, 0, VersionLine},
        ShortPath{"VersionBeatsOperations", {"-ver", "-d", "sim:M25P80", "-E"}, 0,
                  VersionLine},
        ShortPath{"SyntaxError", {"-d"}, 2, [] { return "syntax error on command line" + Usage(); }},
        ShortPath{"UnknownOption", {"-ID"}, 2, [] { return "syntax error on command line" + Usage(); }},
        ShortPath{"ReadWithoutDevice", {"-r", "out.bin"}, 3,
                  [] { return std::string("No SPI device specified\n"); }}),
    [](const testing::TestParamInfo<ShortPath>& info) { return info.param.label; });

}  // namespace

namespace {

TEST(OutOfMemory, WithoutRoomForTheImageBufferTheRunSaysSoAndStops) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs far more address space than the limit leaves";
#endif
  // 10 MB of address space: the program loads, but its 16 MB image buffer
  // cannot be had.
  const auto result = testsupport::RunProgram(
      "/bin/sh", {"-c", "ulimit -v 10000 && exec \"$0\" -d sim:M25P80 -w /dev/null", testsupport::BuildDir() + "/romwick"});
  EXPECT_EQ(result.output, "Out of memory\n");
  EXPECT_EQ(result.exitCode, 5);
}

TEST(OutOfMemory, InsideTheDeviceRuntimeTheOpenFailsWithItsReason) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs far more address space than the limit leaves";
#endif
  // 30 MB of address space: the program's own image buffer fits, the
  // simulated chip's 16 MB array in the runtime does not.
  const auto result = testsupport::RunProgram(
      "/bin/sh", {"-c", "ulimit -v 30000 && exec \"$0\" -d sim:N25Q128 -id", testsupport::BuildDir() + "/romwick"});
  EXPECT_EQ(result.output, "Unable to connect to device: sim:N25Q128\n");
  EXPECT_EQ(result.errors, "romwick runtime: cannot open 'sim:N25Q128': out of memory\n");
  EXPECT_EQ(result.exitCode, 4);
}

}  // namespace
