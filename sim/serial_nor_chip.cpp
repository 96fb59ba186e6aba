// SPDX-License-Identifier: MIT
// Today's serial NOR command set.
#include "sim/serial_nor_chip.h"

#include <algorithm>
#include <bit>

namespace {

constexpr uint8_t kOpReadId = 0x9F;
constexpr uint8_t kOpReadSfdp = 0x5A;      // three address bytes and a dummy byte in every mode
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpFastRead = 0x0B;      // a dummy byte before the data
constexpr uint8_t kOpRead4 = 0x13;         // the dedicated 4-byte-address forms
constexpr uint8_t kOpFastRead4 = 0x0C;
constexpr uint8_t kOpPageProgram = 0x02;
constexpr uint8_t kOpPageProgram4 = 0x12;
constexpr uint8_t kOpChipErase = 0xC7;
constexpr uint8_t kOpReadFlags = 0x70;     // Micron flag status register
constexpr uint8_t kOpClearFlags = 0x50;    // Micron: clears its error bits
constexpr uint8_t kOpClearErrors = 0x30;   // Spansion CLSR
// Winbond individual block locks, each with an address but 7Eh/98h.
constexpr uint8_t kOpLock = 0x36;
constexpr uint8_t kOpUnlock = 0x39;
constexpr uint8_t kOpReadLock = 0x3D;
constexpr uint8_t kOpLockAll = 0x7E;
constexpr uint8_t kOpUnlockAll = 0x98;

constexpr uint8_t kWriteInProgress = 0x01;
constexpr uint8_t kWriteEnableLatch = 0x02;
// Spansion status register 1.
constexpr uint8_t kEraseError = 0x20;
constexpr uint8_t kProgramError = 0x40;
// Micron flag status register.
constexpr uint8_t kFlagReady = 0x80;
constexpr uint8_t kFlagEraseError = 0x20;
constexpr uint8_t kFlagProgramError = 0x10;
constexpr uint8_t kFlagProtection = 0x02;
constexpr uint8_t kFlagFourByte = 0x01;
// Bank address register: 4-byte addressing.
constexpr uint8_t kExtendedAddressing = 0x80;

constexpr uint32_t kLockSector = 4096;
constexpr uint32_t kLockBlock = 65536;

}  // namespace

SerialNorChip::SerialNorChip(const SimChipFacts& facts, const VirtualClock& clock, const ChipFaults& faults)
    : ChipModel(facts, clock, faults),
      nor_(*facts.nor),
      addressMask_(facts.Size() - 1),
      sfdp_(Faults().sfdp ? std::span<const uint8_t>(*Faults().sfdp) : nor_.sfdp),
      sfdpAnswered_(!faults.noSfdp),
      page_(facts.pageSize) {
  registers_[Index(NorReg::kStatus1)] = static_cast<uint8_t>(faults.protect.value_or(0) & facts.statusWritable);
  if (faults.quadEnable) registers_[Index(nor_.quadEnable.reg)] |= nor_.quadEnable.mask;
  // Every lock bit is set at power-up: with WPS set the whole array is locked
  // until the host unlocks it.
  if (Has(nor_.protect.blockLocks)) locks_.assign(2 * (kLockBlock / kLockSector) + facts.Size() / kLockBlock - 2, 1);
}

uint8_t SerialNorChip::RegisterValue(NorReg reg) const {
  uint8_t value = registers_[Index(reg)];
  if (reg == NorReg::kStatus1) {
    // The latch stays set through the operation it allowed and clears when
    // that ends; an error that holds WIP holds the latch too.
    if (Working()) {
      value |= kWriteInProgress | kWriteEnableLatch;
    } else if (latch_) {
      value |= kWriteEnableLatch;
    }
    value |= errorBits_;
  }
  if (Has(nor_.fourByteIndicator) && nor_.fourByteIndicator.reg == reg) {
    value = fourByte_ ? (value | nor_.fourByteIndicator.mask) : (value & ~nor_.fourByteIndicator.mask);
  }
  return value;
}

uint8_t SerialNorChip::FlagStatus() const {
  return static_cast<uint8_t>((Busy() ? 0 : kFlagReady) | flagErrors_ | (fourByte_ ? kFlagFourByte : 0));
}

bool SerialNorChip::DecodeRegisterRead(uint8_t opcode) {
  for (size_t i = 0; i < kNorRegCount; ++i) {
    if (nor_.registers[i].readOp != 0 && nor_.registers[i].readOp == opcode) {
      command_ = Command::kReadRegister;
      target_ = static_cast<NorReg>(i);
      return true;
    }
  }
  if (nor_.flagStatus && opcode == kOpReadFlags) {
    command_ = Command::kReadFlags;
    return true;
  }
  if (nor_.errorsHoldBusy && opcode == kOpClearErrors) {
    command_ = Command::kClearErrors;
    return true;
  }
  return false;
}

