// DataFlashChip: the AT45DB command set through SRAM buffer 1 (buffer write
// and read, buffer to page with and without erase, page to buffer, page,
// block and chip erase, continuous array read, status, RDID).
#pragma once

#include <vector>

#include "sim/chip_model.h"

class DataFlashChip : public ChipModel {
 public:
  DataFlashChip(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults);

 private:
  enum class Command { kNone, kReadId, kStatus, kBufferWrite, kBufferRead, kBufferReadSlow,
                       kBufferToPage, kBufferToPageNoErase, kPageToBuffer, kPageErase,
                       kBlockErase, kChipErase, kRead };

  void Decode(uint8_t opcode) override;
  size_t Exchange(TxBytes tx, uint8_t* rx, size_t n) override;
  void EndCommand() override;

  uint8_t Status() const;
  /// The page an address names; page bits above the device are ignored.
  uint32_t PageOf(uint32_t address) const;
  /// The byte-in-page an address names.
  uint32_t OffsetOf(uint32_t address) const;
  uint8_t* Page(uint32_t page) { return memory_.data() + size_t{page} * buffer_.size(); }
  size_t WriteBuffer(TxBytes tx, uint8_t* rx, size_t n, size_t dataStart);
  size_t ReadBuffer(uint8_t* rx, size_t n, size_t dataStart);
  size_t ReadMain(uint8_t* rx, size_t n);

  const uint32_t offsetBits_;
  Command command_ = Command::kNone;
  // Its power-up content is undefined on the part; zeros make a host that
  // relies on it visible.
  std::vector<uint8_t> buffer_;
  size_t cursor_ = 0;  // next buffer offset or array byte of a running transfer
};
