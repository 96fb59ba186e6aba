// The AT45DB command set.
#include "sim/dataflash_chip.h"

#include <algorithm>
#include <bit>

namespace {

constexpr uint8_t kOpReadId = 0x9F;
constexpr uint8_t kOpStatus = 0xD7;
constexpr uint8_t kOpBufferWrite = 0x84;  // buffer 1
constexpr uint8_t kOpBufferRead = 0xD4;  // buffer 1, one don't-care byte
constexpr uint8_t kOpBufferReadSlow = 0xD1;  // buffer 1, low clock, no don't-care byte
constexpr uint8_t kOpBufferToPage = 0x83;  // with built-in erase
constexpr uint8_t kOpBufferToPageNoErase = 0x88;
constexpr uint8_t kOpPageToBuffer = 0x53;
constexpr uint8_t kOpPageErase = 0x81;
constexpr uint8_t kOpBlockErase = 0x50;
constexpr uint8_t kOpChipErase = 0xC7;  // followed by 94 80 9A
constexpr uint8_t kOpRead = 0x03;  // continuous array read

constexpr uint8_t kReady = 0x80;
// Opcode, three address bytes.
constexpr size_t kAddressed = 4;
// The three bytes after kOpChipErase.
constexpr uint32_t kChipEraseTail = 0x94809A;

}  // namespace

DataFlashChip::DataFlashChip(const SimChipFacts& facts, const VirtualClock& clock,
                             const ChipFaults& faults)
    : ChipModel(facts, clock, faults),
      offsetBits_(static_cast<uint32_t>(std::bit_width(facts.pageSize - 1))),
      buffer_(facts.pageSize, 0x00) {}

uint8_t DataFlashChip::Status() const {
  return (Busy() ? 0 : kReady) | Facts().statusBits | ProtectBits();
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
    case kOpBufferReadSlow: command_ = Command::kBufferReadSlow; return;
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
    case kOpRead: command_ = Command::kRead; break;
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
    case Command::kRead: return ReadMain(rx, n);
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

size_t DataFlashChip::ReadMain(uint8_t* rx, size_t n) {
  // Pages lie end to end in memory_, so the read runs on across page
  // boundaries and from the last byte back to the first.
  if (Position() == kAddressed) cursor_ = size_t{PageOf(Address())} * buffer_.size() + OffsetOf(Address());
  cursor_ = ReadArray(static_cast<uint32_t>(cursor_), rx, n);
  return n;
}

void DataFlashChip::EndCommand() {
  const SimChipFacts& facts = Facts();
  const size_t pageSize = buffer_.size();
  // Commands with an address act on chip select rising after it; any later
  // bytes are don't-care.
  const bool addressed = Position() >= kAddressed;
  uint8_t* const page = Page(PageOf(Address()));
  switch (command_) {
    case Command::kReadId: return Count(SimOp::kReadId);
    case Command::kStatus: return Count(SimOp::kReadStatus);
    case Command::kBufferWrite: return Count(SimOp::kBufferWrite);
    case Command::kBufferRead:
    case Command::kBufferReadSlow: return Count(SimOp::kBufferRead);
    case Command::kRead: return Count(SimOp::kRead);
    case Command::kPageToBuffer:
      if (!addressed) break;
      std::copy_n(page, pageSize, buffer_.begin());
      StartBusy(facts.transferNs);
      return Count(SimOp::kPageToBuffer);
    case Command::kBufferToPage:
      return ProgramOrErase(addressed, facts.programNs, SimOp::kBufferToPage,
                            [&] { std::ranges::copy(buffer_, page); });
    case Command::kBufferToPageNoErase:
      // Without the built-in erase, programming only clears bits.
      return ProgramOrErase(addressed, facts.programNoEraseNs, SimOp::kBufferToPageNoErase, [&] {
        for (size_t i = 0; i < pageSize; ++i) page[i] &= buffer_[i];
      });
    case Command::kPageErase:
      return ProgramOrErase(addressed, facts.pageEraseNs, SimOp::kPageErase,
                            [&] { std::fill_n(page, pageSize, 0xFF); });
    case Command::kBlockErase:
      return ProgramOrErase(addressed, facts.eraseUnitNs, SimOp::kBlockErase, [&] {
        const uint32_t first = PageOf(Address()) & ~(facts.eraseUnit - 1);
        std::fill_n(Page(first), pageSize * facts.eraseUnit, 0xFF);
      });
    case Command::kChipErase:
      return ProgramOrErase(Position() == kAddressed && (Address() & 0xFFFFFF) == kChipEraseTail,
                            facts.chipEraseNs, SimOp::kChipErase,
                            [&] { std::ranges::fill(memory_, 0xFF); });
    case Command::kNone:
      break;
  }
  Count(SimOp::kIgnored);
}
