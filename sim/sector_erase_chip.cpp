// SPDX-License-Identifier: MIT
// The M25P/N25Q command set.
#include "sim/sector_erase_chip.h"

#include <algorithm>

namespace {

constexpr uint8_t kOpReadId = 0x9F;        // RDID
constexpr uint8_t kOpReadStatus = 0x05;    // RDSR
constexpr uint8_t kOpWriteStatus = 0x01;   // WRSR, one data byte
constexpr uint8_t kOpWriteEnable = 0x06;   // WREN
constexpr uint8_t kOpWriteDisable = 0x04;  // WRDI
constexpr uint8_t kOpPageProgram = 0x02;   // PP
constexpr uint8_t kOpSectorErase = 0xD8;   // SE
constexpr uint8_t kOpBulkErase = 0xC7;     // BE
constexpr uint8_t kOpRead = 0x03;          // READ
constexpr uint8_t kOpFastRead = 0x0B;      // FAST_READ, a dummy byte before the data

constexpr uint8_t kWriteInProgress = 0x01;
constexpr uint8_t kWriteEnableLatch = 0x02;
constexpr uint8_t kBlockProtect = 0x1C;  // BP2..BP0
constexpr uint8_t kTopBottom = 0x20;     // TB: the protected area is at the bottom
constexpr uint8_t kBlockProtect3 = 0x40;  // BP3
constexpr uint8_t kStatusWriteDisable = 0x80;  // SRWD

// Opcode, three address bytes.
constexpr size_t kAddressed = 4;

}  // namespace

SectorEraseChip::SectorEraseChip(const SimChipFacts& facts, const VirtualClock& clock,
                                 const ChipFaults& faults)
    : ChipModel(facts, clock, faults),
      addressMask_(facts.Size() - 1),
      statusRegister_(static_cast<uint8_t>(faults.protect.value_or(0) & facts.statusWritable)),
      page_(facts.pageSize) {}

uint8_t SectorEraseChip::Status() const {
  // The latch stays set through the write, program or erase it allowed and
  // clears when that ends; every such command clears latch_ when it starts.
  const uint8_t progress = Busy() ? kWriteInProgress | kWriteEnableLatch
                                  : (latch_ ? kWriteEnableLatch : 0);
  return progress | statusRegister_;
}

uint32_t SectorEraseChip::BlockProtect() const {
  return static_cast<uint32_t>((statusRegister_ & kBlockProtect) >> 2) |
         ((statusRegister_ & kBlockProtect3) ? 8u : 0u);
}

bool SectorEraseChip::Protected(uint32_t address) const {
  const uint16_t part = Facts().protectedPart[BlockProtect()];
  if (part == 0) return false;
  const uint32_t size = Facts().Size() / part;
  return (statusRegister_ & kTopBottom) ? address < size : address >= Facts().Size() - size;
}

void SectorEraseChip::Decode(uint8_t opcode) {
  // While a program or erase runs the part decodes only RDSR.
  if (Busy() && opcode != kOpReadStatus) {
    command_ = Command::kNone;
    return;
  }
  switch (opcode) {
    case kOpReadId: command_ = Command::kReadId; break;
    case kOpReadStatus: command_ = Command::kReadStatus; break;
    case kOpWriteStatus: command_ = Command::kWriteStatus; break;
    case kOpWriteEnable: command_ = Command::kWriteEnable; break;
    case kOpWriteDisable: command_ = Command::kWriteDisable; break;
    case kOpPageProgram:
      command_ = Command::kPageProgram;
      std::ranges::fill(page_, 0xFF);
      break;
    case kOpSectorErase: command_ = Command::kSectorErase; break;
    case kOpBulkErase: command_ = Command::kBulkErase; break;
    case kOpRead:
      command_ = Command::kRead;
      LimitClock(Facts().readMaxHz);
      break;
    case kOpFastRead: command_ = Command::kFastRead; break;
    default: command_ = Command::kNone; break;
  }
}

size_t SectorEraseChip::Exchange(TxBytes tx, uint8_t* rx, size_t n) {
  const size_t at = Position();
  switch (command_) {
    case Command::kReadId:
      Drive(rx, IdByte(at - 1));
      return 1;
    case Command::kReadStatus:
      // One byte at a time, so that a long status read sees the busy end.
      Drive(rx, Status());
      return 1;
    case Command::kWriteStatus:
      if (at == 1) statusData_ = tx[0];
      break;
    case Command::kPageProgram:
      return at < kAddressed ? TakeAddressByte(tx, rx) : LoadPage(tx, rx, n);
    case Command::kSectorErase:
      if (at < kAddressed) return TakeAddressByte(tx, rx);
      break;
    case Command::kRead: return Read(tx, rx, n, kAddressed);
    case Command::kFastRead: return Read(tx, rx, n, kAddressed + 1);
    default:
      break;
  }
  Float(rx, n);
  return n;
}

