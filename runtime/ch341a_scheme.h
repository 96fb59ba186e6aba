// SPDX-License-Identifier: MIT
// The ch341a: scheme: what `ch341a:[index=<n>][,<key>[=<value>]]...` asks
// for, its parser, its opener and its lister.
#pragma once

#include <cstdint>

#include "runtime/backend_scheme.h"

/// What `ch341a:[index=<n>][,<key>[=<value>]]...` asks for.
struct Ch341aDeviceRequest {
  uint32_t index = 0;    // the n-th CH341A, counted in order of bus and address
  bool noBatch = false;  // one USB round trip for every status read

  bool operator==(const Ch341aDeviceRequest&) const = default;
};

extern const BackendScheme kCh341aScheme;
