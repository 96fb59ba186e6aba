// SPDX-License-Identifier: MIT
// MpsseCommands: one USB write's worth of commands for an FTDI chip's MPSSE
// engine, built command by command, with the reply bytes they ask for and
// the bus time they take.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

/// Data shifting is mode 0 or 3, most significant bit first: out on the
/// falling clock edge, in on the rising one. Every count is at most
/// kMaxShift bytes, the most one command carries.
class MpsseCommands {
 public:
  static constexpr size_t kMaxShift = 65536;

  /// Pins of the low (ADBUS) or high (ACBUS) byte: levels and which ones drive.
  void SetPins(bool highByte, uint8_t levels, uint8_t outputs);
  /// SK = 60 MHz / ((1 + divisor) * 2), with divide-by-5 off.
  void SetDivisor(uint16_t divisor);
  /// Commands without arguments (clock modes, loopback, send immediate, the
  /// bad command that marks the end of a reply).
  void Plain(uint8_t opcode);
  /// Clocks `count` bytes out, from `tx` or copies of `fill`; with `read`
  /// what comes in is part of the reply.
  void Shift(const uint8_t* tx, uint8_t fill, size_t count, bool read);
  /// Clocks `count` bytes in; the data line out keeps its level.
  void ShiftIn(size_t count);
  /// Runs the clock for `count` bytes without moving data.
  void IdleClocks(size_t count);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t ReplyBytes() const { return replyBytes_; }
  /// Bytes' worth of clock cycles the commands run on the bus.
  uint64_t BusBytes() const { return busBytes_; }
  bool Empty() const { return bytes_.empty(); }
  void Clear();
  /// Drops the commands from byte `size` on (none of them asks for a reply).
  void Truncate(size_t size) { bytes_.resize(std::min(size, bytes_.size())); }

 private:
  void Length(size_t count);

  std::vector<uint8_t> bytes_;
  size_t replyBytes_ = 0;
  uint64_t busBytes_ = 0;
};
