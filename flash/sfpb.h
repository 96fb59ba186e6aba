// SPDX-License-Identifier: MIT
// SFPB: the programmer for the page-oriented DataFlash command set (the
// AT45DB081): writes go through the chip's buffer 1, which the chip then
// programs into a page with its built-in erase.
#pragma once

#include "flash/sfprg.h"

/// Callers give linear byte addresses, pages laid end to end; the chip is
/// addressed by page number and byte-in-page offset (ToDeviceAddress).
/// There is no sector erase: EraseRange is refused and EraseSector fails.
class SFPB : public SFPRG {
 public:
  /// Writes `count` bytes that lie within one page into buffer 1, programs
  /// the buffer into the page, then waits for the chip. A piece that covers
  /// only part of the page first loads the page into buffer 1, so the rest
  /// of the page keeps its content.
  [[nodiscard]] bool ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source) override;
  [[nodiscard]] bool ReadStatus(SPICTL* ctl, uint8_t* status) override;
  [[nodiscard]] bool EraseAll(SPICTL* ctl) override;
  /// Prints the refusal and returns false; nothing is sent.
  [[nodiscard]] bool EraseRange(SPICTL* ctl, uint32_t start, int32_t length) override;
  [[nodiscard]] bool Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) override;
  [[nodiscard]] bool BeginWrite(SPICTL* ctl) override;
  /// Programs the part of the range inside the device page by page.
  [[nodiscard]] bool Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) override;
  [[nodiscard]] bool EndWrite(SPICTL* ctl) override;
  /// The status register, and with sector protection enabled (status bit 1)
  /// the sector protection register: sector 0 in its two parts (its first
  /// block, 0a, and the rest, 0b), then each sector.
  [[nodiscard]] bool ReadProtection(SPICTL* ctl, WriteProtection* protection) override;
  /// The disable sector protection sequence, 3D 2A 7F 9A.
  [[nodiscard]] bool ClearProtection(SPICTL* ctl) override;
  /// The page: the page program erases it first.
  uint32_t GetEraseUnit() override;
  /// The whole page into buffer 1, then the buffer programmed into the page
  /// with the built-in erase (83), or without it (88) when `erase` is false
  /// and the page changes at all.
  [[nodiscard]] bool RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents, const uint8_t* current,
                   bool erase) override;

  /// The chip's address of a linear byte address: the page number shifted
  /// left by pageShift, plus the byte-in-page offset.
  uint32_t ToDeviceAddress(uint32_t address) const;

 private:
  [[nodiscard]] bool LoadPageIntoBuffer(SPICTL* ctl, uint32_t pageStart);
};
