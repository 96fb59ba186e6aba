// SPDX-License-Identifier: MIT
// What only the Debian package holds: dist/deb/stage.cmake run on a staged
// tree as CPack runs it (the copyright file, the changelog, the lintian
// overrides, the stripping), and the changelog's latest entry, which must be
// the project's version, as app/version.h is generated with it, and what the
// program says.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::FindTool;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::ScratchDir;
using testsupport::SourceDir;
using testsupport::WriteFile;

namespace fs = std::filesystem;

// Two releases two years apart, the later first, as dch writes them.
constexpr const char* kChangelog =
    "romwick (1.7.0) unstable; urgency=medium\n"
    "\n"
    "  * A later release.\n"
    "\n"
    " -- romwick developers <romwick@example.org>  Mon, 03 Jan 2028 09:00:00 +0000\n"
    "\n"
    "romwick (1.6.1) unstable; urgency=medium\n"
    "\n"
    "  * The first release.\n"
    "\n"
    " -- romwick developers <romwick@example.org>  Thu, 10 Dec 2026 17:30:00 +0000\n";
constexpr const char* kOverrides = "# Why.\nromwick: some-tag\n";

unsigned Mode(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// The text of a deb822 field's continuation lines, as a parser reads it:
// each without its leading space, a lone "." an empty line. A line of only
// white space ends the paragraph.
std::string ContinuationText(const std::string& paragraphs, const std::string& field) {
  std::istringstream lines(paragraphs.substr(paragraphs.find("\n" + field + "\n") + field.size() + 2));
  std::string text;
  for (std::string line; std::getline(lines, line) && line.starts_with(" ") &&
                         line.find_first_not_of(" \t") != std::string::npos;) {
    text += (line == " ." ? "" : line.substr(1)) + "\n";
  }
  return text;
}

class PackageStage : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(deb_.File("changelog"), kChangelog);
    WriteFile(deb_.File("lintian-overrides"), kOverrides);
  }

  // As CPack runs it on the tree it staged under stage_.
  ProgramResult Stage() {
    return RunProgram(CMAKE_COMMAND, {"-DCPACK_TEMPORARY_DIRECTORY=" + stage_.path(),
                                      "-DCPACK_PACKAGING_INSTALL_PREFIX=/usr", "-DCPACK_PACKAGE_NAME=romwick",
                                      "-DCPACK_ROMWICK_DEB_DIR=" + deb_.path(),
                                      "-DCPACK_ROMWICK_LICENSE=" + SourceDir() + "/LICENSE",
                                      "-DCPACK_ROMWICK_GZIP=" + FindTool("gzip"),
                                      "-DCPACK_ROMWICK_STRIP=" + FindTool("strip"), "-P",
                                      SourceDir() + "/dist/deb/stage.cmake"});
  }

  // Copies a file of the build into the staged tree.
  std::string StageCopy(const std::string& built, const std::string& path) {
    const std::string staged = stage_.path() + path;
    fs::create_directories(fs::path(staged).parent_path());
    fs::copy_file(built, staged);
    return staged;
  }

  ScratchDir stage_;
  ScratchDir deb_;
};

TEST_F(PackageStage, AddsTheCopyrightFileChangelogAndOverrides) {
  if (FindTool("gzip").empty()) GTEST_SKIP() << "gzip is not installed";
  const ProgramResult staged = Stage();
  ASSERT_EQ(0, staged.exitCode) << staged.output << staged.errors;

  // The machine-readable format around LICENSE's text, the years those of
  // the first and the last release.
  const std::string doc = stage_.path() + "/usr/share/doc/romwick/";
  const std::string copyright = ReadFile(doc + "copyright");
  EXPECT_TRUE(copyright.starts_with("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                                    "Upstream-Name: romwick\n"
                                    "\n"
                                    "Files: *\n"
                                    "Copyright: 2026-2028 The romwick authors\n"
                                    "License: Expat\n"))
      << copyright;
  const std::string licence = ReadFile(SourceDir() + "/LICENSE");
  const std::string copyrightLine = "Copyright (c) The romwick authors\n\n";
  EXPECT_EQ(licence.substr(licence.find(copyrightLine) + copyrightLine.size()),
            ContinuationText(copyright, "License: Expat"));

  // gzip -9 (the header's extra flags 2) and -n (no name, no time).
  const std::string changelog = ReadFile(doc + "changelog.gz");
  ASSERT_GT(changelog.size(), 10u);
  EXPECT_EQ(0, changelog[3]) << "header flags";
  EXPECT_EQ(std::string(4, '\0'), changelog.substr(4, 4)) << "time";
  EXPECT_EQ(2, changelog[8]) << "extra flags";
  EXPECT_EQ(kChangelog, RunProgram(FindTool("gzip"), {"-dc", doc + "changelog.gz"}).output);
  EXPECT_FALSE(fs::exists(doc + "changelog"));

  const std::string overrides = stage_.path() + "/usr/share/lintian/overrides/romwick";
  EXPECT_EQ(kOverrides, ReadFile(overrides));
  for (const std::string& file : {doc + "copyright", doc + "changelog.gz", overrides}) {
    EXPECT_EQ(0644u, Mode(file)) << file;
  }
}

