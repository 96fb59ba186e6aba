// SPDX-License-Identifier: MIT
// The README's table of parts says what the device table holds: each row,
// in the table's order, with its code, size, the erase units the program
// sends, how it reaches above 16 MiB, and which rows a shared code does not
// find.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "flash/flashdev.h"
#include "testsupport/run_program.h"

namespace {

using testsupport::ReadFile;
using testsupport::SourceDir;

constexpr uint32_t kThreeByteReach = 1u << 24;

std::string Size(uint32_t bytes) {
  return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes >> 10) + " KiB";
}

// The erase types the program sends: above 16 MiB with 4-byte opcodes, only
// those that have one.
std::string EraseUnits(const FLASHDEV& row) {
  if (row.type != FLASHTYPE_SECTOR_ERASE) return std::to_string(row.pageSize) + "-byte pages";
  std::string units;
  for (const EraseType& type : row.eraseTypes) {
    const bool reaches =
        row.size <= kThreeByteReach || row.addressing != Addressing::kFourByteOpcodes || type.opcode4 != 0;
    if (type.size == 0 || !reaches) continue;
    units += (units.empty() ? "" : ", ") + std::to_string(type.size >> 10);
  }
  return units + " KiB";
}

std::string AboveSixteenMiB(const FLASHDEV& row) {
  if (row.size <= kThreeByteReach) return "—";
  if (row.addressing == Addressing::kFourByteOpcodes) return "4-byte opcodes";
  return row.quirks.modeNeedsWriteEnable ? "B7h/E9h, write enable first" : "B7h/E9h";
}

std::string Notes(const FLASHDEV& row) {
  const FLASHDEV* found = FindDeviceById(row.id);
  std::string notes = found == &row ? "" : std::string("`-m` only: the code finds the ") + found->name;
  if (row.protection.table == ProtectTable::kUnknown) notes += notes.empty() ? "table not known" : "; table not known";
  return notes;
}

std::string ExpectedLine(const FLASHDEV& row) {
  char code[16];
  std::snprintf(code, sizeof code, "%02X %02X %02X", row.id[0], row.id[1], row.id[2]);
  return "| " + std::string(row.name) + " | " + code + " | " + Size(row.size) + " | " + EraseUnits(row) + " | " +
         AboveSixteenMiB(row) + " | " + Notes(row) + " |";
}

// The rows of the table under "### Parts", header and rule left out.
std::vector<std::string> ReadmeRows() {
  std::istringstream lines(ReadFile(SourceDir() + "/README.md"));
  std::vector<std::string> rows;
  bool inSection = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("#", 0) == 0) inSection = line == "### Parts";
    if (!inSection || line.rfind("| ", 0) != 0 || line.rfind("| Part |", 0) == 0) continue;
    rows.push_back(line);
  }
  return rows;
}

TEST(ReadmeParts, ListsEveryRowOfTheDeviceTable) {
  std::vector<std::string> expected;
  for (const FLASHDEV* row = flashDeviceTable; row->id[0] != 0; ++row) expected.push_back(ExpectedLine(*row));
  ASSERT_GT(expected.size(), 1u);
  EXPECT_EQ(ReadmeRows(), expected);
}

}  // namespace
