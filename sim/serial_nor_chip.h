// SPDX-License-Identifier: MIT
// SerialNorChip: today's serial NOR command set as each part's SerialNorFacts
// row describes it: identification and SFDP, reads and page program in 3- and
// 4-byte addressing, 4/32/64 KiB and chip erase, the status and configuration
// registers with their protection table, block locks, flag status and error
// bits.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/chip_model.h"

class SerialNorChip : public ChipModel {
 public:
  SerialNorChip(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults);

 private:
  enum class Command {
    kNone, kReadId, kReadSfdp, kReadRegister, kReadFlags, kReadAddress, kWriteRegister,
    kWriteAddress, kWriteEnable, kWriteDisable, kVolatileEnable, kEnter4Byte, kExit4Byte,
    kRead, kFastRead, kPageProgram, kErase, kChipErase, kLock, kUnlock, kReadLock,
    kLockAll, kUnlockAll, kClearFlags, kClearErrors
  };
  /// The area BP, TB and SEC name: [low, high).
  struct Area {
    uint32_t low;
    uint32_t high;
  };

  void Decode(uint8_t opcode) override;
  size_t Exchange(TxBytes tx, uint8_t* rx, size_t n) override;
  void EndCommand() override;

  /// Decodes what the part serves while busy (its register reads, and the
  /// command that clears an error that holds it busy); false for the rest.
  bool DecodeRegisterRead(uint8_t opcode);
  bool DecodeErase(uint8_t opcode);
  /// A command with an address in the current mode, or `bytes` always.
  void Addressed(Command command, size_t bytes);
  bool Has(const NorBit& bit) const { return bit.mask != 0; }
  bool IsSet(const NorBit& bit) const { return Has(bit) && (registers_[Index(bit.reg)] & bit.mask) != 0; }
  static size_t Index(NorReg reg) { return static_cast<size_t>(reg); }
  /// Busy with a program or erase, or held busy by an error bit.
  bool Working() const { return Busy() || errorHold_; }
  uint8_t RegisterValue(NorReg reg) const;
  uint8_t FlagStatus() const;
  /// The array address of the command: 3-byte addresses take their high bits
  /// from the address register; bits above the size are ignored.
  uint32_t ArrayAddress() const;
  size_t Read(TxBytes tx, uint8_t* rx, size_t n);
  size_t ReadSfdp(TxBytes tx, uint8_t* rx, size_t n);
  size_t LoadPage(TxBytes tx, uint8_t* rx, size_t n);

  void WriteRegister();
  [[nodiscard]] bool RegistersWritable() const;
  void WriteAddressRegister();
  void ChangeMode(bool fourByte, SimOp op);
  /// A program or erase over [start, start + length): refused when any byte
  /// of it is protected (the part then flags it as its datasheet says), run
  /// otherwise.
  template <typename Action>
  void Modify(uint32_t start, uint32_t length, uint64_t ns, SimOp op, bool program, Action action);
  void Refuse(bool program);
  void EndErase();
  void ProgramPage();
  void SetLocks(bool locked);

  [[nodiscard]] bool Protected(uint32_t start, uint32_t length) const;
  Area ProtectedArea() const;
  size_t LockIndex(uint32_t address) const;

  const SerialNorFacts& nor_;
  const uint32_t addressMask_;
  std::span<const uint8_t> sfdp_;
  bool sfdpAnswered_;
  std::array<uint8_t, kNorRegCount> registers_{};
  Command command_ = Command::kNone;
  size_t addressBytes_ = 3;
  size_t dataStart_ = 4;           // select-period byte where data begins
  NorReg target_ = NorReg::kStatus1;  // register of a register read or write
  const NorEraseFacts* erase_ = nullptr;
  std::array<uint8_t, 2> data_{};  // data bytes of a register write
  bool latch_ = false;
  bool volatileNext_ = false;      // 50h: the next register write is volatile
  bool fourByte_ = false;
  uint8_t addressRegister_ = 0;
  uint8_t flagErrors_ = 0;         // Micron flag status error bits
  uint8_t errorBits_ = 0;          // Spansion E_ERR, P_ERR
  bool errorHold_ = false;         // Spansion: WIP held until 30h
  std::vector<uint8_t> locks_;     // Winbond individual block locks
  std::vector<uint8_t> page_;
  size_t cursor_ = 0;              // next array or SFDP address of a read
};
