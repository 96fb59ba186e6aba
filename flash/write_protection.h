// SPDX-License-Identifier: MIT
// WriteProtection: what a chip protects against program and erase, as its
// programmer read it from the chip.
#pragma once

#include <cstdint>
#include <vector>

struct WriteProtection {
  /// A protected run of bytes, [start, end).
  struct Area {
    uint32_t start;
    uint32_t end;
    bool operator==(const Area&) const = default;
  };

  uint8_t status = 0;  // the status register, for messages
  /// SRWD is set: while W# is held low the status register, and so the
  /// protection, cannot be changed.
  bool statusLocked = false;
  std::vector<Area> areas;  // ascending, none touching the next

  bool ProtectsAnything() const { return !areas.empty(); }
  /// True when a byte of [start, start + length) is protected.
  bool Protects(uint32_t start, uint32_t length) const {
    const uint64_t end = uint64_t{start} + length;
    for (const Area& area : areas) {
      if (length > 0 && start < area.end && end > area.start) return true;
    }
    return false;
  }
};