TEST_F(PackageStage, StripsProgramsAndLibrariesOfEverythingButWhatTheyLinkBy) {
  const std::string readelf = FindTool("readelf");
  if (readelf.empty() || FindTool("strip").empty() || FindTool("gzip").empty()) {
    GTEST_SKIP() << "readelf, strip or gzip is not installed";
  }
  const std::string program = StageCopy(testsupport::BuildDir() + "/romwick", "/usr/bin/romwick");
  const std::string library =
      StageCopy(testsupport::BuildDir() + "/libhubadmin.so", "/usr/lib/romwick/libhubadmin.so");
  const std::string text = stage_.path() + "/usr/share/romwick/notes";
  fs::create_directories(fs::path(text).parent_path());
  WriteFile(text, "not a program\n");
  auto sections = [&](const std::string& file) { return RunProgram(readelf, {"-S", "-W", file}).output; };
  ASSERT_NE(std::string::npos, sections(program).find(" .comment ")) << "nothing to strip in the build's program";

  const ProgramResult staged = Stage();
  ASSERT_EQ(0, staged.exitCode) << staged.output << staged.errors;

  for (const std::string& file : {program, library}) {
    const std::string left = sections(file);
    EXPECT_EQ(std::string::npos, left.find(" .comment ")) << file << left;
    EXPECT_EQ(std::string::npos, left.find(" .note ")) << file << left;
    EXPECT_EQ(std::string::npos, left.find(" .symtab ")) << file << left;
    EXPECT_EQ(std::string::npos, left.find(" .debug_info ")) << file << left;
  }
  // What the program loads the library by stays.
  EXPECT_NE(std::string::npos, RunProgram(readelf, {"--dyn-syms", "-W", library}).output.find(" AdmGetCaps\n"));
  const ProgramResult version = RunProgram(program, {"-ver"});
  EXPECT_EQ(0, version.exitCode);
  EXPECT_EQ(testsupport::RunRomwick({"-ver"}).output, version.output);
  EXPECT_EQ("not a program\n", ReadFile(text));
}

// The version of the changelog's latest entry, its first line
// "romwick (<version>) <distribution>; urgency=<urgency>"; empty when that
// line names another package or has no version.
std::string LatestChangelogVersion() {
  const std::string changelog = ReadFile(SourceDir() + "/dist/deb/changelog");
  const std::string first = changelog.substr(0, changelog.find('\n'));
  const size_t close = first.find(") ");
  if (!first.starts_with("romwick (") || close == std::string::npos) return "";
  return first.substr(9, close - 9);
}

TEST(DebianChangelog, LatestEntryIsTheProjectVersion) {
  // kVersionText is generated from the top CMakeLists.txt's project() version.
  EXPECT_EQ(kVersionText, LatestChangelogVersion());
}

TEST(DebianChangelog, LatestEntryIsTheProgramsVersion) {
  const std::string said = testsupport::RunRomwick({"-ver"}).output;  // "Version: <project version>\n"
  ASSERT_TRUE(said.starts_with("Version: ") && said.ends_with("\n")) << said;
  const std::string version = said.substr(9, said.size() - 10);
  const std::string changelog = ReadFile(SourceDir() + "/dist/deb/changelog");
  EXPECT_TRUE(changelog.starts_with("romwick (" + version + ") ")) << changelog.substr(0, changelog.find('\n'));
}

}  // namespace
