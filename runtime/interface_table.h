// SPDX-License-Identifier: MIT
// The table of open interfaces that every runtime library of the process
// shares, so that a handle HubOpen hands out is valid in the other libraries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>

#include "runtime/interface_device.h"

namespace interface_table {

/// Opens the device `name` names and fills in its handle; false (the reason
/// written to standard error) when it cannot be opened, for want of memory too.
bool Open(const char* name, uint32_t* handle) noexcept;

/// The open interface of `handle`, or null.
InterfaceDevice* Find(uint32_t handle);

/// Closes the interface of `handle` and forgets it; false for an unknown
/// handle or when its contents could not be saved.
bool Close(const char* entry, uint32_t handle) noexcept;

/// Runs `work` as an entry point's body: 1 when it returned true, 0 when it
/// returned false or threw. No exception may leave the runtime, whose
/// callers know only the entry points' results: one (an allocation that
/// failed, say) is a failed call, its reason written to standard error.
template <typename Work>
int32_t Guarded(Work work) noexcept {
  try {
    return work() ? 1 : 0;
  } catch (const std::bad_alloc&) {
    std::fputs("romwick runtime: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "romwick runtime: %s\n", e.what());
  }
  return 0;
}

/// Runs `work` on the interface of `handle`: the entry point's result, 1
/// when it succeeded and 0 when it failed, threw or the handle is unknown.
template <typename Work>
int32_t With(uint32_t handle, Work work) noexcept {
  return Guarded([&] {
    InterfaceDevice* device = Find(handle);
    return device && work(*device);
  });
}

}  // namespace interface_table
