// SPDX-License-Identifier: MIT
// SFPA: the programmer for the sector-erase command set (the M25P/N25Q parts):
// write enable before every erase and page program, then a status poll.
#pragma once

#include "flash/sfprg.h"

/// Takes every size from its device row. With a controller that selects in
/// one call, the write enable, status read, sector erase and page program
/// each go out as one PutSelect.
class SFPA : public SFPRG {
 public:
  /// Programs `count` bytes that lie within one page, then waits for the chip.
  bool ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source) override;
  bool ReadStatus(SPICTL* ctl, uint8_t* status) override;
  /// Erases the sector holding `address`, then waits for the chip.
  bool EraseSector(SPICTL* ctl, uint32_t address) override;
  bool EraseAll(SPICTL* ctl) override;
  /// Erases every sector holding a byte of the range that lies inside the device.
  bool EraseRange(SPICTL* ctl, uint32_t start, int32_t length) override;
  bool Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) override;
  bool BeginWrite(SPICTL* ctl) override;
  /// Programs the part of the range inside the device page by page; does not erase.
  bool Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) override;
  bool EndWrite(SPICTL* ctl) override;
  /// The block-protect bits of the status register, read as the device row
  /// gives them: one area at the top of the chip, or at its bottom with TB set.
  bool ReadProtection(SPICTL* ctl, WriteProtection* protection) override;
  /// Write enable, then the status register written with 00, then a wait.
  bool ClearProtection(SPICTL* ctl) override;
  /// The sector.
  uint32_t GetEraseUnit() override;
  /// Sector erase (with `erase`), then a page program for each page that changes.
  bool RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents, const uint8_t* current,
                   bool erase) override;

 private:
  bool WriteEnable(SPICTL* ctl, bool oneCall);
};
