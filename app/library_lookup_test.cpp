// SPDX-License-Identifier: MIT
// Where the program looks for its device runtime: never in the folder it is
// run from.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "testsupport/run_program.h"

namespace {

using testsupport::BuildDir;
using testsupport::FileExists;
using testsupport::RunProgram;
using testsupport::ScratchDir;

namespace fs = std::filesystem;

// What `readelf -d` says of `file`'s RUNPATH, or "" without readelf.
std::string RunPathOf(const std::string& file) {
  const std::string command = "readelf -d '" + file + "' 2>/dev/null | grep -E 'RUNPATH|RPATH'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  std::string text;
  std::array<char, 512> buf;
  while (fgets(buf.data(), buf.size(), pipe)) text += buf.data();
  pclose(pipe);
  return text;
}

TEST(LibraryLookup, APlantedLibraryInTheWorkingFolderIsNeverLoaded) {
  ScratchDir dir;
  // The program alone in a folder of its own: nothing beside it to find.
  fs::create_directories(dir.File("bin"));
  fs::create_directories(dir.File("work"));
  fs::copy_file(BuildDir() + "/romwick", dir.File("bin/romwick"));
  for (const char* name : {"libhubcore.so", "libserlink.so", "libhubadmin.so", "libportlink.so",
                           "librw_device.so", "libgcc_s.so.1", "libstdc++.so.6"}) {
    fs::copy_file(BuildDir() + "/testlibs/planted/libplanted.so", dir.File(std::string("work/") + name));
  }
  const std::string mark = dir.File("mark");
  const auto result = RunProgram(dir.File("bin/romwick"), {"-d", "sim:M25P80", "-id"},
                                 {"ROMWICK_PLANTED_MARK=" + mark}, dir.File("work"));
  EXPECT_FALSE(FileExists(mark)) << result.output;
  // It ran: a planted C++ runtime would have stopped the loader before main.
  EXPECT_NE(127, result.exitCode);
}

TEST(LibraryLookup, NoRunPathHoldsAnEmptyEntryOrTheBuildFolder) {
  if (RunPathOf(BuildDir() + "/romwick").empty()) GTEST_SKIP() << "no readelf";
  for (const char* file : {"romwick", "installed/romwick", "libhubcore.so", "libserlink.so", "libhubadmin.so",
                           "libportlink.so", "librw_device.so"}) {
    SCOPED_TRACE(file);
    const std::string runPath = RunPathOf(BuildDir() + "/" + file);
    const size_t open = runPath.find('[');
    const size_t close = runPath.find(']');
    ASSERT_NE(std::string::npos, open);
    const std::string entries = ":" + runPath.substr(open + 1, close - open - 1) + ":";
    EXPECT_EQ(std::string::npos, entries.find("::")) << runPath;
    EXPECT_EQ(std::string::npos, entries.find(BuildDir())) << runPath;
  }
}

}  // namespace
