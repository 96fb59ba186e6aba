// SPDX-License-Identifier: MIT
// RunPlan: what a run will erase, program and verify, computed once from the
// request, the image and the part, so that the protection check guards
// exactly what the erase, the write, "-u" and the verify then do.
#pragma once

#include <cstdint>
#include <vector>

#include "flash/sfprg.h"
#include "image/image_span.h"

/// A run of flash addresses, [start, end).
struct FlashRange {
  uint64_t start;
  uint64_t end;
  bool operator==(const FlashRange&) const = default;
};

/// What the command line asks of the chip.
struct RunRequest {
  bool bulkErase = false;
  bool rangeErase = false;
  bool writing = false;
  bool updating = false;  // "-u"
  uint32_t address = 0;   // where the image, or the range to erase, starts
  uint32_t length = 0;    // the range to erase without a write
  std::vector<ImageSpan> spans{};  // the image's bytes, by buffer offset
};

struct RunPlan {
  bool bulkErase = false;
  /// The range erase's commands: under the image's groups of neighbouring
  /// spans when writing, else over [address, address + length).
  std::vector<SFPRG::EraseCommand> erase;
  /// The image's bytes as flash addresses: what a plain write programs and
  /// its verify reads back.
  std::vector<FlashRange> program;
  /// "-u": the erase units under the image, each once, as runs of neighbours.
  std::vector<FlashRange> updateRuns;
  uint32_t updateUnit = 0;

  /// Every byte the run may erase or program, for the protection check.
  std::vector<FlashRange> Touched(uint64_t deviceSize) const;
};

/// The plan for `request` on the part `programmer` drives.
RunPlan PlanRun(const RunRequest& request, SFPRG& programmer);
