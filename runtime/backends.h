// SPDX-License-Identifier: MIT
// The backends a device name's scheme picks, how each one is opened, and the
// devices each can find.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/device_name.h"
#include "runtime/trace_writer.h"

/// Opens the backend of `request`; null, with the reason in `error`, when it
/// cannot be opened. `trace` (which may be closed) outlives the backend and
/// receives what it does underneath the entry points.
std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error);

/// Every device the backends can find, named as OpenBackend takes them
/// (simulated chips are named, not found). False, with the reasons in
/// `error`, when a backend could not look; the others' devices are in `names`.
bool ListDevices(std::vector<std::string>* names, std::string* error);
