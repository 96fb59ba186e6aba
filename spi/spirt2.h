// SPDX-License-Identifier: MIT
// SPIRT2: the SPI controller over the second-generation device runtime
// (three libraries: device manager, SPI port access, device management).
#pragma once

#include "platform/platform.h"
#include "runtime/runtime_api.h"
#include "spi/spictl.h"

/// Loads its three runtime libraries in Init and maps each operation onto
/// one runtime call. The only kind that offers configuration reset and the
/// one-call select-and-transfer PutSelect.
class SPIRT2 : public SPICTL {
 public:
  SPIRT2();

  [[nodiscard]] bool Setup(int32_t* out) override;
  /// Releases the runtime libraries if this adapter loaded them, then the base Term.
  void Term() override;
  [[nodiscard]] bool Open(int32_t* out) override;
  void Close() override;
  [[nodiscard]] bool EnableSpi(bool enable, int32_t* out) override;
  [[nodiscard]] bool SetSelect(bool selected, int32_t* out) override;
  [[nodiscard]] bool SetPort(int port, int32_t* out) override;
  [[nodiscard]] bool SetSpiMode(uint32_t mode, int lsbFirst, int32_t* out) override;
  /// Keeps in speedHz the clock the runtime granted, not the request.
  [[nodiscard]] bool SetSpeed(uint32_t hz, int32_t* out) override;
  [[nodiscard]] bool PutByte(uint8_t tx, uint8_t* rx, int32_t* out) override;
  [[nodiscard]] bool PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx, uint8_t* rx,
                 int32_t* out) override;
  [[nodiscard]] bool Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) override;
  [[nodiscard]] bool Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) override;
  [[nodiscard]] bool SelectsInOneCall() override { return true; }
  uint32_t LargestWholeTransfer() override;
  [[nodiscard]] bool GetMgmtCaps(uint32_t* caps, int32_t* out) override;
  [[nodiscard]] bool ConfigReset(bool asserted, int32_t* out) override;

  /// Loads the three libraries (unless `reuse`, which looks up in those
  /// already held) and all thirteen entry points. On failure (4017 or 4019)
  /// nothing stays loaded.
  [[nodiscard]] virtual bool Init(bool reuse, int32_t* out);
  virtual uint32_t GetHandle() { return hif; }

 private:
  [[nodiscard]] bool LoadLibraries(int32_t* out);
  [[nodiscard]] bool LookUpEntries();
  void ReleaseLibraries();

  uint32_t hif = 0;
  platform::Module deviceLibrary = nullptr;
  platform::Module adminLibrary = nullptr;
  platform::Module spiLibrary = nullptr;
  int32_t port = 0;
  HubOpenFn hubOpen = nullptr;
  HubCloseFn hubClose = nullptr;
  AdmGetCapsFn admGetCaps = nullptr;
  AdmConfigResetFn admConfigReset = nullptr;
  SerEnableFn serEnable = nullptr;
  SerDisableFn serDisable = nullptr;
  SerSetSelectFn serSetSelect = nullptr;
  SerSetModeFn serSetMode = nullptr;
  SerGetClockFn serGetClock = nullptr;
  SerSetClockFn serSetClock = nullptr;
  SerXferByteFn serXferByte = nullptr;
  SerXferFn serXfer = nullptr;
  SerReadFn serRead = nullptr;
  SerGetWindowLimitFn serGetWindowLimit = nullptr;  // optional: older runtimes lack it
};
