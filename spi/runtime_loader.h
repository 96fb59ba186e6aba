// SPDX-License-Identifier: MIT
// What the two runtime adapters share: loading a runtime library (first from
// the runtime folder, then by bare name through the platform's library
// search), entry-point look-up, and the result of a runtime call.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "spi/spictl.h"

/// Loads the runtime module `file` (its Windows-form name, "hubcore.dll");
/// null when neither attempt finds it.
platform::Module LoadRuntimeLibrary(const char* file);

/// Looks up `name` in `module` and stores it in `entry` as the pointer type
/// of `entry`; false when the module lacks it.
template <typename Fn>
bool LookUp(platform::Module module, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(platform::FindEntry(module, name));
  return entry != nullptr;
}

/// Turns a runtime call's result (non-zero for success) into the adapter's:
/// 0 or 4018 in `out`.
inline bool RuntimeCallResult(int32_t result, int32_t* out) {
  *out = result != 0 ? 0 : SPIERR_CALL_FAILED;
  return result != 0;
}

/// The transfer size the adapters report once open.
constexpr uint32_t kRuntimeXferLimit = 4096;
