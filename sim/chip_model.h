// SPDX-License-Identifier: MIT
// ChipModel: a flash chip as an SPI bus slave. It sees chip-select edges and
// the bytes clocked in, answers the bytes clocked out, and keeps the one copy
// of the chip's contents. Each command family derives from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "sim/sim_chip_facts.h"
#include "sim/sim_stats.h"
#include "sim/virtual_clock.h"

/// Bytes the host clocks in during one transfer: a buffer, or one fill byte
/// repeated.
struct TxBytes {
  const uint8_t* data;
  bool repeated;

  uint8_t operator[](size_t i) const { return repeated ? data[0] : data[i]; }
  TxBytes From(size_t i) const { return repeated ? *this : TxBytes{data + i, false}; }
};

/// Faults, overrides and pin levels a user or a test can ask of the chip.
struct ChipFaults {
  std::optional<std::array<uint8_t, 3>> id;  // answered in place of the code
  bool stuck = false;  // never leaves busy after its first program or erase
  bool idGlitch = false;  // a loose wire: the second identification read drops a bit of its last byte
  std::optional<uint32_t> readGlitch;  // the second read of this array byte drops a bit
  // The protection the part starts with (its image file holds the array
  // only): a sector-erase part's status protection bits (SRWD, BP, TB), or
  // the DataFlash's mask of protected sectors (bit n: sector n), which also
  // enables its sector protection. None: unprotected.
  std::optional<uint32_t> protect;
  bool writeProtectPin = false;  // W# (DataFlash: WP) held low
  bool quadEnable = false;       // serial NOR: the QE bit set at power-up
  // Serial NOR: SFDP answered instead of the part's tables (past the end FF);
  // none: the part's own.
  std::optional<std::vector<uint8_t>> sfdp;
  bool noSfdp = false;  // serial NOR: 5Ah is not answered
  // Array addresses (linear, as Contents()) that a program covering them
  // leaves different from what it was sent; see ChipModel::DropBits.
  std::set<uint32_t> flips;
};

class ChipModel {
 public:
  ChipModel(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults);
  virtual ~ChipModel() = default;
  ChipModel(const ChipModel&) = delete;
  ChipModel& operator=(const ChipModel&) = delete;

  /// Chip select falling edge: a new command begins.
  void Select();
  /// Chip select rising edge: the command of the select period ends, and
  /// program and erase commands take effect.
  void Deselect();
  /// Clocks up to `n` bytes in from `tx` and writes those clocked out to `rx`
  /// (unless null). Returns how many it took, at least one: the bus charges
  /// their time before it offers the rest, so that within one long transfer
  /// the chip sees time pass (a busy period can end in a status read).
  ///
  /// Above the command's clock limit the part's output does not settle
  /// before the host samples it: every byte the chip drives then reads as
  /// its complement. That differs from the true byte in every bit, so a
  /// read clocked too fast never matches the array, and a status byte never
  /// reads as the part's status.
  size_t Clock(TxBytes tx, uint8_t* rx, size_t n);

  /// The array, laid out linearly (a DataFlash page after page); the size of
  /// the chip.
  std::vector<uint8_t>& Contents() { return memory_; }
  const SimChipFacts& Facts() const { return facts_; }
  /// Commands by kind so far.
  const std::array<uint64_t, kSimOpCount>& Ops() const { return ops_; }

 protected:
  /// The first byte of a select period.
  virtual void Decode(uint8_t opcode) = 0;
  /// Bytes after the first; Position() is the index of tx[0] in the period.
  /// tx and rx may be one buffer, so each byte is taken in before its answer
  /// is written.
  virtual size_t Exchange(TxBytes tx, uint8_t* rx, size_t n) = 0;
  /// Chip select rose after Position() bytes (at least one).
  virtual void EndCommand() = 0;

  size_t Position() const { return position_; }
  /// Shifts one address byte into Address(); the chip drives nothing meanwhile.
  size_t TakeAddressByte(TxBytes tx, uint8_t* rx);
  uint32_t Address() const { return address_; }
  /// Byte `i` of the identification answer, FF past what the part drives.
  /// Byte `i` of the identification answer; byte 0 starts a new read.
  uint8_t IdByte(size_t i);
  bool Busy() const { return clock_.Now() < busyUntilNs_; }
  /// Runs a program or erase whose command the part accepted (framing, latch
  /// and protection allow it) and keeps the part busy for `ns`, for ever on a
  /// stuck part. One not accepted counts as ignored.
  template <typename Action>
  void ProgramOrErase(bool accepted, uint64_t ns, SimOp op, Action action) {
    if (!accepted) return Count(SimOp::kIgnored);
    action();
    StartProgramOrErase(ns);
    Count(op);
  }
  /// Any busy period other than a program or erase.
  void StartBusy(uint64_t ns) { busyUntilNs_ = clock_.Now() + ns; }
  void Count(SimOp op) { ++ops_[static_cast<size_t>(op)]; }
  const ChipFaults& Faults() const { return faults_; }
  /// The flip fault: `data` holds the bytes a program is about to leave at
  /// array address `start` onwards; each flip address among them whose byte
  /// `covered(i)` says came from the host gets DroppedBits of it instead.
  template <typename Covered>
  void DropBits(uint32_t start, std::span<uint8_t> data, Covered covered) const {
    for (auto at = faults_.flips.lower_bound(start); at != faults_.flips.end() && *at - start < data.size();
         ++at) {
      if (covered(*at - start)) data[*at - start] = DroppedBits(data[*at - start]);
    }
  }
  /// What a cell that drops a bit holds after being programmed with `sent`:
  /// the lowest bit `sent` clears stays 1 (00 reads 01, F0 reads F1); with
  /// nothing to clear (FF), a bit that should have stayed 1 is cleared (FE).
  /// Either way it differs from `sent`.
  static uint8_t DroppedBits(uint8_t sent) {
    return sent == 0xFF ? 0xFE : static_cast<uint8_t>(sent | (~sent & (sent + 1)));
  }
  /// Copies `count` array bytes from `start` to `rx` (unless null), running on
  /// from address 0 after the last byte; returns the address after the last.
  uint32_t ReadArray(uint32_t start, uint8_t* rx, size_t count);

  /// The line floats while the chip does not drive it; the pull-up reads FF.
  void Float(uint8_t* rx, size_t n);
  void Drive(uint8_t* rx, uint8_t value) {
    driven_ = true;
    if (rx) *rx = value;
  }
  /// Called from Decode: the command of this select period answers correctly
  /// only up to `hz` (its plain read; every other command has the part's
  /// general limit).
  void LimitClock(uint32_t hz) { limitHz_ = hz; }

  std::vector<uint8_t> memory_;

 private:
  void StartProgramOrErase(uint64_t ns);

  const SimChipFacts& facts_;
  const VirtualClock& clock_;
  const ChipFaults faults_;
  uint64_t busyUntilNs_ = 0;
  uint32_t limitHz_ = 0;  // of the command in progress
  uint32_t idReads_ = 0;   // identification reads so far
  uint32_t glitchReads_ = 0;  // reads of the readGlitch byte so far
  static constexpr uint8_t kGlitchBit = 0x10;
  bool driven_ = false;   // the chip drove the bytes of the last exchange
  bool selected_ = false;
  size_t position_ = 0;
  uint32_t address_ = 0;
  std::array<uint64_t, kSimOpCount> ops_{};
};