size_t SectorEraseChip::LoadPage(TxBytes tx, uint8_t* rx, size_t n) {
  // The column address wraps inside the page, so beyond a page of data the
  // last bytes overwrite the first ones.
  const size_t mask = page_.size() - 1;
  const size_t first = Address() + (Position() - kAddressed);
  for (size_t i = 0; i < n; ++i) page_[(first + i) & mask] = tx[i];
  Float(rx, n);
  return n;
}

size_t SectorEraseChip::Read(TxBytes tx, uint8_t* rx, size_t n, size_t dataStart) {
  const size_t at = Position();
  if (at < kAddressed) return TakeAddressByte(tx, rx);
  if (at < dataStart) {
    Float(rx, 1);
    return 1;
  }
  if (at == dataStart) readAt_ = Address() & addressMask_;
  readAt_ = ReadArray(static_cast<uint32_t>(readAt_), rx, n);
  return n;
}

void SectorEraseChip::EndCommand() {
  const SimChipFacts& facts = Facts();
  const size_t length = Position();
  const uint32_t address = Address() & addressMask_;
  switch (command_) {
    case Command::kReadId: return Count(SimOp::kReadId);
    case Command::kReadStatus: return Count(SimOp::kReadStatus);
    case Command::kRead: return Count(SimOp::kRead);
    case Command::kFastRead: return Count(SimOp::kFastRead);
    case Command::kWriteEnable: return SetLatch(length == 1, true, SimOp::kWriteEnable);
    case Command::kWriteDisable: return SetLatch(length == 1, false, SimOp::kWriteDisable);
    // Chip select must rise right after the data byte.
    case Command::kWriteStatus: return WriteStatus(length == 2);
    // A program or erase into the protected area is not run.
    case Command::kPageProgram:
      return Modify(length > kAddressed && !Protected(address), facts.programNs, SimOp::kPageProgram,
                    [&] { ProgramPage(); });
    // More than the command's bytes cancels these two, as too few does.
    case Command::kSectorErase: {
      const uint32_t sector = address & ~(facts.eraseUnit - 1);
      return Modify(length == kAddressed && !Protected(sector), facts.eraseUnitNs, SimOp::kSectorErase,
                    [&] { Erase(sector, facts.eraseUnit); });
    }
    // The bulk erase runs only while every block-protect bit is clear, TB
    // aside.
    case Command::kBulkErase:
      return Modify(length == 1 && BlockProtect() == 0, facts.chipEraseNs, SimOp::kChipErase,
                    [&] { Erase(0, facts.Size()); });
    case Command::kNone:
      break;
  }
  Count(SimOp::kIgnored);
}

void SectorEraseChip::SetLatch(bool framed, bool value, SimOp op) {
  if (!framed) return Count(SimOp::kIgnored);
  latch_ = value;
  Count(op);
}

template <typename Action>
void SectorEraseChip::Modify(bool accepted, uint64_t ns, SimOp op, Action action) {
  ProgramOrErase(accepted && latch_, ns, op, [&] {
    action();
    latch_ = false;
  });
}

void SectorEraseChip::WriteStatus(bool framed) {
  // SRWD set with W# held low is the hardware protected mode: the status
  // register cannot be written at all.
  const bool hardwareProtected = (statusRegister_ & kStatusWriteDisable) && Faults().writeProtectPin;
  if (!framed || !latch_ || hardwareProtected) return Count(SimOp::kIgnored);
  statusRegister_ = statusData_ & Facts().statusWritable;
  latch_ = false;
  StartBusy(Facts().statusWriteNs);
  Count(SimOp::kWriteStatus);
}

void SectorEraseChip::ProgramPage() {
  // Programming only clears bits; bytes that received no data stay as they
  // were. The data bytes landed from the address's column on, wrapping.
  const size_t pageSize = page_.size();
  const size_t base = Address() & addressMask_ & ~(pageSize - 1);
  const size_t first = Address() & (pageSize - 1);
  const size_t sent = Position() - kAddressed;
  DropBits(static_cast<uint32_t>(base), page_,
           [&](size_t i) { return ((i - first) & (pageSize - 1)) < sent; });
  for (size_t i = 0; i < pageSize; ++i) memory_[base + i] &= page_[i];
}

void SectorEraseChip::Erase(uint32_t start, uint32_t length) {
  std::fill_n(memory_.begin() + start, length, 0xFF);
}
