// SPDX-License-Identifier: MIT
// FLAGSET: the 32-bit word of independent status flags that every SPI controller holds.
#pragma once

#include <cstdint>

class FLAGSET {
 public:
  void SetFlags(uint32_t mask) { word_ |= mask; }
  /// True when any bit of `mask` is set.
  bool TestFlags(uint32_t mask) const { return (word_ & mask) != 0; }
  void ClearFlags(uint32_t mask) { word_ &= ~mask; }
  void ResetFlags() { word_ = 0; }
  uint32_t Word() const { return word_; }

 private:
  uint32_t word_ = 0;
};
