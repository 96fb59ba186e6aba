// SPDX-License-Identifier: MIT
// FakeClock: stands in for the platform's millisecond tick and sleeper, so
// that timed code runs in tests without waiting in real time.
#pragma once

#include <cstdint>

namespace testsupport {

/// While it lives, platform::GetTickCount reads this clock, which stands
/// still unless advanced, or moves `step` ms at every reading; and
/// platform::Sleep advances it instead of sleeping. One at a time.
class FakeClock {
 public:
  explicit FakeClock(uint32_t start = 0, uint32_t step = 0);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  static void Advance(uint32_t ms);
  static uint32_t Now();
  /// Milliseconds asked of platform::Sleep since the clock was made.
  static uint32_t Slept();
};

}  // namespace testsupport