bool SerialNorChip::DecodeErase(uint8_t opcode) {
  for (const NorEraseFacts& erase : nor_.erases) {
    if (erase.opcode == 0) continue;
    if (opcode == erase.opcode || (nor_.fourByteOpcodes && erase.opcode4 != 0 && opcode == erase.opcode4)) {
      erase_ = &erase;
      Addressed(Command::kErase, opcode == erase.opcode ? 0 : 4);
      return true;
    }
  }
  return false;
}

void SerialNorChip::Addressed(Command command, size_t bytes) {
  command_ = command;
  addressBytes_ = bytes != 0 ? bytes : (fourByte_ ? 4 : 3);
  dataStart_ = 1 + addressBytes_;
}

void SerialNorChip::Decode(uint8_t opcode) {
  command_ = Command::kNone;
  if (DecodeRegisterRead(opcode)) return;
  // While a program, erase or register write runs, or an error holds WIP,
  // the part decodes only its register reads.
  if (Working()) return;
  for (size_t i = 0; i < kNorRegCount; ++i) {
    if (nor_.registers[i].writeOp != 0 && nor_.registers[i].writeOp == opcode) {
      command_ = Command::kWriteRegister;
      target_ = static_cast<NorReg>(i);
      return;
    }
  }
  if (opcode == nor_.readAddressOps[0] || (nor_.readAddressOps[1] != 0 && opcode == nor_.readAddressOps[1])) {
    command_ = nor_.addressRegister == NorAddressRegister::kNone ? Command::kNone : Command::kReadAddress;
    return;
  }
  if (opcode == nor_.writeAddressOps[0] || (nor_.writeAddressOps[1] != 0 && opcode == nor_.writeAddressOps[1])) {
    command_ = nor_.addressRegister == NorAddressRegister::kNone ? Command::kNone : Command::kWriteAddress;
    return;
  }
  if (DecodeErase(opcode)) return;
  const bool fourByteOps = nor_.fourByteOpcodes;
  const bool locks = Has(nor_.protect.blockLocks);
  switch (opcode) {
    case kOpReadId: command_ = Command::kReadId; break;
    case kOpReadSfdp:
      if (sfdpAnswered_) {
        Addressed(Command::kReadSfdp, 3);
        dataStart_ = 1 + 3 + 1;
      }
      break;
    case kOpWriteEnable: command_ = Command::kWriteEnable; break;
    case kOpWriteDisable: command_ = Command::kWriteDisable; break;
    case kOpRead:
    case kOpRead4:
      if (opcode == kOpRead4 && !fourByteOps) break;
      Addressed(Command::kRead, opcode == kOpRead4 ? 4 : 0);
      LimitClock(Facts().readMaxHz);
      break;
    case kOpFastRead:
    case kOpFastRead4:
      if (opcode == kOpFastRead4 && !fourByteOps) break;
      Addressed(Command::kFastRead, opcode == kOpFastRead4 ? 4 : 0);
      ++dataStart_;
      break;
    case kOpPageProgram:
    case kOpPageProgram4:
      if (opcode == kOpPageProgram4 && !fourByteOps) break;
      Addressed(Command::kPageProgram, opcode == kOpPageProgram4 ? 4 : 0);
      std::ranges::fill(page_, 0xFF);
      break;
    case kOpChipErase: command_ = Command::kChipErase; break;
    case kOpLock:
      if (locks) Addressed(Command::kLock, 0);
      break;
    case kOpUnlock:
      if (locks) Addressed(Command::kUnlock, 0);
      break;
    case kOpReadLock:
      if (locks) Addressed(Command::kReadLock, 0);
      break;
    case kOpLockAll:
      if (locks) command_ = Command::kLockAll;
      break;
    case kOpUnlockAll:
      if (locks) command_ = Command::kUnlockAll;
      break;
    default:
      // Opcodes that differ from part to part.
      if (opcode == nor_.chipErase2) {
        command_ = Command::kChipErase;
      } else if (nor_.enter4Byte != 0 && opcode == nor_.enter4Byte) {
        command_ = Command::kEnter4Byte;
      } else if (nor_.exit4Byte != 0 && opcode == nor_.exit4Byte) {
        command_ = Command::kExit4Byte;
      } else if (nor_.volatileWriteEnable != 0 && opcode == nor_.volatileWriteEnable) {
        command_ = Command::kVolatileEnable;
      } else if (nor_.flagStatus && opcode == kOpClearFlags) {
        command_ = Command::kClearFlags;
      }
      break;
  }
}

