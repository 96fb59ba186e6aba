// SPDX-License-Identifier: MIT
// The manual page: it renders without a warning, and its lists name every
// option of the usage text, every exit status, and this build's folders.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dist/doc_sources.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::FindTool;
using testsupport::ProgramResult;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::SourceDir;

// What the tags of a section of the manual page name.
std::set<std::string> NamesIn(const std::string& section, const std::string& subsection = "") {
  std::set<std::string> names;
  for (const std::string& tag : ManPageTags(section, subsection)) {
    for (const std::string& name : TagNames(tag)) names.insert(name);
  }
  return names;
}

TEST(ManPage, RendersWithoutAWarning) {
  const std::string groff = FindTool("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed";
  const ProgramResult typeset = RunProgram(groff, {"-man", "-Tutf8", "-ww", "-z", MAN_PAGE});
  EXPECT_EQ(0, typeset.exitCode);
  EXPECT_EQ("", typeset.errors);

  // As man shows it on a terminal 80 columns wide, with the preprocessors it
  // decides the page needs.
  const std::string man = FindTool("man");
  if (man.empty()) return;
  const ProgramResult shown = RunProgram(man, {"--warnings=w", "-E", "UTF-8", "-l", "-Tutf8", "-Z", MAN_PAGE},
                                         {"MANWIDTH=80", "LC_ALL=C.UTF-8", "MANROFFSEQ="});
  EXPECT_EQ(0, shown.exitCode);
  EXPECT_EQ("", shown.errors);
}

TEST(ManPage, DescribesEveryOption) {
  const std::vector<std::string> listed = UsageOptions();
  std::set<std::string> expected(listed.begin(), listed.end());
  ASSERT_TRUE(expected.count("-d")) << "the usage text has moved";
  // They work, but the usage text does not list them.
  expected.insert({"-v", "-cr", "-1", "-2", "-ver", "-?"});
  EXPECT_EQ(expected, NamesIn("OPTIONS"));
}

TEST(ManPage, ListsTheExitStatusesTheReadmeDoes) {
  std::istringstream lines(ReadFile(SourceDir() + "/README.md"));
  std::set<std::string> readme;
  const std::regex row(R"(^\| (\d+)( \+ n)? \|)");
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, m, row)) readme.insert(m[1].str() + (m[2].matched ? "+n" : ""));
  }
  ASSERT_TRUE(readme.count("0") && readme.count("128+n")) << "the README's exit code table has moved";
  EXPECT_EQ(readme, NamesIn("EXIT STATUS"));
}

TEST(ManPage, IsFilledInForThisBuild) {
  EXPECT_EQ(std::vector<std::string>({RUNTIME_DIR, UDEV_RULES_DIR "/60-romwick.rules"}), ManPageTags("FILES"));
  const ProgramResult version = testsupport::RunRomwick({"-ver"});
  ASSERT_EQ(0, version.exitCode);
  EXPECT_NE(std::string::npos, ManPageSource().find(version.output.substr(0, version.output.size() - 1)))
      << version.output;
  EXPECT_EQ(std::string::npos, ManPageSource().find('@'));
}

// They say they run as they stand: they do, one after another on one chip.
TEST(ManPage, TheExamplesOnASimulatedChipRunAsTheyStand) {
  testsupport::ScratchDir dir;
  testsupport::WriteFile(dir.File("blink.bin"), ReadFile(SourceDir() + "/examples/blink.bin"));
  std::istringstream lines(ManPageSource());
  int examples = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("romwick \\-d sim:", 0) != 0) continue;
    SCOPED_TRACE(line);
    line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
    std::istringstream words(line.substr(line.find(' ') + 1));
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    const ProgramResult result = RunProgram(testsupport::BuildDir() + "/romwick", args, {}, dir.path());
    // The one example of a chip that drops a bit.
    EXPECT_EQ(line.find("flip=") != std::string::npos ? 13 : 0, result.exitCode) << result.output;
    ++examples;
  }
  EXPECT_GT(examples, 0) << "the examples have moved";
}

}  // namespace
