// SPDX-License-Identifier: MIT
// The first-generation runtime adapter.
#include "spi/spirt1.h"

#include "spi/runtime_loader.h"

SPIRT1::SPIRT1() { kind = SPIKIND_RT1; }

bool SPIRT1::Setup(int32_t*) { return false; }

bool SPIRT1::LookUpEntries(platform::Module module) {
  bool all = LookUp(module, "PlOpen", plOpen);
  all &= LookUp(module, "PlClose", plClose);
  all &= LookUp(module, "PlEnable", plEnable);
  all &= LookUp(module, "PlDisable", plDisable);
  all &= LookUp(module, "PlSetSelect", plSetSelect);
  all &= LookUp(module, "PlSetMode", plSetMode);
  all &= LookUp(module, "PlXferByte", plXferByte);
  all &= LookUp(module, "PlXfer", plXfer);
  all &= LookUp(module, "PlRead", plRead);
  // Optional: a runtime without it carries windows of any length whole.
  static_cast<void>(LookUp(module, RT1_WINDOW_LIMIT_ENTRY, plGetWindowLimit));
  return all;
}

bool SPIRT1::Init(platform::Module module, int32_t* out) {
  if (!module) {
    library = LoadRuntimeLibrary(RT1_LIBRARY);
    if (!library) {
      *out = SPIERR_NO_LIBRARY;
      return false;
    }
    module = library;
  }
  // A library without every entry point stays loaded until Term.
  if (!LookUpEntries(module)) {
    *out = SPIERR_ENTRY_POINT;
    return false;
  }
  *out = 0;
  return true;
}

void SPIRT1::Term() {
  if (library) {
    platform::FreeModule(library);
    library = nullptr;
  }
  SPICTL::Term();
}

bool SPIRT1::Open(int32_t* out) {
  if (!plOpen || plOpen(&hif, deviceName.get(), &status, 0) == 0) {
    *out = SPIERR_CONNECT;
    return false;
  }
  flags.SetFlags(SPIF_OPEN);
  xferLimit = kRuntimeXferLimit;
  *out = 0;
  return true;
}

void SPIRT1::Close() {
  if (!flags.TestFlags(SPIF_OPEN)) return;
  plClose(hif, &status);
  flags.ClearFlags(SPIF_OPEN);
}

bool SPIRT1::SetPort(int, int32_t* out) {
  *out = 0;
  return true;
}

bool SPIRT1::EnableSpi(bool enable, int32_t* out) {
  if (enable) {
    if (flags.TestFlags(SPIF_ENABLED)) return true;
    if (!plEnable || plEnable(hif, &status, 0) == 0) {
      *out = SPIERR_CONNECT;
      return false;
    }
    flags.SetFlags(SPIF_ENABLED);
    return true;
  }
  if (flags.TestFlags(SPIF_ENABLED)) {
    plDisable(hif, &status, 0);
    flags.ClearFlags(SPIF_ENABLED);
  }
  return true;
}

bool SPIRT1::ApplyMode(int32_t* out) {
  return RuntimeCallResult(plSetMode(hif, spiMode, lsbFirst, speedHz, &status, 0), out);
}

bool SPIRT1::SetSpiMode(uint32_t mode, int lsb, int32_t* out) {
  if (!CheckReady()) return false;
  spiMode = mode;
  lsbFirst = static_cast<uint32_t>(lsb);
  return ApplyMode(out);
}

bool SPIRT1::SetSpeed(uint32_t hz, int32_t* out) {
  if (!CheckReady()) return false;
  speedHz = hz;
  return ApplyMode(out);
}

bool SPIRT1::SetSelect(bool selected, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(plSetSelect(hif, selected ? RT_LINE_LOW : RT_LINE_HIGH, &status, 0), out);
}

bool SPIRT1::PutByte(uint8_t tx, uint8_t* rx, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(plXferByte(hif, tx, rx, &status, 0), out);
}

bool SPIRT1::PutSelect(int32_t, uint8_t, uint8_t, const uint8_t*, uint8_t*, int32_t*) { return false; }

bool SPIRT1::Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(plXfer(hif, count, tx, rx, &status, 0), out);
}

bool SPIRT1::Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(plRead(hif, count, fill, rx, &status, 0), out);
}

uint32_t SPIRT1::LargestWholeTransfer() {
  uint32_t bytes = 0;
  int32_t status = 0;
  if (!plGetWindowLimit || !CheckReady() || plGetWindowLimit(hif, &bytes, &status, 0) == 0) return 0;
  return bytes;
}
