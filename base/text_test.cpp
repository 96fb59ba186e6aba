// SPDX-License-Identifier: MIT
#include "base/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

std::optional<uint32_t> Parsed(const std::string& text) {
  uint32_t value = 0xDEADBEEF;
  if (!ParseUnsigned(text, &value)) return std::nullopt;
  return value;
}

TEST(ParseUnsigned, TakesDecimalAndHexadecimalAndNothingElse) {
  struct Case {
    const char* text;
    std::optional<uint32_t> value;
  };
  const Case cases[] = {
      {"0", 0},           {"010", 10},           {"4294967295", 0xFFFFFFFFu}, {"0x10", 16},
      {"0X1f", 31},       {"0x00000000FF", 255}, {"0xFFFFFFFF", 0xFFFFFFFFu}, {"4294967296", std::nullopt},
      {"0x100000000", std::nullopt},             {"", std::nullopt},          {"0x", std::nullopt},
      {"-1", std::nullopt}, {"+1", std::nullopt}, {"1k", std::nullopt},       {" 1", std::nullopt},
      {"1 ", std::nullopt}, {"0x1g", std::nullopt}, {"12a", std::nullopt},    {"0b1", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.value) << c.text;
}

TEST(EqualsIgnoringCase, IgnoresAsciiLetterCaseOnly) {
  EXPECT_TRUE(EqualsIgnoringCase("n25q128", "N25Q128"));
  EXPECT_TRUE(EqualsIgnoringCase("", ""));
  EXPECT_FALSE(EqualsIgnoringCase("M25P8", "M25P80"));
  EXPECT_FALSE(EqualsIgnoringCase("a", "@"));
  EXPECT_FALSE(EqualsIgnoringCase("[", "{"));
}

}  // namespace
