// SectorEraseChip: the M25P/N25Q command set (RDID, RDSR, WREN/WRDI, page
// program, sector and bulk erase, read) with its write-enable latch and busy
// rules.
#pragma once

#include <vector>

#include "sim/chip_model.h"

class SectorEraseChip : public ChipModel {
 public:
  SectorEraseChip(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults);

 private:
  enum class Command { kNone, kReadId, kReadStatus, kWriteEnable, kWriteDisable, kPageProgram,
                       kSectorErase, kBulkErase, kRead };

  void Decode(uint8_t opcode) override;
  size_t Exchange(TxBytes tx, uint8_t* rx, size_t n) override;
  void EndCommand() override;

  uint8_t Status() const;
  size_t LoadPage(TxBytes tx, uint8_t* rx, size_t n);
  void SetLatch(bool framed, bool value, SimOp op);
  /// Program and erase need the latch, which they end.
  template <typename Action>
  void Modify(bool framed, uint64_t ns, SimOp op, Action action);
  void ProgramPage();
  void Erase(uint32_t start, uint32_t length);

  const uint32_t addressMask_;
  Command command_ = Command::kNone;
  bool latch_ = false;
  std::vector<uint8_t> page_;  // data bytes of a page program, FF where none came
  size_t readAt_ = 0;          // next array address of a read
};
