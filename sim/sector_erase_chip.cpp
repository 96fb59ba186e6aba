// The M25P/N25Q command set.
#include "sim/sector_erase_chip.h"

#include <algorithm>

namespace {

constexpr uint8_t kOpReadId = 0x9F;        // RDID
constexpr uint8_t kOpReadStatus = 0x05;    // RDSR
constexpr uint8_t kOpWriteEnable = 0x06;   // WREN
constexpr uint8_t kOpWriteDisable = 0x04;  // WRDI
constexpr uint8_t kOpPageProgram = 0x02;   // PP
constexpr uint8_t kOpSectorErase = 0xD8;   // SE
constexpr uint8_t kOpBulkErase = 0xC7;     // BE
constexpr uint8_t kOpRead = 0x03;          // READ

constexpr uint8_t kWriteInProgress = 0x01;
constexpr uint8_t kWriteEnableLatch = 0x02;

// Opcode, three address bytes.
constexpr size_t kAddressed = 4;

}  // namespace

SectorEraseChip::SectorEraseChip(const SimChipFacts& facts, const VirtualClock& clock,
                                 const ChipFaults& faults)
    : ChipModel(facts, clock, faults), addressMask_(facts.Size() - 1), page_(facts.pageSize) {}

uint8_t SectorEraseChip::Status() const {
  // The latch stays set through the program or erase it allowed and clears
  // when that ends; every such command clears latch_ when it starts.
  const uint8_t progress = Busy() ? kWriteInProgress | kWriteEnableLatch
                                  : (latch_ ? kWriteEnableLatch : 0);
  return progress | ProtectBits();
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
    case kOpWriteEnable: command_ = Command::kWriteEnable; break;
    case kOpWriteDisable: command_ = Command::kWriteDisable; break;
    case kOpPageProgram:
      command_ = Command::kPageProgram;
      std::ranges::fill(page_, 0xFF);
      break;
    case kOpSectorErase: command_ = Command::kSectorErase; break;
    case kOpBulkErase: command_ = Command::kBulkErase; break;
    case kOpRead: command_ = Command::kRead; break;
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
    case Command::kPageProgram:
      return at < kAddressed ? TakeAddressByte(tx, rx) : LoadPage(tx, rx, n);
    case Command::kSectorErase:
      if (at < kAddressed) return TakeAddressByte(tx, rx);
      break;
    case Command::kRead:
      if (at < kAddressed) return TakeAddressByte(tx, rx);
      if (at == kAddressed) readAt_ = Address() & addressMask_;
      readAt_ = ReadArray(static_cast<uint32_t>(readAt_), rx, n);
      return n;
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

void SectorEraseChip::EndCommand() {
  const SimChipFacts& facts = Facts();
  const size_t length = Position();
  switch (command_) {
    case Command::kReadId: return Count(SimOp::kReadId);
    case Command::kReadStatus: return Count(SimOp::kReadStatus);
    case Command::kRead: return Count(SimOp::kRead);
    case Command::kWriteEnable: return SetLatch(length == 1, true, SimOp::kWriteEnable);
    case Command::kWriteDisable: return SetLatch(length == 1, false, SimOp::kWriteDisable);
    case Command::kPageProgram:
      return Modify(length > kAddressed, facts.programNs, SimOp::kPageProgram, [&] { ProgramPage(); });
    // More than the command's bytes cancels these two, as too few does.
    case Command::kSectorErase:
      return Modify(length == kAddressed, facts.eraseUnitNs, SimOp::kSectorErase, [&] {
        Erase(Address() & addressMask_ & ~(facts.eraseUnit - 1), facts.eraseUnit);
      });
    // The bulk erase also needs every protection bit clear; a protected part
    // has them all set, so the common protection check covers it.
    case Command::kBulkErase:
      return Modify(length == 1, facts.chipEraseNs, SimOp::kChipErase, [&] { Erase(0, facts.Size()); });
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
void SectorEraseChip::Modify(bool framed, uint64_t ns, SimOp op, Action action) {
  ProgramOrErase(framed && latch_, ns, op, [&] {
    action();
    latch_ = false;
  });
}

void SectorEraseChip::ProgramPage() {
  // Programming only clears bits; bytes that received no data stay as they were.
  const size_t base = Address() & addressMask_ & ~(page_.size() - 1);
  for (size_t i = 0; i < page_.size(); ++i) memory_[base + i] &= page_[i];
}

void SectorEraseChip::Erase(uint32_t start, uint32_t length) {
  std::fill_n(memory_.begin() + start, length, 0xFF);
}
