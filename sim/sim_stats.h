// SPDX-License-Identifier: MIT
// SimStats: what a simulated run did on the bus and in the chip, for the
// runtime to report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

/// Chip commands by kind. A command counts under its kind when it took effect
/// (reads and status reads always do); one that had no effect (unknown, sent
/// while busy, without the write-enable latch, into a protected area, or
/// cancelled by its framing) counts as kIgnored.
enum class SimOp : uint8_t {
  kReadId,
  kReadStatus,
  kWriteEnable,
  kWriteDisable,
  kRead,
  kPageProgram,
  kSectorErase,
  kChipErase,
  kBufferWrite,
  kBufferRead,
  kBufferToPage,
  kBufferToPageNoErase,
  kPageToBuffer,
  kPageErase,
  kBlockErase,
  kWriteStatus,
  kFastRead,
  kProtectEnable,
  kProtectDisable,
  kProtectErase,
  kProtectProgram,
  kProtectRead,
  kReadSfdp,
  kEnter4Byte,
  kExit4Byte,
  kWriteAddress,
  kBlockLock,
  kClearErrors,
  kIgnored,
  kCount
};

constexpr size_t kSimOpCount = static_cast<size_t>(SimOp::kCount);

/// Lower-case name of a kind, e.g. "page program".
const char* SimOpName(SimOp op);

struct SimStats {
  uint64_t calls = 0;    // runtime calls
  uint64_t bytes = 0;    // bytes clocked, selected or not
  uint64_t selects = 0;  // chip-select periods (falling edges)
  uint64_t timeNs = 0;   // modelled time of the run so far
  std::array<uint64_t, kSimOpCount> ops{};

  uint64_t Ops(SimOp op) const { return ops[static_cast<size_t>(op)]; }
};
