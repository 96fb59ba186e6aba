// SPDX-License-Identifier: MIT
// Hexadecimal digits and their values, for the program's numbers and the two
// hex text formats.
#pragma once

#include <array>
#include <cstdint>
#include <string>

/// Digit values by character code, -1 for a character that is no digit. A
/// table, because the digits of real data fall either side of '9' at random,
/// and the mispredicted comparisons were most of what reading hex text cost.
inline constexpr std::array<int8_t, 256> kHexDigitValues = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) values['A' + i] = values['a' + i] = static_cast<int8_t>(10 + i);
  return values;
}();

/// 0 to 15 for 0-9, A-F and a-f; -1 for any other character.
inline int HexDigitValue(char c) { return kHexDigitValues[static_cast<unsigned char>(c)]; }

/// Puts `value` as two upper-case digits at `out`; returns the place after them.
inline char* PutHexByte(char* out, uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out[0] = kDigits[value >> 4];
  out[1] = kDigits[value & 0x0F];
  return out + 2;
}

/// Appends `value` as two upper-case digits.
inline void AppendHexByte(std::string& text, uint8_t value) {
  char digits[2];
  PutHexByte(digits, value);
  text.append(digits, 2);
}
