// SPDX-License-Identifier: MIT
// The shared text rules.
#include "base/text.h"

#include <algorithm>

#include "base/hex_digit.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool ParseUnsigned(std::string_view text, uint32_t* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const uint32_t base = hex ? 16 : 10;
  const std::string_view digits = hex ? text.substr(2) : text;
  if (digits.empty()) return false;
  uint64_t total = 0;
  for (char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0 || static_cast<uint32_t>(digit) >= base) return false;
    total = total * base + static_cast<uint32_t>(digit);
    if (total > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(total);
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}
