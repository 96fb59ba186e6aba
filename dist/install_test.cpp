// SPDX-License-Identifier: MIT
// `cmake --install` of this build into a staging folder: the files it lays
// out, and the staged program at work on a simulated chip. The runtime
// folder compiled into the program names the real prefix, where nothing of
// this build is, so the program must find its runtime through its RUNPATH.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/run_program.h"

namespace {

using testsupport::FindTool;
using testsupport::Pattern;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ScratchDir;
using testsupport::SourceDir;

namespace fs = std::filesystem;

const char* const kRuntimeLibraries[] = {"libhubcore.so", "libserlink.so", "libhubadmin.so", "libportlink.so",
                                         "librw_device.so"};

class Install : public ::testing::Test {
 protected:
  // One installation for every test: DESTDIR puts the prefix, and the udev
  // folder when it lies outside it, under the staging folder.
  static void SetUpTestSuite() {
    stage_ = std::make_unique<ScratchDir>();
    install_ = RunProgram(CMAKE_COMMAND, {"--install", testsupport::BuildDir()}, {"DESTDIR=" + stage_->path()});
  }
  static void TearDownTestSuite() { stage_.reset(); }

  void SetUp() override { ASSERT_EQ(0, install_.exitCode) << install_.output << install_.errors; }

  // Where `path`, a folder of the installed tree, is staged.
  static std::string Staged(const std::string& path) { return stage_->path() + path; }
  static std::string StagedPrefix(const std::string& relative) {
    return Staged(std::string(INSTALL_PREFIX) + "/" + relative);
  }

  static std::unique_ptr<ScratchDir> stage_;
  static ProgramResult install_;
};

std::unique_ptr<ScratchDir> Install::stage_;
ProgramResult Install::install_;

// Every file under `root`, by its path below it, with its permission bits.
std::map<std::string, unsigned> FilesUnder(const std::string& root) {
  std::map<std::string, unsigned> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_directory()) continue;
    struct stat st {};
    stat(entry.path().c_str(), &st);
    files[entry.path().string().substr(root.size())] = st.st_mode & 07777;
  }
  return files;
}

TEST_F(Install, LaysOutTheProgramItsRuntimeManualCompletionAndUdevRules) {
  const std::string prefix = INSTALL_PREFIX;
  const bool compressed = !FindTool("gzip").empty();
  const std::string manPage = prefix + "/" INSTALL_MANDIR "/man1/romwick.1" + (compressed ? ".gz" : "");
  const std::string completion = prefix + "/" INSTALL_DATADIR "/bash-completion/completions/romwick";
  const std::string rules = UDEV_RULES_DIR "/60-romwick.rules";
  // Programs are run, everything else is only read.
  std::map<std::string, unsigned> expected = {
      {prefix + "/" INSTALL_BINDIR "/romwick", 0755}, {manPage, 0644}, {completion, 0644}, {rules, 0644}};
  for (const char* library : kRuntimeLibraries) {
    expected[prefix + "/" INSTALL_LIBDIR "/romwick/" + library] = 0644;
  }
  EXPECT_EQ(expected, FilesUnder(stage_->path()));

  EXPECT_EQ(ReadFile(COMPLETION_SCRIPT), ReadFile(Staged(completion)));
  EXPECT_EQ(ReadFile(SourceDir() + "/runtime/udev/60-romwick.rules"), ReadFile(Staged(rules)));
  if (compressed) {
    const ProgramResult unpacked = RunProgram(FindTool("gzip"), {"-dc", Staged(manPage)});
    EXPECT_EQ(ReadFile(MAN_PAGE), unpacked.output);
  }
}

// Debian wants every library linked against what it calls; all call the C
// library, if only as their start files do when they are unloaded.
TEST_F(Install, EveryRuntimeLibraryIsLinkedAgainstTheCLibrary) {
  const std::string readelf = FindTool("readelf");
  if (readelf.empty()) GTEST_SKIP() << "readelf is not installed";
  for (const char* library : kRuntimeLibraries) {
    const ProgramResult dynamic = RunProgram(readelf, {"-d", StagedPrefix(INSTALL_LIBDIR "/romwick/") + library});
    EXPECT_TRUE(std::regex_search(dynamic.output, std::regex(R"(\(NEEDED\) +Shared library: \[libc\.so)")))
        << library << dynamic.output;
  }
}

TEST_F(Install, TheStagedProgramWritesAndReadsASimulatedChipThroughItsOwnRuntime) {
  const std::string program = StagedPrefix(INSTALL_BINDIR "/romwick");
  // A folder outside the source and build trees.
  ScratchDir work;
  const std::string data = Pattern(5000, 15);
  testsupport::WriteFile(work.File("in.bin"), data);

  const ProgramResult version = RunProgram(program, {"-ver"}, {}, work.path());
  EXPECT_EQ(0, version.exitCode);
  EXPECT_EQ(testsupport::RunRomwick({"-ver"}).output, version.output);

  // The loader says which runtime libraries it initialised, from where.
  const ProgramResult write =
      RunProgram(program, {"-d", "sim:M25P80,image=chip.bin", "-w", "in.bin"}, {"LD_DEBUG=files"}, work.path());
  EXPECT_EQ(0, write.exitCode) << write.output;
  EXPECT_NE(std::string::npos, write.output.find("Bytes written to flash: 5000\n")) << write.output;
  EXPECT_NE(std::string::npos, write.output.find("Bytes verified: 5000\n")) << write.output;
  EXPECT_EQ(data + std::string((1 << 20) - data.size(), '\xFF'), ReadFile(work.File("chip.bin")));

  const ProgramResult read = RunProgram(program, {"-d", "sim:M25P80,image=chip.bin", "-r", "out.bin", "-l", "5000"},
                                        {}, work.path());
  EXPECT_EQ(0, read.exitCode) << read.output;
  EXPECT_EQ(data, ReadFile(work.File("out.bin")));

  if (fs::exists(RUNTIME_DIR)) {
    GTEST_SKIP() << RUNTIME_DIR << " exists: the staged program loads the runtime installed there first";
  }
  const fs::path stagedRuntime = fs::canonical(StagedPrefix(INSTALL_LIBDIR "/romwick"));
  std::set<std::string> loaded;
  std::istringstream lines(write.errors);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find("calling init: ");
    if (at == std::string::npos) continue;
    const fs::path library = line.substr(at + 14);
    for (const char* name : kRuntimeLibraries) {
      if (library.filename() != name) continue;
      EXPECT_EQ(stagedRuntime, fs::canonical(library).parent_path());
      loaded.insert(name);
    }
  }
  // The second generation, which the program tries first, and their core.
  EXPECT_EQ(std::set<std::string>({"libhubcore.so", "libserlink.so", "libhubadmin.so", "librw_device.so"}), loaded);
}

}  // namespace
