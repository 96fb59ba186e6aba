// SPDX-License-Identifier: MIT
// The AT45DB command set.
#include "sim/dataflash_chip.h"

#include <algorithm>
#include <bit>

namespace {

constexpr uint8_t kOpReadId = 0x9F;
constexpr uint8_t kOpStatus = 0xD7;
constexpr uint8_t kOpBufferWrite = 0x84;  // buffer 1
constexpr uint8_t kOpBufferRead = 0xD4;  // buffer 1, one don't-care byte
constexpr uint8_t kOpBufferReadSlow = 0xD1;  // buffer 1, low clock (as 03h), no don't-care byte
constexpr uint8_t kOpBufferToPage = 0x83;  // with built-in erase
constexpr uint8_t kOpBufferToPageNoErase = 0x88;
constexpr uint8_t kOpPageToBuffer = 0x53;
constexpr uint8_t kOpPageErase = 0x81;
constexpr uint8_t kOpBlockErase = 0x50;
constexpr uint8_t kOpChipErase = 0xC7;  // followed by 94 80 9A
constexpr uint8_t kOpRead = 0x03;  // continuous array read, low frequency
constexpr uint8_t kOpFastRead = 0x0B;  // continuous array read, one don't-care byte
// Sector protection: 3D 2A 7F and a last byte that says which command.
constexpr uint8_t kOpProtect = 0x3D;
constexpr uint32_t kProtectEnable = 0x2A7FA9;
constexpr uint32_t kProtectDisable = 0x2A7F9A;
constexpr uint32_t kProtectErase = 0x2A7FCF;   // every byte FF: every sector protected
constexpr uint32_t kProtectProgram = 0x2A7FFC;  // followed by a byte per sector
constexpr uint8_t kOpProtectRead = 0x32;  // three don't-care bytes, then the register

constexpr uint8_t kReady = 0x80;
constexpr uint8_t kProtectionOn = 0x02;
// Opcode, three address bytes.
constexpr size_t kAddressed = 4;
// The three bytes after kOpChipErase.
constexpr uint32_t kChipEraseTail = 0x94809A;

// A register byte protects its sector when it is FF and leaves it open when
// 00; the datasheet defines no other value, and the model takes any other as
// open. Sector 0's byte protects its two parts apart: bits 7..6 sector 0a,
// bits 5..4 sector 0b (bits 3..0 are don't care).
constexpr uint8_t kSector0a = 0xC0;
constexpr uint8_t kSector0b = 0x30;

// The register a protection mask gives: FF for each sector whose bit is set.
std::vector<uint8_t> RegisterFromMask(uint32_t sectors, uint32_t mask) {
  std::vector<uint8_t> bytes(sectors);
  for (uint32_t i = 0; i < sectors; ++i) bytes[i] = ((mask >> i) & 1) ? 0xFF : 0x00;
  return bytes;
}

}  // namespace

DataFlashChip::DataFlashChip(const SimChipFacts& facts, const VirtualClock& clock,
                             const ChipFaults& faults)
    : ChipModel(facts, clock, faults),
      offsetBits_(static_cast<uint32_t>(std::bit_width(facts.pageSize - 1))),
      buffer_(facts.pageSize, 0x00),
      protectionEnabled_(faults.protect.has_value()),
      protectRegister_(RegisterFromMask(facts.pageCount / facts.protectSectorPages, faults.protect.value_or(0))),
      registerData_(protectRegister_.size()) {}

uint8_t DataFlashChip::Status() const {
  return (Busy() ? 0 : kReady) | Facts().statusBits | (ProtectionOn() ? kProtectionOn : 0);
}

bool DataFlashChip::ProtectionOn() const { return protectionEnabled_ || Faults().writeProtectPin; }

bool DataFlashChip::PageProtected(uint32_t page) const {
  if (!ProtectionOn()) return false;
  const uint32_t sector = page / Facts().protectSectorPages;
  const uint8_t value = protectRegister_[sector];
  if (sector != 0) return value == 0xFF;
  const uint8_t part = page < Facts().eraseUnit ? kSector0a : kSector0b;
  return (value & part) == part;
}

uint32_t DataFlashChip::PageOf(uint32_t address) const {
  return (address >> offsetBits_) & (Facts().pageCount - 1);
}

uint32_t DataFlashChip::OffsetOf(uint32_t address) const {
  // Byte addresses past the page (264..511) are not documented; they are
  // taken to wrap into the page.
  return (address & ((1u << offsetBits_) - 1)) % Facts().pageSize;
}

