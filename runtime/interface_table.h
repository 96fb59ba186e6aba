// SPDX-License-Identifier: MIT
// The table of open interfaces that every runtime library of the process
// shares, so that a handle HubOpen hands out is valid in the other libraries.
#pragma once

#include <cstdint>

#include "runtime/interface_device.h"

namespace interface_table {

/// Opens the device `name` names and fills in its handle; false (the reason
/// written to standard error) when it cannot be opened.
bool Open(const char* name, uint32_t* handle);

/// The open interface of `handle`, or null.
InterfaceDevice* Find(uint32_t handle);

/// Closes the interface of `handle` and forgets it; false for an unknown
/// handle or when its contents could not be saved.
bool Close(const char* entry, uint32_t handle);

/// Runs `work` on the interface of `handle`: the entry point's result, 1
/// when it succeeded and 0 when it failed or the handle is unknown.
template <typename Work>
int32_t With(uint32_t handle, Work work) {
  InterfaceDevice* device = Find(handle);
  return device && work(*device) ? 1 : 0;
}

}  // namespace interface_table
