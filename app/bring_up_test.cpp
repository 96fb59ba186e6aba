// SPDX-License-Identifier: MIT
// Interface bring-up through the built program, with the runtime libraries
// each case needs laid out in a folder of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/run_program.h"

namespace {

using testsupport::BuildDir;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ScratchDir;

struct BringUpCase {
  const char* label;
  const char* folder;  // the runtime folder; nothing is found by bare name
  std::vector<std::string> options;
  const char* output;
  int exitCode;
};

class BringUp : public testing::TestWithParam<BringUpCase> {};

TEST_P(BringUp, ChoosesTheRuntimeOrSaysWhy) {
  const BringUpCase& c = GetParam();
  std::vector<std::string> args{"-d", "sim:M25P80"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.push_back("-id");
  const auto result = RunProgram(BuildDir() + "/romwick_testrt", args,
                                 {"ROMWICK_TEST_RUNTIME_DIR=" + testsupport::IncompleteRuntimes() + "/" + c.folder});
  EXPECT_EQ(result.output, c.output);
  EXPECT_EQ(result.exitCode, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Runtimes, BringUp,
    testing::Values(
        // The second generation is missing: the first takes over without a word.
        BringUpCase{"FallsBackToTheFirstGeneration", "gen1only", {}, "  Device ID: 20 20 14\n", 0},
        BringUpCase{"FirstGenerationAsked", "gen1only", {"-1"}, "  Device ID: 20 20 14\n", 0},
        BringUpCase{"SecondGenerationAskedButMissing", "gen1only", {"-2"},
                    "Internal error: Required DLL not found\n", 1},
        BringUpCase{"NothingPresent", "none", {}, "Internal error: Required DLL not found\n", 1},
        BringUpCase{"EntryPointMissing", "noclock", {"-2"}, "Internal error: Incompatible interface DLL version\n",
                    1},
        // Without -2 an incomplete second generation falls back to the first.
        BringUpCase{"IncompleteSecondGenerationFallsBack", "noclock", {}, "  Device ID: 20 20 14\n", 0}),
    [](const testing::TestParamInfo<BringUpCase>& info) { return info.param.label; });

// -list needs the device manager library and its listing entry point, and
// opens no device.
TEST(ListDevices, SaysWhyWhenTheRuntimeCannotList) {
  struct Case {
    const char* folder;
    const char* output;
  };
  for (const Case& c : {Case{"none", "Internal error: Required DLL not found\n"},
                        Case{"gen1only", "Internal error: Required DLL not found\n"},
                        Case{"nolist", "Internal error: this device runtime cannot list interface devices\n"}}) {
    const auto result = RunProgram(BuildDir() + "/romwick_testrt", {"-list"},
                                   {"ROMWICK_TEST_RUNTIME_DIR=" + testsupport::IncompleteRuntimes() + "/" + c.folder});
    EXPECT_EQ(result.output, c.output) << c.folder;
    EXPECT_EQ(result.exitCode, 1) << c.folder;
  }
}

TEST(BringUpRefused, ADeviceThatDoesNotOpenIsAnAccessError) {
  for (const char* generation : {"-1", "-2"}) {
    const auto result = testsupport::RunRomwick({"-d", "sim:NOSUCHCHIP", generation, "-id"});
    EXPECT_EQ(result.output, "Unable to connect to device: sim:NOSUCHCHIP\n");
    EXPECT_EQ(result.exitCode, 4);
  }
}

TEST(BringUpCalls, PortModeAndClockReachTheRuntimeInOrder) {
  ScratchDir dir;
  const std::string trace = dir.File("trace.txt");
  const auto result =
      testsupport::RunRomwick({"-d", "sim:M25P80,trace=" + trace, "-p", "1", "-s", "1000000", "-id"});
  EXPECT_EQ(result.exitCode, 0);
  const std::string log = ReadFile(trace);
  const std::vector<std::string> inOrder{"SerEnable(port=1)", "SerSetMode(mode=0,0)",
                                         "SerSetClock(hz=50000000) granted 30000000",
                                         "SerSetClock(hz=1000000) granted 1000000", "SerSetSelect(level=0)"};
  size_t at = 0;
  for (const std::string& call : inOrder) {
    at = log.find(call, at);
    EXPECT_NE(at, std::string::npos) << call << "\n" << log;
  }
}

}  // namespace
