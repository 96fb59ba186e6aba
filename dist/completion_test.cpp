// SPDX-License-Identifier: MIT
// The bash completion, run in bash as bash runs it on a Tab: the candidates
// in each context of the command line, and the manual page and the device
// name parser agreeing with the keys it offers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dist/doc_sources.h"
#include "flash/flashdev.h"
#include "runtime/device_name.h"
#include "sim/sim_chip_facts.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::BuildDir;
using testsupport::FindTool;
using testsupport::ProgramResult;
using testsupport::ScratchDir;

using Words = std::vector<std::string>;

// The program the completion asks with -list: the test build of the runtime,
// which finds a spidev node of the fake kernel, two FTDI chips of the MPSSE
// emulator, a CH341A and a CH347 of their emulators.
const std::string kProgram = BuildDir() + "/romwick_testrt";
const Words kListed = {"spidev:/dev/spidev0.0", "ftdi:serial=RW000001", "ftdi:serial=RW000002",
                       "ch341a:index=0", "ch347:index=0"};

// COMP_WORDS as bash makes them of `line`: split at blanks, and around each
// run of the word-break characters that device names hold (: and =).
Words BashWords(const std::string& line) {
  Words words{""};
  bool breakRun = false;
  for (char c : line) {
    if (c == ' ') {
      if (!words.back().empty()) words.emplace_back();
      breakRun = false;
      continue;
    }
    const bool isBreak = c == ':' || c == '=';
    if (!words.back().empty() && isBreak != breakRun) words.emplace_back();
    words.back() += c;
    breakRun = isBreak;
  }
  return words;
}

struct Completion {
  Words candidates;  // COMPREPLY, sorted
  Words compopt;     // the options the function set for this completion
};

// What the completion function offers for `line`, the cursor at its end, in
// `workingDir` (the test's own when empty). The command is the program.
Completion Complete(const std::string& line, const std::string& workingDir = "") {
  const std::string bash = FindTool("bash");
  if (bash.empty()) return {};
  const std::string commandLine = kProgram + line;
  // compopt works only inside a completion bash runs itself: here it records.
  const char* script =
      "source \"$1\"; compopt() { printf '%s\\n' \"$*\" >&2; }; "
      "COMP_LINE=$2; COMP_POINT=${#COMP_LINE}; shift 2; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
      "_romwick; ((${#COMPREPLY[@]} == 0)) || printf '%s\\n' \"${COMPREPLY[@]}\"";
  Words args = {"--norc", "--noprofile", "-c", script, "bash", COMPLETION_SCRIPT, commandLine};
  for (const std::string& word : BashWords(commandLine)) args.push_back(word);
  const ProgramResult result = testsupport::RunProgram(
      bash, args,
      {"ROMWICK_TEST_RUNTIME_DIR=" + testsupport::TestDoublesRuntime(), "ROMWICK_TEST_FTDI=chip=M25P80,devices=2",
       "ROMWICK_TEST_FAKE_SPIDEV=chip=M25P80", "ROMWICK_TEST_CH341A=chip=M25P80,devices=1",
       "ROMWICK_TEST_CH347=chip=M25P80,devices=1"},
      workingDir);
  EXPECT_EQ(0, result.exitCode) << line << ": " << result.errors;
  Completion completion;
  std::istringstream out(result.output);
  for (std::string word; std::getline(out, word);) completion.candidates.push_back(word);
  std::sort(completion.candidates.begin(), completion.candidates.end());
  std::istringstream err(result.errors);
  for (std::string option; std::getline(err, option);) completion.compopt.push_back(option);
  return completion;
}

Words Sorted(Words words) {
  std::sort(words.begin(), words.end());
  return words;
}

Words Concat(Words a, const Words& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The names of the device table, which -m takes, and "sfdp".
Words TableNames() {
  Words names = {"sfdp"};
  for (const FLASHDEV* row = flashDeviceTable; row->name[0]; ++row) names.push_back(row->name);
  return names;
}

Words SimChipNames() {
  Words names;
  for (const SimChipFacts& chip : SimChips()) names.push_back(chip.name);
  return names;
}

const Words kSchemes = {"sim:", "spidev:", "ftdi:", "ch341a:", "ch347:", "serprog:"};

// The options the usage text lists, and those that work unlisted but -v,
// which does nothing.
Words AllOptions() {
  Words options = UsageOptions();
  options.insert(options.end(), {"-cr", "-1", "-2", "-ver", "-?"});
  return Sorted(options);
}

class BashCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindTool("bash").empty()) GTEST_SKIP() << "bash is not installed";
    if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "no test build of the runtime here";
  }
};

