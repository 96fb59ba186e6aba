// SPDX-License-Identifier: MIT
// The in-process SPI controller over a simulated interface device.
#include "testsupport/sim_spictl.h"

namespace testsupport {

namespace {
size_t Length(int32_t count) { return count > 0 ? static_cast<size_t>(count) : 0; }
}  // namespace

SimSpiCtl::SimSpiCtl(SimInterface& sim, uint32_t kind) : sim_(sim) { this->kind = kind; }

bool SimSpiCtl::BringUp(uint32_t hz) {
  int32_t out = 0;
  return Open(&out) && EnableSpi(true, &out) && SetSpiMode(0, 0, &out) && SetSpeed(hz, &out);
}

template <typename Work>
bool SimSpiCtl::Call(int32_t* out, Work work) {
  if (!CheckReady()) return false;
  if (!sim_.BeginCall()) {
    *out = SPIERR_CALL_FAILED;
    return false;
  }
  work();
  *out = 0;
  return true;
}

bool SimSpiCtl::Open(int32_t* out) {
  if (!sim_.BeginCall()) {
    *out = SPIERR_CONNECT;
    return false;
  }
  flags.SetFlags(SPIF_OPEN);
  xferLimit = 4096;
  *out = 0;
  return true;
}

void SimSpiCtl::Close() {
  if (!flags.TestFlags(SPIF_OPEN)) return;
  (void)sim_.BeginCall();
  flags.ClearFlags(SPIF_OPEN);
}

bool SimSpiCtl::EnableSpi(bool enable, int32_t* out) {
  if (enable == flags.TestFlags(SPIF_ENABLED)) return true;
  const bool answered = sim_.BeginCall();
  // A failed disable is ignored, as the runtime adapters ignore it.
  if (!enable) {
    flags.ClearFlags(SPIF_ENABLED);
    return true;
  }
  if (!answered) {
    *out = SPIERR_CONNECT;
    return false;
  }
  flags.SetFlags(SPIF_ENABLED);
  return true;
}

bool SimSpiCtl::SetSelect(bool selected, int32_t* out) {
  return Call(out, [&] { sim_.SetSelectLine(!selected); });
}

bool SimSpiCtl::SetPort(int, int32_t* out) {
  *out = 0;
  return true;
}

bool SimSpiCtl::SetSpiMode(uint32_t mode, int lsb, int32_t* out) {
  return Call(out, [&] {
    spiMode = mode;
    lsbFirst = static_cast<uint32_t>(lsb);
  });
}

bool SimSpiCtl::SetSpeed(uint32_t hz, int32_t* out) {
  return Call(out, [&] { speedHz = sim_.SetClock(hz); });
}

bool SimSpiCtl::PutByte(uint8_t tx, uint8_t* rx, int32_t* out) {
  return Call(out, [&] { sim_.Transfer(&tx, rx, 1); });
}

bool SimSpiCtl::PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx,
                          uint8_t* rx, int32_t* out) {
  if (kind != SPIKIND_RT2) return false;
  return Call(out, [&] {
    sim_.SetSelectLine(levelStart != 0);
    sim_.Transfer(tx, rx, Length(count));
    sim_.SetSelectLine(levelEnd != 0);
  });
}

bool SimSpiCtl::Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) {
  return Call(out, [&] { sim_.Transfer(tx, rx, Length(count)); });
}

bool SimSpiCtl::Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) {
  return Call(out, [&] { sim_.TransferFill(fill, rx, Length(count)); });
}

}  // namespace testsupport
