#include "platform/platform.h"

#include <gtest/gtest.h>

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

}  // namespace
