// SPDX-License-Identifier: MIT
// The sim: scheme's row.
#include "runtime/sim_scheme.h"

#include <cctype>
#include <cstdlib>

#include "runtime/sim_backend.h"

namespace {

bool ParseId(const std::string& text, std::array<uint8_t, 3>* id) {
  if (text.size() != 6) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 16);
  *id = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return true;
}

bool ApplySimKey(const KeyItem& item, SimDeviceRequest* request, bool* ok) {
  if (item.key == "image") {
    *ok = item.Path(&request->imagePath);
  } else if (item.key == "id") {
    std::array<uint8_t, 3> id{};
    *ok = ParseId(item.value, &id);
    request->id = id;
  } else if (item.key == "fail") {
    *ok = item.Unsigned(&request->failCall) && request->failCall > 0;
  } else if (item.key == "hold") {
    *ok = item.Unsigned(&request->holdCall) && request->holdCall > 0;
  } else if (item.key == "latency") {
    uint32_t us = 0;
    *ok = item.Unsigned(&us);
    request->latencyUs = us;
  } else if (item.key == "nochip") {
    *ok = item.Flag(&request->noChip);
  } else if (item.key == "idglitch") {
    *ok = item.Flag(&request->idGlitch);
  } else if (item.key == "readglitch") {
    uint32_t address = 0;
    *ok = item.Unsigned(&address);
    request->readGlitch = address;
  } else if (item.key == "stuck") {
    *ok = item.Flag(&request->stuck);
  } else if (item.key == "protect") {
    uint32_t bits = 0;
    *ok = !item.hasValue || item.Unsigned(&bits);
    request->protect = !item.hasValue;
    request->protectBits = item.hasValue ? std::optional<uint32_t>(bits) : std::nullopt;
  } else if (item.key == "wp") {
    *ok = item.Flag(&request->writeProtectPin);
  } else if (item.key == "qe") {
    *ok = item.Flag(&request->quadEnable);
  } else if (item.key == "sfdp") {
    request->noSfdp = item.value == "off";
    request->sfdpPath = request->noSfdp ? "" : item.value;
    *ok = item.hasValue && !item.value.empty();
  } else if (item.key == "clock") {
    // At least 1 MHz, so that the slowest division stays above 30 Hz.
    uint32_t hz = 0;
    *ok = item.Unsigned(&hz) && hz >= 1'000'000;
    request->topClockHz = hz;
  } else if (item.key == "flip") {
    uint32_t address = 0;
    *ok = item.Unsigned(&address);
    request->flips.push_back(address);
  } else if (item.key == "nocaps") {
    *ok = item.Flag(&request->noCaps);
  } else if (item.key == "resetfails") {
    *ok = item.Flag(&request->resetFails);
  } else {
    return false;
  }
  return true;
}

bool ParseSim(const std::vector<std::string>& items, DeviceRequest* request, std::string* error) {
  SimDeviceRequest& sim = request->backend.emplace<SimDeviceRequest>();
  sim.chip = items[0];
  if (sim.chip.empty()) {
    *error = "no chip named";
    return false;
  }
  return ApplyKeys(items, &request->common, &sim, ApplySimKey, error);
}

// The simulator keeps no trace of its own: the entry points' is all there is.
std::unique_ptr<Backend> OpenSim(const SimDeviceRequest& request, TraceWriter&, std::string* error) {
  return SimBackend::Open(request, error);
}

}  // namespace

const BackendScheme kSimScheme = {
    .scheme = "sim",
    .nameHint = "sim:<chip>",
    .parse = ParseSim,
    .open = OpenAs<SimDeviceRequest, OpenSim>,
    .manual = R"(sim:\fICHIP\fP[,\fIkey\fP[=\fIvalue\fP]]...)",
};
