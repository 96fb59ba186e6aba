// SPDX-License-Identifier: MIT
// Test helpers for the image files: random contents, how a TextFault prints
// in a failed expectation, Intel HEX records, and text as `xxd -p -c 0`
// writes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>

#include "image/text_fault.h"

/// `n` bytes that differ from run to run of nothing but `n`.
inline std::string RandomBytes(size_t n) {
  std::mt19937 random(static_cast<uint32_t>(n));
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

inline void PrintTo(const TextFault& f, std::ostream* os) {
  *os << "{reason " << f.reason << ", line " << f.line << ", value 0x" << std::hex << f.value << std::dec << "}";
}

/// `bytes` as one line of lower-case digit pairs, the layout of `xxd -p -c 0`.
inline std::string XxdPlainLine(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2 + 1);
  for (unsigned char b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text + "\n";
}

/// An Intel HEX record line from its bytes in hex, length to last data byte,
/// with the checksum worked out here and a line feed.
inline std::string Rec(const std::string& hex) {
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) sum += std::stoul(hex.substr(i, 2), nullptr, 16);
  char checksum[3];
  std::snprintf(checksum, sizeof checksum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return ":" + hex + checksum + "\n";
}
