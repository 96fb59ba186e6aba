// SPDX-License-Identifier: MIT
// SimSpiCtl: an SPI controller over a simulated interface device, in process,
// for tests and benchmarks of everything above the controller.
#pragma once

#include <cstdint>

#include "sim/sim_interface.h"
#include "spi/spictl.h"

namespace testsupport {

/// Maps each controller operation onto one simulated runtime call, as the
/// runtime adapters do. With kind SPIKIND_RT2 PutSelect works; with
/// SPIKIND_RT1 it is unsupported (false, `out` untouched), so that callers
/// fall back to the select-transfer-release form. A failed runtime call
/// reports SPIERR_CALL_FAILED (SPIERR_CONNECT for Open and EnableSpi).
class SimSpiCtl : public SPICTL {
 public:
  /// `sim` must outlive the controller.
  SimSpiCtl(SimInterface& sim, uint32_t kind);

  /// Open, EnableSpi(true), SPI mode 0 and the clock: the application's
  /// bring-up in one step.
  bool BringUp(uint32_t hz = 50'000'000);

  bool Setup(int32_t*) override { return false; }
  bool Open(int32_t* out) override;
  void Close() override;
  bool EnableSpi(bool enable, int32_t* out) override;
  bool SetSelect(bool selected, int32_t* out) override;
  bool SetPort(int port, int32_t* out) override;
  bool SetSpiMode(uint32_t mode, int lsbFirst, int32_t* out) override;
  bool SetSpeed(uint32_t hz, int32_t* out) override;
  bool PutByte(uint8_t tx, uint8_t* rx, int32_t* out) override;
  bool PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx,
                 uint8_t* rx, int32_t* out) override;
  bool Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) override;
  bool Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) override;
  /// As the adapter of its kind: the second generation selects in one call.
  bool SelectsInOneCall() override { return kind == SPIKIND_RT2; }

 private:
  /// The readiness check, then one runtime call doing `work` on the bus.
  template <typename Work>
  bool Call(int32_t* out, Work work);

  SimInterface& sim_;
};

}  // namespace testsupport
