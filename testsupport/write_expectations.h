// SPDX-License-Identifier: MIT
// What a run of the program that writes a file should leave: its output and
// the chip's contents, for tests of backends through the built program.
#pragma once

#include <cstdint>
#include <string>

#include "sim/serial_nor_facts.h"
#include "sim/sim_chip_facts.h"

namespace testsupport {

/// The smallest unit a range erase of the program clears on `chip`: the
/// sector of the older parts; a serial NOR part's smallest erase, unless that
/// one works only in its parameter sectors.
inline uint32_t RangeEraseUnit(const SimChipFacts& chip) {
  if (chip.family != SimFamily::kSerialNor || chip.nor->parameterSectors != 0) return chip.eraseUnit;
  return chip.nor->erases[0].size;
}

/// The chip's contents after `data` was written at `address` over `before`;
/// with `rangeErase`, the erase units the data touches were erased first.
inline std::string ImageAfterWrite(const SimChipFacts& chip, std::string before, uint32_t address,
                                   const std::string& data, bool rangeErase) {
  if (rangeErase) {
    const uint32_t unit = RangeEraseUnit(chip);
    const uint32_t first = address / unit * unit;
    const uint32_t end = static_cast<uint32_t>((address + data.size() + unit - 1) / unit * unit);
    before.replace(first, end - first, end - first, '\xFF');
  }
  return before.replace(address, data.size(), data);
}

/// What the program prints for a write of `length` bytes of `input` that it
/// verifies.
inline std::string WriteOutput(const std::string& input, size_t length, bool rangeErase) {
  const std::string n = std::to_string(length);
  return std::string(rangeErase ? "Doing partial erase of flash memory device\n" : "") + "Writing file: " + input +
         " to flash memory device\nBytes written to flash: " + n + "\nBytes verified: " + n + "\n";
}

/// What is wrong with `contents`, the chip after a write of `data` from
/// address 0 onto an erased chip failed part way; empty when nothing is. It
/// must hold the data's first bytes (some, not all), the page where they stop
/// may hold more of them or erased bytes (its program was cut short), and
/// every byte after that page is erased.
inline std::string CheckWriteCutShort(const std::string& contents, const std::string& data, uint32_t pageSize) {
  size_t same = 0;
  while (same < data.size() && contents[same] == data[same]) ++same;
  if (same == 0 || same == data.size()) return "the chip holds " + std::to_string(same) + " bytes of the data";
  const size_t end = (same / pageSize + 1) * pageSize;
  for (size_t i = same; i < end && i < contents.size(); ++i) {
    if (contents[i] != data[i] && contents[i] != '\xFF') return "byte " + std::to_string(i) + " is neither";
  }
  const size_t written = contents.find_first_not_of('\xFF', end);
  return written == std::string::npos ? "" : "byte " + std::to_string(written) + " past the cut is written";
}

}  // namespace testsupport
