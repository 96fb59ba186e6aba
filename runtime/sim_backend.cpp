// SPDX-License-Identifier: MIT
// The simulated interface device as a backend.
#include "runtime/sim_backend.h"

#include <cstdio>

namespace {

SimConfig ToConfig(const SimDeviceRequest& request) {
  SimConfig config;
  config.chip = request.chip;
  config.image = request.imagePath;
  config.id = request.id;
  config.noChip = request.noChip;
  config.idGlitch = request.idGlitch;
  config.readGlitch = request.readGlitch;
  config.stuck = request.stuck;
  config.failCall = request.failCall;
  config.holdCall = request.holdCall;
  config.protect = request.protect;
  config.protectBits = request.protectBits;
  config.writeProtectPin = request.writeProtectPin;
  config.quadEnable = request.quadEnable;
  config.noSfdp = request.noSfdp;
  config.sfdpFile = request.sfdpPath;
  config.flips = request.flips;
  if (request.latencyUs) config.latencyUs = *request.latencyUs;
  if (request.topClockHz) config.topClockHz = *request.topClockHz;
  return config;
}

}  // namespace

std::unique_ptr<SimBackend> SimBackend::Open(const SimDeviceRequest& request, std::string* error) {
  std::unique_ptr<SimInterface> sim = SimInterface::Create(ToConfig(request), error);
  if (!sim) return nullptr;
  return std::unique_ptr<SimBackend>(new SimBackend(std::move(sim), request.noCaps, request.resetFails));
}

SimBackend::SimBackend(std::unique_ptr<SimInterface> sim, bool noCaps, bool resetFails)
    : sim_(std::move(sim)), noCaps_(noCaps), resetFails_(resetFails) {}

bool SimBackend::EnablePort(int32_t) { return true; }

bool SimBackend::DisablePort() { return true; }

bool SimBackend::SetMode(uint32_t mode, bool) {
  // The flash chips answer in modes 0 and 3, most significant bit first.
  return mode <= 3;
}

bool SimBackend::SetClock(uint32_t hz, uint32_t* granted) {
  *granted = sim_->SetClock(hz);
  return true;
}

uint32_t SimBackend::Clock() const { return sim_->GetClock(); }

bool SimBackend::Select(bool asserted) {
  if (!sim_->BeginCall()) return false;
  sim_->SetSelectLine(!asserted);
  return true;
}

bool SimBackend::Transfer(const BusTransfer& t) {
  if (!sim_->BeginCall()) return false;
  sim_->SetSelectLine(!t.selectedDuring);
  if (t.tx) {
    sim_->Transfer(t.tx, t.rx, t.count);
  } else {
    sim_->TransferFill(t.fill, t.rx, t.count);
  }
  sim_->SetSelectLine(!t.selectedAfter);
  return true;
}

bool SimBackend::OffersConfigReset() const { return !noCaps_; }

// A failing reset fails its assert only: the release after it goes through.
bool SimBackend::ConfigReset(bool asserted) { return !noCaps_ && !(asserted && resetFails_); }

bool SimBackend::Close() {
  std::string error;
  return sim_->Save(&error) || Fail(error);
}

std::string SimBackend::Summary() const {
  const SimStats stats = sim_->Stats();
  char head[256];
  std::snprintf(head, sizeof head, "bus-calls=%llu bytes=%llu selects=%llu modelled=%.6f s",
                static_cast<unsigned long long>(stats.calls), static_cast<unsigned long long>(stats.bytes),
                static_cast<unsigned long long>(stats.selects), static_cast<double>(stats.timeNs) / 1e9);
  std::string s = head;
  s += " ops:";
  bool any = false;
  for (size_t i = 0; i < kSimOpCount; ++i) {
    if (stats.ops[i] == 0) continue;
    s += std::string(any ? ", " : " ") + SimOpName(static_cast<SimOp>(i)) + "=" + std::to_string(stats.ops[i]);
    any = true;
  }
  if (!any) s += " none";
  return s;
}
