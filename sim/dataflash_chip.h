// SPDX-License-Identifier: MIT
// DataFlashChip: the AT45DB command set through SRAM buffer 1 (buffer write
// and read, buffer to page with and without erase, page to buffer, page,
// block and chip erase, continuous array read at low and high frequency,
// status, RDID) with sector protection: its register, the commands that
// enable and disable it, and the WP pin.
#pragma once

#include <vector>

#include "sim/chip_model.h"

class DataFlashChip : public ChipModel {
 public:
  DataFlashChip(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults);

 private:
  enum class Command { kNone, kReadId, kStatus, kBufferWrite, kBufferRead, kBufferReadSlow,
                       kBufferToPage, kBufferToPageNoErase, kPageToBuffer, kPageErase,
                       kBlockErase, kChipErase, kRead, kFastRead, kProtect, kProtectRead };

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
  size_t ReadMain(uint8_t* rx, size_t n, size_t dataStart);
  size_t TakeRegisterData(TxBytes tx, uint8_t* rx, size_t n);
  size_t ReadRegister(uint8_t* rx, size_t n);
  /// Buffer 1 into page `page`, after erasing it or only clearing bits.
  void ProgramPage(uint32_t page, bool erase);
  /// The four-byte protection commands (3D 2A 7F xx).
  void EndProtectCommand();
  /// Sector protection is on: enabled by command or by the WP pin.
  bool ProtectionOn() const;
  /// True when protection is on and the register protects the sector that
  /// holds `page`.
  bool PageProtected(uint32_t page) const;

  const uint32_t offsetBits_;
  Command command_ = Command::kNone;
  // Its power-up content is undefined on the part; zeros make a host that
  // relies on it visible.
  std::vector<uint8_t> buffer_;
  size_t cursor_ = 0;  // next buffer offset or array byte of a running transfer
  bool protectionEnabled_;  // by command; the WP pin enables it as well
  // The sector protection register, a byte per sector. It is non-volatile on
  // the part; the model takes it, like the enabled state, from the faults
  // at power-up.
  std::vector<uint8_t> protectRegister_;
  std::vector<uint8_t> registerData_;  // data bytes of a register program
  size_t registerDataCount_ = 0;
};
