// The backends a device name's scheme picks, and how each one is opened (a
// listing of the devices each can see would sit beside its opener).
#pragma once

#include <memory>
#include <string>

#include "runtime/backend.h"
#include "runtime/device_name.h"
#include "runtime/trace_writer.h"

/// Opens the backend of `request`; null, with the reason in `error`, when it
/// cannot be opened. `trace` (which may be closed) outlives the backend and
/// receives what it does underneath the entry points.
std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error);
