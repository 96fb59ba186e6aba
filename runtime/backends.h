// SPDX-License-Identifier: MIT
// The table of backends, one row a scheme, and what the runtime makes of
// it: the scheme a name picks, the hint after an unknown one, opening a
// parsed name's device and listing the devices every backend can find.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/backend_scheme.h"
#include "runtime/device_name.h"
#include "runtime/trace_writer.h"

/// Every backend's row, in the order hints and lists name them.
std::span<const BackendScheme* const> BackendSchemes();

/// The row of `scheme` ("ftdi"), or null.
const BackendScheme* FindScheme(const std::string& scheme);

/// What names every scheme takes look like, for a user who named none of
/// them: "sim:<chip>, spidev:/dev/spidev<bus>.<chip select>, ... or ch341a:".
std::string SchemeHint();

/// Opens the backend of `request`; null, with the reason in `error`, when it
/// cannot be opened. `trace` (which may be closed) outlives the backend and
/// receives what it does underneath the entry points.
std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error);

/// Every device the backends can find, named as OpenBackend takes them
/// (simulated chips are named, not found). False, with the reasons in
/// `error`, when a backend could not look; the others' devices are in `names`.
bool ListDevices(std::vector<std::string>* names, std::string* error);
