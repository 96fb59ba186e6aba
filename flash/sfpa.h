// SPDX-License-Identifier: MIT
// SFPA: the programmer for the sector-erase command set (the M25P/N25Q parts
// and today's serial NOR families): write enable before every erase and page
// program, then a status poll.
#pragma once

#include "flash/sfprg.h"

/// Takes every size from its device row. With a controller that selects in
/// one call, the write enable, status read, sector erase and page program
/// each go out as one PutSelect.
class SFPA : public SFPRG {
 public:
  /// Programs `count` bytes that lie within one page, then waits for the chip.
  [[nodiscard]] bool ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source) override;
  [[nodiscard]] bool ReadStatus(SPICTL* ctl, uint8_t* status) override;
  /// Erases the smallest erase unit holding `address`, then waits for the chip.
  [[nodiscard]] bool EraseSector(SPICTL* ctl, uint32_t address) override;
  [[nodiscard]] bool EraseUnit(SPICTL* ctl, const EraseCommand& command) override;
  /// The older parts' one unit, the first command carrying the range's start;
  /// the newer parts' largest aligned types inside, the smallest at the edges.
  std::vector<EraseCommand> PlanErase(uint32_t start, uint32_t end) const override;
  [[nodiscard]] bool EraseAll(SPICTL* ctl) override;
  /// Erases every unit holding a byte of the range that lies inside the device.
  [[nodiscard]] bool EraseRange(SPICTL* ctl, uint32_t start, int32_t length) override;
  [[nodiscard]] bool Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) override;
  [[nodiscard]] bool BeginWrite(SPICTL* ctl) override;
  /// Programs the part of the range inside the device page by page; does not erase.
  [[nodiscard]] bool Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) override;
  [[nodiscard]] bool EndWrite(SPICTL* ctl) override;
  /// The protection bits of the status registers, read as the device row
  /// gives them: one area at the top of the chip, or at its bottom with TB
  /// set, or everything else with CMP set.
  [[nodiscard]] bool ReadProtection(SPICTL* ctl, WriteProtection* protection) override;
  /// The older parts: write enable, the status register written with 00, a
  /// wait. The newer ones: their registers read, the protection bits
  /// cleared and written back, read again; false when quad enable changed.
  [[nodiscard]] bool ClearProtection(SPICTL* ctl) override;
  /// The smallest erase type.
  uint32_t GetEraseUnit() override;
  /// Sector erase (with `erase`), then a page program for each page that changes.
  [[nodiscard]] bool RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents, const uint8_t* current,
                   bool erase) override;

 private:
  [[nodiscard]] bool WriteEnable(SPICTL* ctl, bool oneCall);
  [[nodiscard]] bool ReadRegister(SPICTL* ctl, uint8_t opcode, uint8_t* value);
  /// Status register 1 in the low byte, the row's second register in the high one.
  [[nodiscard]] bool ReadStatusWord(SPICTL* ctl, uint16_t* word);
  /// Writes the registers whose bits differ between `before` and `after`.
  [[nodiscard]] bool WriteStatusWord(SPICTL* ctl, uint16_t before, uint16_t after);
  /// Bytes the block-protect value of `word` protects, before CMP.
  uint32_t ProtectedBytes(uint16_t word) const;
  const EraseType* TypeOfSize(uint32_t size) const;
  /// True when the type's command can carry every address of the part.
  [[nodiscard]] bool Reaches(const EraseType& type) const;
};
