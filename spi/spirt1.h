// SPDX-License-Identifier: MIT
// SPIRT1: the SPI controller over the first-generation device runtime (one library).
#pragma once

#include "platform/platform.h"
#include "runtime/runtime_api.h"
#include "spi/spictl.h"

/// Maps each operation onto one call of the first-generation runtime, which
/// sets mode, shift order and clock in one call, so this adapter keeps all
/// three. It has no management calls and no select-bracketed transfer:
/// PutSelect always fails.
class SPIRT1 : public SPICTL {
 public:
  SPIRT1();

  [[nodiscard]] bool Setup(int32_t* out) override;
  /// Releases the runtime library if this adapter loaded it, then the base Term.
  void Term() override;
  [[nodiscard]] bool Open(int32_t* out) override;
  void Close() override;
  [[nodiscard]] bool EnableSpi(bool enable, int32_t* out) override;
  [[nodiscard]] bool SetSelect(bool selected, int32_t* out) override;
  /// No port number reaches this runtime: accepted and ignored.
  [[nodiscard]] bool SetPort(int port, int32_t* out) override;
  [[nodiscard]] bool SetSpiMode(uint32_t mode, int lsbFirst, int32_t* out) override;
  /// Keeps the request in speedHz; the runtime reports no granted clock.
  [[nodiscard]] bool SetSpeed(uint32_t hz, int32_t* out) override;
  [[nodiscard]] bool PutByte(uint8_t tx, uint8_t* rx, int32_t* out) override;
  [[nodiscard]] bool PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx, uint8_t* rx,
                 int32_t* out) override;
  [[nodiscard]] bool Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) override;
  [[nodiscard]] bool Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) override;
  /// The runtime's window limit, where it offers the optional entry point.
  uint32_t LargestWholeTransfer() override;

  /// Looks the nine entry points up in `module`, or, when it is null, in the
  /// runtime library that Init loads and holds until Term (4017 when it
  /// cannot be loaded, 4019 when an entry point is missing).
  [[nodiscard]] virtual bool Init(platform::Module module, int32_t* out);
  virtual uint32_t GetHandle() { return hif; }

 private:
  [[nodiscard]] bool LookUpEntries(platform::Module module);
  [[nodiscard]] bool ApplyMode(int32_t* out);

  uint32_t hif = 0;
  platform::Module library = nullptr;
  // The runtime's own error code, which nothing here reads.
  int32_t status = 0;
  PlOpenFn plOpen = nullptr;
  PlCloseFn plClose = nullptr;
  PlEnableFn plEnable = nullptr;
  PlDisableFn plDisable = nullptr;
  PlSetSelectFn plSetSelect = nullptr;
  PlSetModeFn plSetMode = nullptr;
  PlXferByteFn plXferByte = nullptr;
  PlXferFn plXfer = nullptr;
  PlReadFn plRead = nullptr;
  PlGetWindowLimitFn plGetWindowLimit = nullptr;  // optional: older runtimes lack it
};
