// SPDX-License-Identifier: MIT
// MPSSE command bytes.
#include "runtime/mpsse_commands.h"

namespace {

// Data shifting: bit 0 out on the falling edge, bit 4 out, bit 5 in (on the
// rising edge, as bit 2 clear says); bit 3 clear, most significant bit first.
constexpr uint8_t kShiftOut = 0x11;
constexpr uint8_t kShiftIn = 0x20;
constexpr uint8_t kShiftOutIn = 0x31;
constexpr uint8_t kSetLowByte = 0x80;
constexpr uint8_t kSetHighByte = 0x82;
constexpr uint8_t kDivisor = 0x86;
// n + 1 bytes' worth of clock cycles, no data.
constexpr uint8_t kIdleBytes = 0x8F;

}  // namespace

void MpsseCommands::Length(size_t count) {
  const size_t field = count - 1;
  bytes_.push_back(static_cast<uint8_t>(field));
  bytes_.push_back(static_cast<uint8_t>(field >> 8));
}

void MpsseCommands::SetPins(bool highByte, uint8_t levels, uint8_t outputs) {
  bytes_.insert(bytes_.end(), {highByte ? kSetHighByte : kSetLowByte, levels, outputs});
}

void MpsseCommands::SetDivisor(uint16_t divisor) {
  bytes_.insert(bytes_.end(), {kDivisor, static_cast<uint8_t>(divisor), static_cast<uint8_t>(divisor >> 8)});
}

void MpsseCommands::Plain(uint8_t opcode) { bytes_.push_back(opcode); }

void MpsseCommands::Shift(const uint8_t* tx, uint8_t fill, size_t count, bool read) {
  bytes_.push_back(read ? kShiftOutIn : kShiftOut);
  Length(count);
  if (tx) {
    bytes_.insert(bytes_.end(), tx, tx + count);
  } else {
    bytes_.insert(bytes_.end(), count, fill);
  }
  if (read) replyBytes_ += count;
  busBytes_ += count;
}

void MpsseCommands::ShiftIn(size_t count) {
  bytes_.push_back(kShiftIn);
  Length(count);
  replyBytes_ += count;
  busBytes_ += count;
}

void MpsseCommands::IdleClocks(size_t count) {
  bytes_.push_back(kIdleBytes);
  Length(count);
  busBytes_ += count;
}

void MpsseCommands::Clear() {
  bytes_.clear();
  replyBytes_ = 0;
  busBytes_ = 0;
}
