// SFPRG: the flash programmer. The base class itself is the generic
// programmer, which can only read the identification code; SFPA and SFPB
// drive the two command sets.
#pragma once

#include <cstdint>

#include "flash/flashdev.h"

class SPICTL;

/// Every operation is handed the controller to use; a programmer never owns
/// it. Counts of zero or less mean there is nothing to do. Boolean results
/// are true on success; the controller's code of the last call is in spiError.
class SFPRG {
 public:
  SFPRG();
  virtual ~SFPRG() = default;

  virtual bool ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source);
  /// Polls the status back to back until the device reports ready; false
  /// when a status read fails or the device stays busy past the time limit.
  virtual bool WaitReady(SPICTL* ctl);
  virtual bool Init();
  virtual void Term();
  virtual void SetDevice(const FLASHDEV& row);
  /// Reads the three identification bytes; `id` is written only on success.
  virtual bool ReadId(SPICTL* ctl, uint8_t id[3]);
  virtual bool ReadStatus(SPICTL* ctl, uint8_t* status);
  virtual bool EraseSector(SPICTL* ctl, uint32_t address);
  virtual bool EraseAll(SPICTL* ctl);
  virtual bool EraseRange(SPICTL* ctl, uint32_t start, int32_t length);
  virtual bool Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination);
  virtual bool BeginWrite(SPICTL* ctl);
  virtual bool Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source);
  virtual bool EndWrite(SPICTL* ctl);
  virtual uint32_t GetSize();

  const FLASHDEV& GetDevice() const { return device; }
  int32_t GetSpiError() const { return spiError; }

 protected:
  int32_t spiError = 0;
  FLASHDEV device;
};
