// SPDX-License-Identifier: MIT
// The spidev: scheme: what `spidev:<node>[,<key>[=<value>]]...` asks for,
// its parser, its opener and its lister; the backend is Linux's alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/backend_scheme.h"

/// A GPIO line: `<chip>:<line>[:active-high][:open-drain]`.
struct GpioLineName {
  std::string chip;  // a character device, its name or label, or its number
  uint32_t line = 0;
  bool activeHigh = false;
  bool openDrain = false;  // driven low or let go, for a net others drive too

  bool operator==(const GpioLineName&) const = default;
};

/// What `spidev:<node>[,<key>[=<value>]]...` asks for.
struct SpidevDeviceRequest {
  std::string node;
  uint32_t speedCap = 0;  // Hz; 0: the clock the program asks for
  uint32_t xferCap = 0;   // bytes a transfer may carry at most; 0: no cap of its own
  std::optional<GpioLineName> reset;

  bool operator==(const SpidevDeviceRequest&) const = default;
};

extern const BackendScheme kSpidevScheme;
