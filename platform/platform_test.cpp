// SPDX-License-Identifier: MIT
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

using AnswerFn = int (*)();

TEST(ModuleLoader, LoadsByPathFindsEntryAndReleases) {
  const std::string path = platform::JoinPath(PROBE_DIR, platform::ModuleFileName("probe.dll").c_str());
  platform::Module module = platform::LoadModule(path.c_str());
  ASSERT_NE(module, nullptr);
  auto answer = reinterpret_cast<AnswerFn>(platform::FindEntry(module, "ProbeAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(platform::FindEntry(module, "ProbeMissing"), nullptr);
  platform::FreeModule(module);
}

TEST(ModuleLoader, LoadsByBareNameThroughTheLibrarySearch) {
  platform::Module module = platform::LoadModule(platform::ModuleFileName("probe.dll").c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_NE(platform::FindEntry(module, "ProbeAnswer"), nullptr);
  platform::FreeModule(module);
}

TEST(ModuleLoader, MissingLibraryGivesNull) {
  EXPECT_EQ(platform::LoadModule("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(platform::LoadModule(platform::ModuleFileName("nothing.dll").c_str()), nullptr);
  EXPECT_EQ(platform::FindEntry(nullptr, "ProbeAnswer"), nullptr);
  platform::FreeModule(nullptr);
}

TEST(ModuleLoader, MapsWindowsModuleNames) {
  EXPECT_EQ(platform::ModuleFileName("hubcore.dll"), "libhubcore.so");
  EXPECT_EQ(platform::ModuleFileName("PORTLINK.DLL"), "libPORTLINK.so");
}

TEST(RuntimeFolder, OverrideAndRestore) {
  const std::string builtIn = platform::RuntimeFolder();
  platform::SetRuntimeFolder("/tmp/elsewhere");
  EXPECT_STREQ(platform::RuntimeFolder(), "/tmp/elsewhere");
  platform::SetRuntimeFolder(nullptr);
  EXPECT_EQ(builtIn, platform::RuntimeFolder());
}

uint32_t fakeTick = 0;
uint32_t slept = 0;

TEST(Clock, TickSourceAndSleeperCanBeReplaced) {
  platform::SetTickSource([] { return fakeTick; });
  platform::SetSleeper([](uint32_t ms) { slept += ms; });
  fakeTick = 0xFFFFFFF0u;
  EXPECT_EQ(platform::GetTickCount(), 0xFFFFFFF0u);
  platform::Sleep(50);
  EXPECT_EQ(slept, 50u);
  // The tick wraps: an unsigned difference across the wrap stays right.
  const uint32_t start = platform::GetTickCount();
  fakeTick += 0x20;
  EXPECT_EQ(platform::GetTickCount() - start, 0x20u);
  platform::SetTickSource(nullptr);
  platform::SetSleeper(nullptr);
}

TEST(Clock, RealTickDoesNotRunBackwards) {
  const uint32_t a = platform::GetTickCount();
  const uint32_t b = platform::GetTickCount();
  EXPECT_LT(b - a, 1000u);
}

TEST(Memory, LargePageAdviceKeepsTheContents) {
  // 5 MB from an odd address: the advice covers whole large pages inside it
  // and leaves the partial pages at both ends as they were.
  std::vector<uint8_t> block(5 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 31 + 7);
  const std::vector<uint8_t> before = block;
  platform::AdviseLargePages(block.data() + 3, block.size() - 5);
  platform::AdviseLargePages(block.data(), 0);
  EXPECT_EQ(block, before);
  block[4 << 20] = 0x5A;  // still ordinary memory
  EXPECT_EQ(block[4 << 20], 0x5A);
}

// Only the first signal counts: a second one during the clean-up it started
// changes nothing.
TEST(Interruptions, TheFirstSignalIsKept) {
  platform::CatchInterruptions();
  EXPECT_EQ(platform::PendingInterruption(), 0);
  std::raise(SIGTERM);
  EXPECT_EQ(platform::PendingInterruption(), SIGTERM);
  std::raise(SIGINT);
  std::raise(SIGHUP);
  EXPECT_EQ(platform::PendingInterruption(), SIGTERM);
  platform::ForgetInterruption();
  std::raise(SIGHUP);
  EXPECT_EQ(platform::PendingInterruption(), SIGHUP);
  platform::ForgetInterruption();
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
}

class Replacement : public testing::Test {
 protected:
  Replacement() {
    std::string folder = (std::filesystem::temp_directory_path() / "romwick-platform-XXXXXX").string();
    dir = mkdtemp(folder.data());
  }
  ~Replacement() override {
    std::error_code ec;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir, ec);
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static unsigned Mode(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 0777;
  }
  /// Opens `path` for writing as the program opens a file it reads the chip into.
  FILE* Open(const std::string& path) {
    return platform::OpenReplacement(path.c_str(), "wb", &replacement);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir;
  platform::Replacement replacement;
  std::string& temporary = replacement.temporary;
  std::string& target = replacement.target;
};

TEST_F(Replacement, TheOldFileStaysWholeUntilTheNewOneIsInPlace) {
  const std::string path = dir + "/out.bin";
  Write(path, "old contents");
  chmod(path.c_str(), 0604);
  FILE* stream = Open(path);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(target, path);
  EXPECT_EQ(temporary.rfind(path + ".partial-", 0), 0u) << temporary;
  std::fputs("new", stream);
  std::fclose(stream);
  EXPECT_EQ(Read(path), "old contents");
  ASSERT_TRUE(platform::PutReplacementInPlace(temporary, target));
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Mode(path), 0604u);  // a replaced file keeps its mode
  EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(Replacement, ADiscardedFileLeavesNothingBehind) {
  const std::string path = dir + "/out.bin";
  FILE* stream = Open(path);
  ASSERT_NE(stream, nullptr);
  std::fputs("partial", stream);
  std::fclose(stream);
  platform::DiscardReplacement(temporary);
  EXPECT_TRUE(Names().empty());
}

TEST_F(Replacement, ANewFileGetsTheModeOfAPlainOpen) {
  const mode_t before = umask(027);
  const std::string path = dir + "/new.bin";
  FILE* stream = Open(path);
  umask(before);
  ASSERT_NE(stream, nullptr);
  std::fclose(stream);
  ASSERT_TRUE(platform::PutReplacementInPlace(temporary, target));
  EXPECT_EQ(Mode(path), 0640u);
}

TEST_F(Replacement, ALinkKeepsPointingAtTheReplacedFile) {
  const std::string real = dir + "/real.bin";
  const std::string link = dir + "/link.bin";
  Write(real, "old");
  std::filesystem::create_symlink(real, link);
  FILE* stream = Open(link);
  ASSERT_NE(stream, nullptr);
  std::fputs("new", stream);
  std::fclose(stream);
  ASSERT_TRUE(platform::PutReplacementInPlace(temporary, target));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Read(real), "new");
}

TEST_F(Replacement, WhatIsNotARegularFileIsWrittenDirectly) {
  FILE* stream = Open("/dev/null");
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(temporary.empty());
  std::fclose(stream);
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // O_RDWR keeps the open of the writing end from waiting for a reader.
  FILE* reader = std::fopen(fifo.c_str(), "r+");
  ASSERT_NE(reader, nullptr);
  stream = Open(fifo);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(temporary.empty());
  std::fclose(stream);
  std::fclose(reader);
  EXPECT_EQ(Names(), std::vector<std::string>{"fifo"});
}

TEST_F(Replacement, FilesThatMayNotBeWritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write anything";
  EXPECT_EQ(Open("/nonexistent/out.bin"), nullptr);
  const std::string locked = dir + "/locked.bin";
  Write(locked, "keep");
  chmod(locked.c_str(), 0444);
  EXPECT_EQ(Open(locked), nullptr);
  EXPECT_EQ(Read(locked), "keep");
  // A writable file in a folder that may not be written in: opened in
  // place, whole until it is emptied for the new contents.
  const std::string open = dir + "/open.bin";
  Write(open, "old contents");
  chmod(dir.c_str(), 0555);
  FILE* stream = Open(open);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(temporary.empty());
  EXPECT_TRUE(replacement.inPlace);
  EXPECT_EQ(Read(open), "old contents");
  ASSERT_TRUE(platform::EmptyInPlace(stream));
  std::fputs("new", stream);
  std::fclose(stream);
  EXPECT_EQ(Read(open), "new");
}

}  // namespace