size_t SerialNorChip::Exchange(TxBytes tx, uint8_t* rx, size_t n) {
  const size_t at = Position();
  switch (command_) {
    case Command::kReadId:
      Drive(rx, IdByte(at - 1));
      return 1;
    // One byte at a time, so that a long status read sees the busy end.
    case Command::kReadRegister:
      Drive(rx, RegisterValue(target_));
      return 1;
    case Command::kReadFlags:
      Drive(rx, FlagStatus());
      return 1;
    case Command::kReadAddress:
      Drive(rx, addressRegister_);
      return 1;
    case Command::kWriteRegister:
    case Command::kWriteAddress:
      if (at <= data_.size()) data_[at - 1] = tx[0];
      Float(rx, 1);
      return 1;
    case Command::kRead:
    case Command::kFastRead: return Read(tx, rx, n);
    case Command::kReadSfdp: return ReadSfdp(tx, rx, n);
    case Command::kPageProgram:
      return at < dataStart_ ? TakeAddressByte(tx, rx) : LoadPage(tx, rx, n);
    case Command::kErase:
    case Command::kLock:
    case Command::kUnlock:
      if (at < dataStart_) return TakeAddressByte(tx, rx);
      break;
    case Command::kReadLock:
      if (at < dataStart_) return TakeAddressByte(tx, rx);
      Drive(rx, locks_[LockIndex(ArrayAddress())]);
      return 1;
    default:
      break;
  }
  Float(rx, n);
  return n;
}

uint32_t SerialNorChip::ArrayAddress() const {
  uint32_t address = Address();
  if (addressBytes_ == 3) {
    const uint32_t high = addressRegister_ & nor_.addressRegisterBits & ~kExtendedAddressing;
    address = (address & 0xFFFFFF) | (high << 24);
  }
  return address & addressMask_;
}

size_t SerialNorChip::Read(TxBytes tx, uint8_t* rx, size_t n) {
  const size_t at = Position();
  if (at < dataStart_ - (command_ == Command::kFastRead ? 1 : 0)) return TakeAddressByte(tx, rx);
  if (at < dataStart_) {
    Float(rx, 1);
    return 1;
  }
  if (at == dataStart_) cursor_ = ArrayAddress();
  cursor_ = ReadArray(static_cast<uint32_t>(cursor_), rx, n);
  return n;
}

size_t SerialNorChip::ReadSfdp(TxBytes tx, uint8_t* rx, size_t n) {
  const size_t at = Position();
  if (at < 4) return TakeAddressByte(tx, rx);
  if (at < dataStart_) {
    Float(rx, 1);
    return 1;
  }
  if (at == dataStart_) cursor_ = Address() & 0xFFFFFF;
  for (size_t i = 0; i < n; ++i, ++cursor_) {
    Drive(rx ? rx + i : nullptr, cursor_ < sfdp_.size() ? sfdp_[cursor_] : 0xFF);
  }
  return n;
}

size_t SerialNorChip::LoadPage(TxBytes tx, uint8_t* rx, size_t n) {
  // The column address wraps inside the page, so beyond a page of data the
  // last bytes overwrite the first ones.
  const size_t mask = page_.size() - 1;
  const size_t first = ArrayAddress() + (Position() - dataStart_);
  for (size_t i = 0; i < n; ++i) page_[(first + i) & mask] = tx[i];
  Float(rx, n);
  return n;
}