void DataFlashChip::Decode(uint8_t opcode) {
  // While a page operation runs the part still serves its status and the
  // SRAM buffer; it ignores everything that touches the array.
  switch (opcode) {
    case kOpStatus: command_ = Command::kStatus; return;
    case kOpBufferWrite: command_ = Command::kBufferWrite; return;
    case kOpBufferRead: command_ = Command::kBufferRead; return;
    case kOpBufferReadSlow:
      command_ = Command::kBufferReadSlow;
      LimitClock(Facts().readMaxHz);
      return;
    default: break;
  }
  command_ = Command::kNone;
  if (Busy()) return;
  switch (opcode) {
    case kOpReadId: command_ = Command::kReadId; break;
    case kOpBufferToPage: command_ = Command::kBufferToPage; break;
    case kOpBufferToPageNoErase: command_ = Command::kBufferToPageNoErase; break;
    case kOpPageToBuffer: command_ = Command::kPageToBuffer; break;
    case kOpPageErase: command_ = Command::kPageErase; break;
    case kOpBlockErase: command_ = Command::kBlockErase; break;
    case kOpChipErase: command_ = Command::kChipErase; break;
    case kOpRead:
      command_ = Command::kRead;
      LimitClock(Facts().readMaxHz);
      break;
    case kOpFastRead: command_ = Command::kFastRead; break;
    case kOpProtect:
      command_ = Command::kProtect;
      registerDataCount_ = 0;
      break;
    case kOpProtectRead: command_ = Command::kProtectRead; break;
    default: break;
  }
}

size_t DataFlashChip::Exchange(TxBytes tx, uint8_t* rx, size_t n) {
  const size_t at = Position();
  switch (command_) {
    case Command::kReadId:
      Drive(rx, IdByte(at - 1));
      return 1;
    case Command::kStatus:
      // One byte at a time, so that a long status read sees the busy end.
      Drive(rx, Status());
      return 1;
    case Command::kNone:
      break;
    default:
      if (at < kAddressed) return TakeAddressByte(tx, rx);
      break;
  }
  switch (command_) {
    case Command::kBufferWrite: return WriteBuffer(tx, rx, n, kAddressed);
    // The fast buffer read has one don't-care byte before the data.
    case Command::kBufferRead: return ReadBuffer(rx, n, kAddressed + 1);
    case Command::kBufferReadSlow: return ReadBuffer(rx, n, kAddressed);
    case Command::kRead: return ReadMain(rx, n, kAddressed);
    case Command::kFastRead: return ReadMain(rx, n, kAddressed + 1);
    case Command::kProtect: return TakeRegisterData(tx, rx, n);
    case Command::kProtectRead: return ReadRegister(rx, n);
    default: break;
  }
  Float(rx, n);
  return n;
}

size_t DataFlashChip::WriteBuffer(TxBytes tx, uint8_t* rx, size_t n, size_t dataStart) {
  // Bytes land as they come (no chip-select edge needed) and the offset
  // wraps inside the buffer.
  if (Position() == dataStart) cursor_ = OffsetOf(Address());
  for (size_t i = 0; i < n; ++i) {
    buffer_[cursor_] = tx[i];
    if (++cursor_ == buffer_.size()) cursor_ = 0;
  }
  Float(rx, n);
  return n;
}

size_t DataFlashChip::ReadBuffer(uint8_t* rx, size_t n, size_t dataStart) {
  if (Position() < dataStart) {
    Float(rx, 1);
    return 1;
  }
  if (Position() == dataStart) cursor_ = OffsetOf(Address());
  for (size_t i = 0; i < n; ++i) {
    Drive(rx ? rx + i : nullptr, buffer_[cursor_]);
    if (++cursor_ == buffer_.size()) cursor_ = 0;
  }
  return n;
}

size_t DataFlashChip::ReadMain(uint8_t* rx, size_t n, size_t dataStart) {
  if (Position() < dataStart) {
    Float(rx, 1);
    return 1;
  }
  // Pages lie end to end in memory_, so the read runs on across page
  // boundaries and from the last byte back to the first.
  if (Position() == dataStart) cursor_ = size_t{PageOf(Address())} * buffer_.size() + OffsetOf(Address());
  cursor_ = ReadArray(static_cast<uint32_t>(cursor_), rx, n);
  return n;
}

size_t DataFlashChip::TakeRegisterData(TxBytes tx, uint8_t* rx, size_t n) {
  // Only a register program has data; bytes past one per sector are dropped.
  if ((Address() & 0xFFFFFF) == kProtectProgram) {
    for (size_t i = 0; i < n && registerDataCount_ < registerData_.size(); ++i) {
      registerData_[registerDataCount_++] = tx[i];
    }
  }
  Float(rx, n);
  return n;
}

size_t DataFlashChip::ReadRegister(uint8_t* rx, size_t n) {
  // Past the last sector's byte the datasheet defines nothing; the model
  // leaves the line floating.
  for (size_t i = 0; i < n; ++i) {
    const size_t index = Position() - kAddressed + i;
    Drive(rx ? rx + i : nullptr, index < protectRegister_.size() ? protectRegister_[index] : 0xFF);
  }
  return n;
}

