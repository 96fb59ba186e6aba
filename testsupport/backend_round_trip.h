// SPDX-License-Identifier: MIT
// The round trip every backend's test double goes through in the built
// program: a write in the middle of a chip, read back, and a bulk erase,
// each checked against the whole chip image.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_chip_facts.h"
#include "testsupport/run_program.h"

namespace testsupport {

/// Runs the program with `args` against a backend's test double, which
/// `description` describes (its chip and image file: "chip=M25P80,image=...").
using DoubleRun = std::function<ProgramResult(const std::string& description, const std::vector<std::string>& args)>;

struct RoundTrip {
  std::string device;           // the -d name
  std::string generation;       // "-1" or "-2"
  std::string moreDescription = {};  // keys of the double after its chip and image (",report=...")
  DoubleRun run;
  /// Checks of the double's own, after each run (nothing when empty).
  std::function<void()> afterEachRun = {};
};

/// Writes `length` bytes in the middle of `chip` over a pattern (the sectors
/// the write covers erased first on the sector-erase parts; the DataFlash
/// erases each page as it programs it), reads them back, and on the
/// sector-erase parts erases the sector under their start; the output, exit
/// code, standard error, the whole chip image and the file read are what
/// they must be.
void CheckWriteAndReadBack(const SimChipFacts& chip, uint32_t length, const RoundTrip& trip);

/// A bulk erase of a chip that holds a pattern leaves it erased.
void CheckBulkErase(const SimChipFacts& chip, const RoundTrip& trip);

/// Writes `length` bytes without an erase from the start of an erased
/// M25P80 through a double whose fault (in `trip.moreDescription`) strikes
/// part way: the run ends with the program's write failure, exit code 4,
/// and the chip holds the data cut short at a page (CheckWriteCutShort).
/// Returns the run, for the caller to check the runtime's reason.
ProgramResult CheckWriteFailsPartWay(const RoundTrip& trip, uint32_t length);

}  // namespace testsupport