void SerialNorChip::EndCommand() {
  const SimChipFacts& facts = Facts();
  const size_t length = Position();
  switch (command_) {
    case Command::kReadId: return Count(SimOp::kReadId);
    case Command::kReadRegister:
    case Command::kReadFlags:
    case Command::kReadAddress:
    case Command::kReadLock: return Count(SimOp::kReadStatus);
    case Command::kReadSfdp: return Count(SimOp::kReadSfdp);
    case Command::kRead: return Count(SimOp::kRead);
    case Command::kFastRead: return Count(SimOp::kFastRead);
    case Command::kWriteEnable:
    case Command::kWriteDisable:
      if (length != 1) break;
      latch_ = command_ == Command::kWriteEnable;
      return Count(command_ == Command::kWriteEnable ? SimOp::kWriteEnable : SimOp::kWriteDisable);
    case Command::kVolatileEnable:
      if (length != 1) break;
      volatileNext_ = true;
      return Count(SimOp::kWriteEnable);
    case Command::kWriteRegister: return WriteRegister();
    case Command::kWriteAddress: return WriteAddressRegister();
    case Command::kEnter4Byte:
    case Command::kExit4Byte:
      if (length != 1 || (nor_.modeNeedsLatch && !latch_)) break;
      return ChangeMode(command_ == Command::kEnter4Byte,
                        command_ == Command::kEnter4Byte ? SimOp::kEnter4Byte : SimOp::kExit4Byte);
    case Command::kPageProgram: {
      if (length <= dataStart_ || !latch_) break;
      const uint32_t page = ArrayAddress() & ~(facts.pageSize - 1);
      return Modify(page, facts.pageSize, facts.programNs, SimOp::kPageProgram, true, [&] { ProgramPage(); });
    }
    case Command::kErase:
      if (length != dataStart_ || !latch_) break;
      return EndErase();
    case Command::kChipErase:
      if (length != 1 || !latch_) break;
      return Modify(0, facts.Size(), facts.chipEraseNs, SimOp::kChipErase, false,
                    [&] { std::ranges::fill(memory_, 0xFF); });
    case Command::kLock:
    case Command::kUnlock:
      if (length != dataStart_ || !latch_) break;
      locks_[LockIndex(ArrayAddress())] = command_ == Command::kLock;
      latch_ = false;
      return Count(SimOp::kBlockLock);
    case Command::kLockAll:
    case Command::kUnlockAll:
      if (length != 1 || !latch_) break;
      return SetLocks(command_ == Command::kLockAll);
    case Command::kClearFlags:
      if (length != 1) break;
      flagErrors_ = 0;
      return Count(SimOp::kClearErrors);
    case Command::kClearErrors:
      // WEL stays set: the host disables writes itself.
      if (length != 1) break;
      errorBits_ = 0;
      errorHold_ = false;
      return Count(SimOp::kClearErrors);
    case Command::kNone:
      break;
  }
  Count(SimOp::kIgnored);
}

bool SerialNorChip::RegistersWritable() const {
  // SRP/SRWD with W# held low locks the registers; with QE set the pin is
  // IO2 and locks nothing. SRL (Winbond) or SRP1 (GigaDevice) locks them
  // until power-down.
  const bool pinLocks = IsSet(nor_.statusProtect) && Faults().writeProtectPin && !IsSet(nor_.quadEnable);
  return !pinLocks && !IsSet(nor_.statusLock);
}

void SerialNorChip::WriteRegister() {
  // Chip select must rise right after the last data byte: one for a
  // register of its own, one or two for 01h where a second register follows
  // status register 1.
  const size_t dataBytes = Position() - 1;
  const bool secondByte = target_ == NorReg::kStatus1 && nor_.statusSecondByte != NorReg::kStatus1;
  const bool framed = dataBytes == 1 || (dataBytes == 2 && secondByte);
  const bool volatileWrite = volatileNext_;
  volatileNext_ = false;
  if (!framed || !(latch_ || volatileWrite) || !RegistersWritable()) return Count(SimOp::kIgnored);
  auto write = [&](NorReg reg, uint8_t value) {
    const NorRegisterFacts& facts = nor_.registers[Index(reg)];
    uint8_t& held = registers_[Index(reg)];
    held = static_cast<uint8_t>((held & ~facts.writable) | (value & facts.writable) | (value & facts.setOnly));
  };
  write(target_, data_[0]);
  if (dataBytes == 2) write(nor_.statusSecondByte, data_[1]);
  Count(SimOp::kWriteStatus);
  // A volatile write takes effect at once and leaves the latch alone.
  if (volatileWrite) return;
  latch_ = false;
  StartBusy(Facts().statusWriteNs);
}

void SerialNorChip::WriteAddressRegister() {
  if (Position() != 2 || (nor_.addressWriteNeedsLatch && !latch_)) return Count(SimOp::kIgnored);
  addressRegister_ = data_[0] & nor_.addressRegisterBits;
  if (nor_.addressWriteNeedsLatch) latch_ = false;
  if (nor_.addressRegister == NorAddressRegister::kBank) fourByte_ = (addressRegister_ & kExtendedAddressing) != 0;
  Count(SimOp::kWriteAddress);
}

void SerialNorChip::ChangeMode(bool fourByte, SimOp op) {
  fourByte_ = fourByte;
  // On a bank-register part the mode is the register's EXTADD bit.
  if (nor_.addressRegister == NorAddressRegister::kBank) {
    addressRegister_ = static_cast<uint8_t>(fourByte ? addressRegister_ | kExtendedAddressing
                                                     : addressRegister_ & ~kExtendedAddressing);
  }
  Count(op);
}

