// SPDX-License-Identifier: MIT
// The fixture of the tests that run the built program against a simulated
// chip whose contents live in an image file, and what they know of the chips
// and the file formats.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testsupport/run_program.h"

namespace runtest {

using testsupport::Pattern;
using testsupport::ReadFile;
using testsupport::ScratchDir;
using testsupport::WriteFile;

// What the tests know of each chip, from its datasheet.
struct Chip {
  const char* name;
  uint32_t size;
  uint32_t sector;  // 0: no sector erase (DataFlash)
  const char* id;
};

inline const Chip kChips[] = {
    {"M25P80", 1u << 20, 1u << 16, "20 20 14"},  {"M25P16", 2u << 20, 1u << 16, "20 20 15"},
    {"M25P32", 4u << 20, 1u << 16, "20 20 16"},  {"M25P64", 8u << 20, 1u << 16, "20 20 17"},
    {"M25P128", 16u << 20, 1u << 18, "20 20 18"}, {"N25Q128", 16u << 20, 1u << 16, "20 BA 18"},
    {"AT45DB081", 4096u * 264, 0, "1F 25 00"},
};
inline const Chip& M25P80 = kChips[0];
inline const Chip& AT45DB081 = kChips[6];

// Raw hex as the program writes it: 32 bytes a line, each "XX ".
inline std::string RawHex(const std::string& bytes) {
  std::string text;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, "%02X ", static_cast<uint8_t>(bytes[i]));
    text += b;
    if (i % 32 == 31 || i + 1 == bytes.size()) text += '\n';
  }
  return text;
}

inline std::string HexRecord(uint8_t type, uint16_t address, const std::string& data) {
  uint8_t sum = static_cast<uint8_t>(data.size() + (address >> 8) + address + type);
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
  std::string line = head;
  char b[3];
  for (char c : data) {
    std::snprintf(b, sizeof b, "%02X", static_cast<uint8_t>(c));
    line += b;
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  }
  std::snprintf(b, sizeof b, "%02X", static_cast<uint8_t>(-sum));
  return line + b + "\n";
}

// Intel HEX as the program writes it: 32-byte records from `base`, an
// extended linear address record at each new 64 KiB page, the end record
// without a line end.
inline std::string IntelHex(const std::string& bytes, uint32_t base = 0) {
  std::string text;
  uint32_t page = 0;
  for (size_t i = 0; i < bytes.size(); i += 32) {
    const uint32_t at = base + static_cast<uint32_t>(i);
    if ((at & 0xFFFF0000u) != page) {
      page = at & 0xFFFF0000u;
      text += HexRecord(4, 0, std::string{static_cast<char>(page >> 24), static_cast<char>(page >> 16)});
    }
    text += HexRecord(0, static_cast<uint16_t>(at), bytes.substr(i, 32));
  }
  return text + ":00000001FF";
}

struct Format {
  const char* flag;
  std::string (*encode)(const std::string&);
};
inline const Format kFormats[] = {
    {"-fb", [](const std::string& b) { return b; }}, {"-fh", RawHex}, {"-fi", [](const std::string& b) {
                                                                         return IntelHex(b);
                                                                       }}};

class Run : public testing::Test {
 protected:
  std::string Dev(const Chip& chip, const std::string& keys = "") const {
    return std::string("sim:") + chip.name + ",image=" + image + keys;
  }
  // Puts `contents` into the chip (the whole chip: a repeated pattern).
  std::string Seed(const Chip& chip, uint32_t seed = 7) {
    const std::string contents = Pattern(chip.size, seed);
    WriteFile(image, contents);
    return contents;
  }
  std::string Contents() const { return ReadFile(image); }
  testsupport::ProgramResult Romwick(const std::vector<std::string>& args) const {
    return testsupport::RunRomwick(args);
  }
  std::string File(const std::string& name, const std::string& contents) const {
    const std::string path = dir.File(name);
    WriteFile(path, contents);
    return path;
  }

  ScratchDir dir;
  const std::string image = dir.File("chip.bin");
};

// Erases what a range erase of [start, start + length) erases on `chip`.
inline void EraseCovering(std::string& contents, const Chip& chip, uint32_t start, uint32_t length) {
  const uint32_t first = start / chip.sector * chip.sector;
  uint32_t end = (start + length + chip.sector - 1) / chip.sector * chip.sector;
  if (end > chip.size) end = chip.size;
  if (first < end) contents.replace(first, end - first, end - first, '\xFF');
}

}  // namespace runtest
