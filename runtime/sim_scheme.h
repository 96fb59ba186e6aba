// SPDX-License-Identifier: MIT
// The sim: scheme: what `sim:<CHIP>[,<key>[=<value>]]...` asks for, its
// parser and its opener (simulated chips are named, never found).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/backend_scheme.h"

/// What `sim:<CHIP>[,<key>[=<value>]]...` asks for.
struct SimDeviceRequest {
  std::string chip;       // as written; the simulator ignores letter case
  std::string imagePath;  // empty: contents live only as long as the interface
  std::optional<std::array<uint8_t, 3>> id;
  bool noChip = false;
  bool stuck = false;
  bool idGlitch = false;  // idglitch: the second identification read drops a bit
  std::optional<uint32_t> readGlitch;  // readglitch=<address>: the second read of that byte drops a bit
  uint32_t failCall = 0;  // 0: no call fails
  uint32_t holdCall = 0;  // 0: no call waits for a signal
  bool protect = false;  // every sector protected
  std::optional<uint32_t> protectBits;  // protect=<bits>; the later protect key wins
  bool writeProtectPin = false;         // wp: W# held low
  bool quadEnable = false;              // qe: QE set at power-up
  bool noSfdp = false;                  // sfdp=off
  std::string sfdpPath;                 // sfdp=<file>; the later sfdp key wins
  std::optional<uint32_t> topClockHz;   // clock=<Hz>: the fastest clock the interface grants
  std::vector<uint32_t> flips;          // flip=<address>, once per address
  bool noCaps = false;
  bool resetFails = false;  // resetfails: the configuration reset is offered, its assert fails
  std::optional<uint32_t> latencyUs;

  bool operator==(const SimDeviceRequest&) const = default;
};

extern const BackendScheme kSimScheme;
