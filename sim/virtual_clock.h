// SPDX-License-Identifier: MIT
// VirtualClock: the simulation's own time, advanced only by modelled events
// (bus bytes at the SPI clock, runtime call latency) so that a run is
// deterministic and reports what the same run would take on hardware.
#pragma once

#include <cstdint>

class VirtualClock {
 public:
  /// Nanoseconds since the simulation started.
  uint64_t Now() const { return nowPs_ / kPsPerNs; }
  void Advance(uint64_t ns) { nowPs_ += ns * kPsPerNs; }
  /// Eight bit times per byte at `hz` (not zero).
  void SetBitRate(uint32_t hz) {
    hz_ = hz;
    psPerByte_ = 8 * kPsPerS / hz;
  }
  /// The bus clock the bytes are clocked at.
  uint32_t Hz() const { return hz_; }
  void AdvanceBytes(uint64_t count) { nowPs_ += count * psPerByte_; }

 private:
  // Picoseconds keep the byte time exact enough at clocks that do not divide
  // a second evenly.
  static constexpr uint64_t kPsPerNs = 1000;
  static constexpr uint64_t kPsPerS = 1000ull * 1000 * 1000 * 1000;
  uint64_t nowPs_ = 0;
  uint32_t hz_ = 1'000'000;
  uint64_t psPerByte_ = 8 * kPsPerS / 1'000'000;
};
