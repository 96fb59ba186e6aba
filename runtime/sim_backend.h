// SPDX-License-Identifier: MIT
// SimBackend: the simulated interface device and its modelled chip as a
// backend (`sim:` names), with the simulator's fault keys.
#pragma once

#include <memory>
#include <string>

#include "runtime/backend.h"
#include "runtime/sim_scheme.h"
#include "sim/sim_interface.h"

/// Every select and transfer is one runtime call of the simulated device,
/// which counts it, charges its latency and fails it when `fail=` says so.
class SimBackend : public Backend {
 public:
  /// Null, with the reason in `error`, for an unknown chip or an image file
  /// that cannot be used.
  static std::unique_ptr<SimBackend> Open(const SimDeviceRequest& request, std::string* error);

  bool EnablePort(int32_t port) override;
  bool DisablePort() override;
  bool SetMode(uint32_t mode, bool lsbFirst) override;
  bool SetClock(uint32_t hz, uint32_t* granted) override;
  uint32_t Clock() const override;
  bool Select(bool asserted) override;
  bool Transfer(const BusTransfer& transfer) override;
  bool OffersConfigReset() const override;
  bool ConfigReset(bool asserted) override;
  bool Close() override;
  std::string Summary() const override;

 private:
  SimBackend(std::unique_ptr<SimInterface> sim, bool noCaps, bool resetFails);

  std::unique_ptr<SimInterface> sim_;
  bool noCaps_;
  bool resetFails_;
};
