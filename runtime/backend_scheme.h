// SPDX-License-Identifier: MIT
// BackendScheme: one backend as device names reach it, the row that every
// list of backends in the runtime is made from (the table is backends.cpp's).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/device_name.h"
#include "runtime/trace_writer.h"

/// Each backend's scheme file pair (sim_scheme.h, ...) defines its row: what
/// its names ask for, their parser, its opener and lister, and the texts that
/// name it to the user.
struct BackendScheme {
  /// Reads the items after the colon, cut at commas, into `request`: its
  /// common keys, and its own request type in `request->backend`.
  using Parse = bool (*)(const std::vector<std::string>& items, DeviceRequest* request, std::string* error);
  /// Null, with the reason in `error`, when the device cannot be opened.
  /// `trace` (which may be closed) outlives the backend and receives what it
  /// does underneath the entry points.
  using Open = std::unique_ptr<Backend> (*)(const DeviceRequest& request, TraceWriter& trace, std::string* error);
  /// Adds the devices it finds, named as the parser takes them; false, with
  /// the reason in `error`, when it could not look.
  using List = bool (*)(std::vector<std::string>* names, std::string* error);

  const char* scheme;    // before the name's first colon: "ftdi"
  const char* nameHint;  // what a name looks like, for the hint after an unknown scheme: "ftdi:"
  Parse parse;
  Open open = nullptr;  // null exactly when `absent`
  List list = nullptr;  // null: its devices are named, never found (sim:), or it is absent
  /// Null when the backend is compiled into this runtime; otherwise why it
  /// is not, which opening one of its names answers after "<scheme>: ".
  const char* absent = nullptr;
  const char* manual;  // its subsection heading under DEVICE NAMES in the manual page (dist/romwick.1.in)
};

/// The row's opener for a backend whose parser leaves a `Request`: the
/// request of another backend's scheme is refused, never misread.
template <typename Request, std::unique_ptr<Backend> (*open)(const Request&, TraceWriter&, std::string*)>
std::unique_ptr<Backend> OpenAs(const DeviceRequest& request, TraceWriter& trace, std::string* error) {
  if (const Request* own = request.As<Request>()) return open(*own, trace, error);
  *error = "the device request does not come from this scheme's parser";
  return nullptr;
}
