// The backends a device name's scheme picks, how each one is opened, and the
// devices each can see.
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

/// The CH341A devices attached, as `-d` names them (`ch341a:index=<n>`);
/// false, with the reason in `error`, when USB cannot be searched.
bool ListCh341aDevices(std::vector<std::string>* names, std::string* error);