TEST_F(BashCompletion, OffersTheCandidatesOfEachContext) {
  struct Case {
    const char* line;
    Words candidates;
    Words compopt;
  };
  const Case cases[] = {
      // Options, in place of an option.
      {" ", AllOptions(), {}},
      {" -u", {"-u", "-unprotect"}, {}},
      {" -w a.bin -f", {"-fb", "-fh", "-fi"}, {}},
      // A value that is no name to complete.
      {" -a ", {}, {}},
      {" -s 1", {}, {}},
      // -d here is the file name that -w takes.
      {" -w -d ", AllOptions(), {}},
      // The device table's names, in the letter case typed.
      {" -m ", Sorted(TableNames()), {}},
      {" -m m25p1", {"m25p128", "m25p16"}, {}},
      // The schemes and what -list finds; a scheme goes on without a blank.
      {" -d ", Sorted(Concat(kSchemes, kListed)), {"-o nospace"}},
      {" -d sp", {"spidev:", "spidev:/dev/spidev0.0"}, {"-o nospace"}},
      {" -d ftdi:serial=", {"RW000001", "RW000002"}, {}},
      // The simulated chips; bash replaces what follows the colon.
      {" -d sim:", Sorted(SimChipNames()), {}},
      {" -d sim:n", {"n25q128"}, {}},
      // The keys of a scheme; one that takes a value goes on without a blank.
      {" -d sim:M25P80,i", {"M25P80,id=", "M25P80,idglitch", "M25P80,image="}, {"-o nospace"}},
      {" -d sim:M25P80,nochip,st", {"M25P80,nochip,stuck"}, {}},
      {" -d ftdi:i", {"iface=", "index="}, {"-o nospace"}},
      {" -d ch341a:", {"index=", "index=0", "nobatch", "summary=", "trace="}, {"-o nospace"}},
      {" -d ch", {"ch341a:", "ch341a:index=0", "ch347:", "ch347:index=0"}, {"-o nospace"}},
      {" -d ch347:", {"cs=", "index=", "index=0", "nobatch", "reset=", "serial=", "summary=", "trace="},
       {"-o nospace"}},
      // serprog: finds nothing to list: the ports are offered, and TCP.
      {" -d serprog:tc", {"tcp:"}, {"-o nospace"}},
      {" -d serprog:/dev/ttyACM0,", {"/dev/ttyACM0,baud=", "/dev/ttyACM0,summary=", "/dev/ttyACM0,trace="},
       {"-o nospace"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Completion completion = Complete(c.line);
    EXPECT_EQ(Sorted(c.candidates), completion.candidates);
    EXPECT_EQ(c.compopt, completion.compopt);
  }
}

TEST_F(BashCompletion, LeavesFileNamesToReadlineAfterWriteAndRead) {
  for (const char* line : {" -w ", " -r ou", " -d sim:M25P80 -w "}) {
    SCOPED_TRACE(line);
    const Completion completion = Complete(line);
    EXPECT_EQ(Words(), completion.candidates);
    EXPECT_EQ(Words({"-o default"}), completion.compopt);
  }
}

TEST_F(BashCompletion, OffersFileNamesForTheKeysThatTakeAPath) {
  ScratchDir dir;
  testsupport::WriteFile(dir.File("chip.bin"), "");
  testsupport::WriteFile(dir.File("chip.trace"), "");
  std::filesystem::create_directory(dir.File("chips"));
  struct Case {
    const char* line;
    Words candidates;
  };
  const Case cases[] = {
      {" -d sim:M25P80,image=", {"chip.bin", "chip.trace", "chips"}},
      {" -d sim:M25P80,image=chip.", {"chip.bin", "chip.trace"}},
      {" -d spidev:/dev/spidev0.0,trace=chips", {"chips"}},
      {" -d ftdi:summary=", {"chip.bin", "chip.trace", "chips"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Completion completion = Complete(c.line, dir.path());
    EXPECT_EQ(c.candidates, completion.candidates);
    EXPECT_EQ(Words({"-o filenames"}), completion.compopt);
  }
}

// The keys the completion offers for each scheme are the ones the manual
// page describes, and the device name parser knows each of them.
TEST_F(BashCompletion, OffersTheKeysTheManualPageDescribes) {
  const std::set<std::string> common = {"trace=", "summary="};
  struct Scheme {
    const char* name;
    const char* first;  // an item the name needs before its keys
  };
  for (const Scheme& scheme : {Scheme{"sim", "M25P80"}, Scheme{"spidev", "/dev/spidev0.0"},
                               Scheme{"ftdi", "index=0"}, Scheme{"ch341a", "index=0"},
                               Scheme{"ch347", "index=0"}, Scheme{"serprog", "/dev/ttyACM0"}}) {
    SCOPED_TRACE(scheme.name);
    const std::string name = std::string(scheme.name) + ":" + scheme.first + ",";
    std::set<std::string> offered;
    for (const std::string& candidate : Complete(" -d " + name).candidates) {
      offered.insert(candidate.substr(candidate.rfind(',') + 1));
    }
    std::set<std::string> described = common;
    for (const std::string& tag : ManPageTags("DEVICE NAMES", std::string(scheme.name) + ":")) {
      for (const std::string& key : TagNames(tag)) described.insert(key);
    }
    EXPECT_EQ(described, offered);

    for (const std::string& key : offered) {
      DeviceRequest request;
      std::string error;
      ParseDeviceName(name + key, &request, &error);
      EXPECT_EQ(std::string::npos, error.find("unknown key")) << key << ": " << error;
      EXPECT_EQ(std::string::npos, error.find("no backend")) << key << ": " << error;
    }
  }
  const std::vector<std::string> all = ManPageTags("DEVICE NAMES");
  for (const char* tag : {"trace=path", "summary=path"}) {
    EXPECT_NE(all.end(), std::find(all.begin(), all.end(), tag)) << tag;
  }
}

}  // namespace