template <typename Action>
void SerialNorChip::Modify(uint32_t start, uint32_t length, uint64_t ns, SimOp op, bool program, Action action) {
  if (Protected(start, length)) return Refuse(program);
  ProgramOrErase(true, ns, op, [&] {
    action();
    latch_ = false;
  });
}

void SerialNorChip::Refuse(bool program) {
  // Micron flags the refusal; Spansion flags it and holds WIP and WEL until
  // 30h; the others ignore the command. The latch stays set.
  if (nor_.flagStatus) flagErrors_ |= kFlagProtection | (program ? kFlagProgramError : kFlagEraseError);
  if (nor_.errorsHoldBusy) {
    errorBits_ |= program ? kProgramError : kEraseError;
    errorHold_ = true;
  }
  Count(SimOp::kIgnored);
}

void SerialNorChip::EndErase() {
  const uint32_t size = erase_->size;
  const uint32_t start = ArrayAddress() & ~(size - 1);
  if (nor_.parameterSectors != 0 && size < Facts().eraseUnit) {
    // The small erase exists only in the parameter sectors.
    const uint32_t first = IsSet(nor_.parametersAtTop) ? Facts().Size() - nor_.parameterSectors : 0;
    if (start < first || start >= first + nor_.parameterSectors) return Count(SimOp::kIgnored);
  }
  const SimOp op = size < Facts().eraseUnit / 2 ? SimOp::kSectorErase : SimOp::kBlockErase;
  Modify(start, size, erase_->ns, op, false, [&] { std::fill_n(memory_.begin() + start, size, 0xFF); });
}

void SerialNorChip::ProgramPage() {
  // Programming only clears bits; bytes that received no data stay as they
  // were. The data bytes landed from the address's column on, wrapping.
  const size_t pageSize = page_.size();
  const size_t base = ArrayAddress() & ~(pageSize - 1);
  const size_t first = ArrayAddress() & (pageSize - 1);
  const size_t sent = Position() - dataStart_;
  DropBits(static_cast<uint32_t>(base), page_,
           [&](size_t i) { return ((i - first) & (pageSize - 1)) < sent; });
  for (size_t i = 0; i < pageSize; ++i) memory_[base + i] &= page_[i];
}

void SerialNorChip::SetLocks(bool locked) {
  std::ranges::fill(locks_, locked ? 1 : 0);
  latch_ = false;
  Count(SimOp::kBlockLock);
}

size_t SerialNorChip::LockIndex(uint32_t address) const {
  // The first and last 64 KiB blocks lock by 4 KiB sector, the others whole.
  const uint32_t block = address / kLockBlock;
  const uint32_t last = Facts().Size() / kLockBlock - 1;
  const uint32_t sectorsPerBlock = kLockBlock / kLockSector;
  const uint32_t sector = (address % kLockBlock) / kLockSector;
  if (block == 0) return sector;
  if (block == last) return sectorsPerBlock + (last - 1) + sector;
  return sectorsPerBlock + (block - 1);
}

SerialNorChip::Area SerialNorChip::ProtectedArea() const {
  const NorProtectFacts& protect = nor_.protect;
  const uint32_t chipSize = Facts().Size();
  uint32_t value = static_cast<uint32_t>(registers_[Index(NorReg::kStatus1)] & protect.blockProtect) >>
                   std::countr_zero(protect.blockProtect);
  if (IsSet(protect.blockProtect3)) value |= 8;
  uint32_t size = 0;
  if (IsSet(protect.sector)) {
    const uint16_t kib = protect.sectorArea[value & 7];
    size = kib == kWholeArray ? chipSize : kib * 1024u;
  } else if (protect.area[value] != 0) {
    size = chipSize / protect.area[value];
  }
  return IsSet(protect.topBottom) ? Area{0, size} : Area{chipSize - size, chipSize};
}

bool SerialNorChip::Protected(uint32_t start, uint32_t length) const {
  const uint32_t end = start + length;
  if (IsSet(nor_.protect.blockLocks)) {
    for (uint32_t at = start; at < end; at += kLockSector) {
      if (locks_[LockIndex(at)]) return true;
    }
    return false;
  }
  const Area area = ProtectedArea();
  // CMP protects everything outside the area instead.
  if (IsSet(nor_.protect.complement)) return start < area.low || end > area.high;
  return start < area.high && end > area.low;
}