void DataFlashChip::EndCommand() {
  const SimChipFacts& facts = Facts();
  const size_t pageSize = buffer_.size();
  // Commands with an address act on chip select rising after it; any later
  // bytes are don't-care. A protected sector takes no program or erase.
  const bool addressed = Position() >= kAddressed;
  const uint32_t pageNumber = PageOf(Address());
  const bool programmable = addressed && !PageProtected(pageNumber);
  uint8_t* const page = Page(pageNumber);
  switch (command_) {
    case Command::kReadId: return Count(SimOp::kReadId);
    case Command::kStatus: return Count(SimOp::kReadStatus);
    case Command::kBufferWrite: return Count(SimOp::kBufferWrite);
    case Command::kBufferRead:
    case Command::kBufferReadSlow: return Count(SimOp::kBufferRead);
    case Command::kRead: return Count(SimOp::kRead);
    case Command::kFastRead: return Count(SimOp::kFastRead);
    case Command::kProtectRead: return Count(SimOp::kProtectRead);
    case Command::kProtect: return EndProtectCommand();
    case Command::kPageToBuffer:
      if (!addressed) break;
      std::copy_n(page, pageSize, buffer_.begin());
      StartBusy(facts.transferNs);
      return Count(SimOp::kPageToBuffer);
    case Command::kBufferToPage:
      return ProgramOrErase(programmable, facts.programNs, SimOp::kBufferToPage,
                            [&] { ProgramPage(pageNumber, true); });
    case Command::kBufferToPageNoErase:
      return ProgramOrErase(programmable, facts.programNoEraseNs, SimOp::kBufferToPageNoErase,
                            [&] { ProgramPage(pageNumber, false); });
    case Command::kPageErase:
      return ProgramOrErase(programmable, facts.pageEraseNs, SimOp::kPageErase,
                            [&] { std::fill_n(page, pageSize, 0xFF); });
    // A block lies inside one protection sector (block 0 is sector 0a).
    case Command::kBlockErase: {
      const uint32_t first = pageNumber & ~(facts.eraseUnit - 1);
      return ProgramOrErase(addressed && !PageProtected(first), facts.eraseUnitNs, SimOp::kBlockErase,
                            [&] { std::fill_n(Page(first), pageSize * facts.eraseUnit, 0xFF); });
    }
    // Chip erase leaves the protected sectors as they are and erases the
    // rest; with every sector protected it has nothing to do.
    case Command::kChipErase: {
      std::vector<uint32_t> pages;
      for (uint32_t p = 0; p < facts.pageCount; ++p) {
        if (!PageProtected(p)) pages.push_back(p);
      }
      const bool framed = Position() == kAddressed && (Address() & 0xFFFFFF) == kChipEraseTail;
      return ProgramOrErase(framed && !pages.empty(), facts.chipEraseNs, SimOp::kChipErase, [&] {
        for (uint32_t p : pages) std::fill_n(Page(p), pageSize, 0xFF);
      });
    }
    case Command::kNone:
      break;
  }
  Count(SimOp::kIgnored);
}

void DataFlashChip::ProgramPage(uint32_t page, bool erase) {
  std::vector<uint8_t> data = buffer_;
  DropBits(page * static_cast<uint32_t>(data.size()), data, [](size_t) { return true; });
  uint8_t* const cells = Page(page);
  // Without the built-in erase, programming only clears bits.
  for (size_t i = 0; i < data.size(); ++i) cells[i] = erase ? data[i] : cells[i] & data[i];
}

void DataFlashChip::EndProtectCommand() {
  const SimChipFacts& facts = Facts();
  // Like the chip erase, the sequence acts only when chip select rises right
  // after its fourth byte; a register program also needs its data. With the
  // WP pin held low, protection cannot be disabled and the register cannot
  // be changed.
  const bool exact = Position() == kAddressed;
  const bool pinLow = Faults().writeProtectPin;
  switch (Address() & 0xFFFFFF) {
    case kProtectEnable:
      if (!exact) break;
      protectionEnabled_ = true;
      return Count(SimOp::kProtectEnable);
    case kProtectDisable:
      if (!exact || pinLow) break;
      protectionEnabled_ = false;
      return Count(SimOp::kProtectDisable);
    case kProtectErase:
      if (!exact || pinLow) break;
      std::ranges::fill(protectRegister_, 0xFF);
      StartBusy(facts.pageEraseNs);
      return Count(SimOp::kProtectErase);
    case kProtectProgram:
      // A register sent short leaves the bytes that did not come as they were
      // (the datasheet does not guarantee them). Programming only clears bits.
      if (registerDataCount_ == 0 || pinLow) break;
      for (size_t i = 0; i < registerDataCount_; ++i) protectRegister_[i] &= registerData_[i];
      StartBusy(facts.programNoEraseNs);
      return Count(SimOp::kProtectProgram);
    default:
      break;
  }
  Count(SimOp::kIgnored);
}
