// SPDX-License-Identifier: MIT
// The ch347: scheme: what `ch347:[<key>[=<value>]][,<key>[=<value>]]...`
// asks for, its parser, its opener and its lister.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/backend_scheme.h"

/// What `ch347:[<key>[=<value>]][,...]` asks for.
struct Ch347DeviceRequest {
  uint32_t index = 0;              // of the CH347s that match, in order of bus and address
  std::string serial;              // empty: any
  std::optional<int> chipSelect;   // cs=0|1; nothing: the program's port picks it
  std::optional<int> resetPin;     // reset=<GPIO 0-7>, the configuration reset line
  bool resetActiveHigh = false;
  bool noBatch = false;  // one USB round trip for every status read

  bool operator==(const Ch347DeviceRequest&) const = default;
};

extern const BackendScheme kCh347Scheme;
