// What a run of the program that writes a file should leave: its output and
// the chip's contents, for tests of backends through the built program.
#pragma once

#include <cstdint>
#include <string>

#include "sim/sim_chip_facts.h"

namespace testsupport {

/// The chip's contents after `data` was written at `address` over `before`;
/// with `rangeErase`, the erase units the data touches were erased first.
inline std::string ImageAfterWrite(const SimChipFacts& chip, std::string before, uint32_t address,
                                   const std::string& data, bool rangeErase) {
  if (rangeErase) {
    const uint32_t first = address / chip.eraseUnit * chip.eraseUnit;
    const uint32_t end =
        static_cast<uint32_t>((address + data.size() + chip.eraseUnit - 1) / chip.eraseUnit * chip.eraseUnit);
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

}  // namespace testsupport
