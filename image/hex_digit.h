// Hexadecimal digits and their values, for the two hex text formats.
#pragma once

#include <cstdint>
#include <string>

/// 0 to 15 for 0-9, A-F and a-f; -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/// Appends `value` as two upper-case digits.
inline void AppendHexByte(std::string& text, uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text += kDigits[value >> 4];
  text += kDigits[value & 0x0F];
}
