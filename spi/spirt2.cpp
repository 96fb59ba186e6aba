// SPDX-License-Identifier: MIT
// The second-generation runtime adapter.
#include "spi/spirt2.h"

#include "spi/runtime_loader.h"

// The adapter hands the runtime's capability bits on as they are.
static_assert(SPICAP_CONFIG_RESET == RT_CAP_CONFIG_RESET);

SPIRT2::SPIRT2() { kind = SPIKIND_RT2; }

bool SPIRT2::Setup(int32_t*) { return false; }

bool SPIRT2::LoadLibraries(int32_t* out) {
  platform::Module* const slots[] = {&deviceLibrary, &spiLibrary, &adminLibrary};
  const char* const files[] = {RT2_DEVICE_LIBRARY, RT2_SPI_LIBRARY, RT2_ADMIN_LIBRARY};
  for (int i = 0; i < 3; ++i) {
    *slots[i] = LoadRuntimeLibrary(files[i]);
    if (!*slots[i]) {
      *out = SPIERR_NO_LIBRARY;
      return false;
    }
  }
  flags.SetFlags(SPIF_LIBS);
  return true;
}

bool SPIRT2::LookUpEntries() {
  // Every look-up runs, so each field is either found or null.
  bool all = LookUp(deviceLibrary, "HubOpen", hubOpen);
  all &= LookUp(deviceLibrary, "HubClose", hubClose);
  all &= LookUp(adminLibrary, "AdmGetCaps", admGetCaps);
  all &= LookUp(adminLibrary, "AdmConfigReset", admConfigReset);
  all &= LookUp(spiLibrary, "SerEnable", serEnable);
  all &= LookUp(spiLibrary, "SerDisable", serDisable);
  all &= LookUp(spiLibrary, "SerSetSelect", serSetSelect);
  all &= LookUp(spiLibrary, "SerSetMode", serSetMode);
  all &= LookUp(spiLibrary, "SerGetClock", serGetClock);
  all &= LookUp(spiLibrary, "SerSetClock", serSetClock);
  all &= LookUp(spiLibrary, "SerXferByte", serXferByte);
  all &= LookUp(spiLibrary, "SerXfer", serXfer);
  all &= LookUp(spiLibrary, "SerRead", serRead);
  // Optional: a runtime without it carries windows of any length whole.
  static_assert(kLongestReadCommand == RT_READ_COMMAND_MAX, "the runtime's limit holds for the commands sent");
  static_cast<void>(LookUp(spiLibrary, RT2_WINDOW_LIMIT_ENTRY, serGetWindowLimit));
  return all;
}

void SPIRT2::ReleaseLibraries() {
  for (platform::Module* m : {&deviceLibrary, &spiLibrary, &adminLibrary}) {
    platform::FreeModule(*m);
    *m = nullptr;
  }
  flags.ClearFlags(SPIF_LIBS);
}

bool SPIRT2::Init(bool reuse, int32_t* out) {
  if (!reuse && !LoadLibraries(out)) {
    ReleaseLibraries();
    return false;
  }
  if (!LookUpEntries()) {
    *out = SPIERR_ENTRY_POINT;
    ReleaseLibraries();
    return false;
  }
  *out = 0;
  return true;
}

void SPIRT2::Term() {
  if (flags.TestFlags(SPIF_LIBS)) ReleaseLibraries();
  SPICTL::Term();
}

bool SPIRT2::Open(int32_t* out) {
  // Without a loaded runtime there is nothing to open the device with.
  if (!hubOpen || hubOpen(&hif, deviceName.get()) == 0) {
    *out = SPIERR_CONNECT;
    return false;
  }
  flags.SetFlags(SPIF_OPEN);
  xferLimit = kRuntimeXferLimit;
  *out = 0;
  return true;
}

void SPIRT2::Close() {
  if (!flags.TestFlags(SPIF_OPEN)) return;
  hubClose(hif);
  flags.ClearFlags(SPIF_OPEN);
}

bool SPIRT2::SetPort(int newPort, int32_t* out) {
  port = newPort;
  *out = 0;
  return true;
}

bool SPIRT2::EnableSpi(bool enable, int32_t* out) {
  if (enable) {
    if (flags.TestFlags(SPIF_ENABLED)) return true;
    if (!serEnable || serEnable(hif, port) == 0) {
      *out = SPIERR_CONNECT;
      return false;
    }
    flags.SetFlags(SPIF_ENABLED);
    return true;
  }
  if (flags.TestFlags(SPIF_ENABLED)) {
    serDisable(hif);
    flags.ClearFlags(SPIF_ENABLED);
  }
  return true;
}

bool SPIRT2::SetSelect(bool selected, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serSetSelect(hif, selected ? RT_LINE_LOW : RT_LINE_HIGH), out);
}

bool SPIRT2::SetSpiMode(uint32_t mode, int lsb, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serSetMode(hif, mode, static_cast<uint32_t>(lsb)), out);
}

bool SPIRT2::SetSpeed(uint32_t hz, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serSetClock(hif, hz, &speedHz), out);
}

bool SPIRT2::PutByte(uint8_t tx, uint8_t* rx, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serXferByte(hif, RT_LINE_LOW, RT_LINE_LOW, tx, rx, 0), out);
}

bool SPIRT2::PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx, uint8_t* rx,
                       int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serXfer(hif, levelStart, levelEnd, tx, rx, count, 0), out);
}

bool SPIRT2::Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serXfer(hif, RT_LINE_LOW, RT_LINE_LOW, tx, rx, count, 0), out);
}

bool SPIRT2::Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(serRead(hif, RT_LINE_LOW, RT_LINE_LOW, fill, rx, count, 0), out);
}

uint32_t SPIRT2::LargestWholeTransfer() {
  uint32_t bytes = 0;
  if (!serGetWindowLimit || !CheckReady() || serGetWindowLimit(hif, &bytes) == 0) return 0;
  return bytes;
}

bool SPIRT2::GetMgmtCaps(uint32_t* caps, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(admGetCaps(hif, caps), out);
}

bool SPIRT2::ConfigReset(bool asserted, int32_t* out) {
  if (!CheckReady()) return false;
  return RuntimeCallResult(admConfigReset(hif, asserted ? 1 : 0), out);
}
