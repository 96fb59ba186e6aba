// SPDX-License-Identifier: MIT
// SectorEraseChip: the M25P/N25Q command set (RDID, RDSR, WRSR, WREN/WRDI,
// page program, sector and bulk erase, read and fast read) with its
// write-enable latch, busy rules and block protection.
#pragma once

#include <vector>

#include "sim/chip_model.h"

class SectorEraseChip : public ChipModel {
 public:
  SectorEraseChip(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults);

 private:
  enum class Command { kNone, kReadId, kReadStatus, kWriteStatus, kWriteEnable, kWriteDisable,
                       kPageProgram, kSectorErase, kBulkErase, kRead, kFastRead };

  void Decode(uint8_t opcode) override;
  size_t Exchange(TxBytes tx, uint8_t* rx, size_t n) override;
  void EndCommand() override;

  uint8_t Status() const;
  size_t LoadPage(TxBytes tx, uint8_t* rx, size_t n);
  /// A read whose data starts at byte `dataStart` of the select period.
  size_t Read(TxBytes tx, uint8_t* rx, size_t n, size_t dataStart);
  void SetLatch(bool framed, bool value, SimOp op);
  /// Program and erase need the latch, which they end.
  template <typename Action>
  void Modify(bool accepted, uint64_t ns, SimOp op, Action action);
  void WriteStatus(bool framed);
  /// The block-protect value: BP2..BP0, and BP3 on a part that has it.
  uint32_t BlockProtect() const;
  /// True when the array byte at `address` lies in the protected area.
  bool Protected(uint32_t address) const;
  void ProgramPage();
  void Erase(uint32_t start, uint32_t length);

  const uint32_t addressMask_;
  Command command_ = Command::kNone;
  bool latch_ = false;
  uint8_t statusRegister_ = 0;  // its written bits: SRWD, BP, TB
  uint8_t statusData_ = 0;      // the data byte of a write status register
  std::vector<uint8_t> page_;   // data bytes of a page program, FF where none came
  size_t readAt_ = 0;           // next array address of a read
};
