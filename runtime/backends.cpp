// SPDX-License-Identifier: MIT
// The table of backends.
//
// A new programmer takes its backend (a Backend subclass), its scheme file
// pair (<name>_scheme.h and .cpp: its request type, parser, opener, lister
// and row, as ch341a_scheme.* has them), its row's line in kSchemes below,
// and its subsection in the manual page's DEVICE NAMES, whose heading is the
// row's `manual` (backends_test.cpp holds the two together). The hint after
// an unknown scheme and -list follow from the table.
#include "runtime/backends.h"

#include "runtime/ch341a_scheme.h"
#include "runtime/ch347_scheme.h"
#include "runtime/ftdi_scheme.h"
#include "runtime/serprog_scheme.h"
#include "runtime/sim_scheme.h"
#include "runtime/spidev_scheme.h"

namespace {

constexpr const BackendScheme* kSchemes[] = {
    &kSimScheme,
    &kSpidevScheme,
    &kFtdiScheme,
    &kCh341aScheme,
    &kCh347Scheme,
    &kSerprogScheme,
};

}  // namespace

std::span<const BackendScheme* const> BackendSchemes() { return kSchemes; }

const BackendScheme* FindScheme(const std::string& scheme) {
  for (const BackendScheme* row : kSchemes) {
    if (scheme == row->scheme) return row;
  }
  return nullptr;
}

std::string SchemeHint() {
  std::string hint;
  const size_t count = std::size(kSchemes);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) hint += i + 1 == count ? " or " : ", ";
    hint += kSchemes[i]->nameHint;
  }
  return hint;
}

std::unique_ptr<Backend> OpenBackend(const DeviceRequest& request, TraceWriter& trace, std::string* error) {
  const BackendScheme* row = request.scheme;
  if (!row) {
    *error = "no backend named";
    return nullptr;
  }
  if (!row->open) {
    *error = std::string(row->scheme) + ": " + (row->absent ? row->absent : "this runtime cannot open its devices");
    return nullptr;
  }
  return row->open(request, trace, error);
}

bool ListDevices(std::vector<std::string>* names, std::string* error) {
  bool all = true;
  for (const BackendScheme* row : kSchemes) {
    std::string reason;
    if (!row->list || row->list(names, &reason)) continue;
    *error += (all ? "" : "; ") + reason;
    all = false;
  }
  return all;
}
