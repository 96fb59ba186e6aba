// SPDX-License-Identifier: MIT
// Every source file of the tree says under which licence it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kTag = "SPDX-License-Identifier: MIT";
// The tag stands in the first lines, after a script's #! line at most.
constexpr int kLinesLooked = 3;

bool IsSource(const fs::path& path) {
  static const std::vector<std::string> kExtensions = {".cpp", ".h", ".c", ".sh", ".cmake", ".py", ".dts", ".in"};
  const std::string name = path.filename().string();
  if (name == "CMakeLists.txt" || name == "Makefile") return true;
  for (const std::string& extension : kExtensions) {
    if (path.extension() == extension) return true;
  }
  return false;
}

bool CarriesTag(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  for (int i = 0; i < kLinesLooked && std::getline(in, line); ++i) {
    if (line.find(kTag) != std::string::npos) return true;
  }
  return false;
}

// Build folders and the repository's own data sit beside the sources.
bool Skipped(const fs::path& dir) {
  const std::string name = dir.filename().string();
  return name.starts_with("build") || name.starts_with(".") || name == "fuzz-out";
}

}  // namespace

TEST(Licence, EverySourceFileCarriesTheSpdxLine) {
  std::vector<std::string> untagged;
  const fs::path root = PROJECT_SOURCE_DIR;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_directory() && Skipped(it->path())) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && IsSource(it->path()) && !CarriesTag(it->path())) {
      untagged.push_back(fs::relative(it->path(), root).string());
    }
  }
  EXPECT_EQ(untagged, std::vector<std::string>{});
}

TEST(Licence, TheLicenceFileIsMitWithItsCopyrightHolder) {
  std::ifstream in(fs::path(PROJECT_SOURCE_DIR) / "LICENSE");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(text.starts_with("MIT License\n"));
  EXPECT_NE(text.find("Copyright (c) The romwick authors"), std::string::npos);
}
