// SPDX-License-Identifier: MIT
// Reading the manual page's source and the usage text for tests.
#include "dist/doc_sources.h"

#include <regex>
#include <sstream>

#include "testsupport/run_program.h"

namespace {

// The words of a macro line's arguments, double quotes grouping blanks.
std::vector<std::string> MacroArguments(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool inWord = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// A line of the source as it reads: font macros and escapes taken away.
std::string PlainText(const std::string& line) {
  std::string text = line;
  static const std::regex fontMacro(R"(^\.(BI|BR|IB|IR|RB|RI|SH|SS|B|I)(?: |$))");
  std::smatch m;
  if (std::regex_search(line, m, fontMacro)) {
    const std::string rest = line.substr(m.length(0));
    const bool alternating = m[1].length() == 2 && m[1] != "SH" && m[1] != "SS";
    text.clear();
    for (const std::string& word : MacroArguments(rest)) {
      if (!text.empty() && !alternating) text += ' ';
      text += word;
    }
  }
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  return text;
}

}  // namespace

std::string ManPageSource() { return testsupport::ReadFile(MAN_PAGE); }

std::vector<std::string> ManPageTags(const std::string& section, const std::string& subsection) {
  std::istringstream lines(ManPageSource());
  std::vector<std::string> tags;
  bool inSection = false;
  bool inSubsection = subsection.empty();
  bool tagNext = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".SH", 0) == 0) {
      inSection = PlainText(line) == section;
      inSubsection = subsection.empty();
    } else if (line.rfind(".SS", 0) == 0) {
      inSubsection = subsection.empty() || PlainText(line).rfind(subsection, 0) == 0;
    } else if (tagNext) {
      if (inSection && inSubsection) tags.push_back(PlainText(line));
      tagNext = false;
    } else {
      tagNext = line == ".TP";
    }
  }
  return tags;
}

std::vector<std::string> TagNames(const std::string& tag) {
  std::vector<std::string> names;
  std::istringstream parts(tag);
  for (std::string part; std::getline(parts, part, ',');) {
    const size_t start = part.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    part = part.substr(start);
    const size_t equals = part.find('=');
    const size_t blank = part.find(' ');
    names.push_back(equals < blank ? part.substr(0, equals + 1) : part.substr(0, blank));
  }
  return names;
}

std::vector<std::string> UsageOptions() {
  std::istringstream lines(testsupport::ReadFile(testsupport::SourceDir() + "/app/testdata/usage.txt"));
  std::vector<std::string> options;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  -", 0) == 0) options.push_back(line.substr(2, line.find_first_of(" \t", 2) - 2));
  }
  return options;
}
