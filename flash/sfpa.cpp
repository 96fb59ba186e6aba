// SPDX-License-Identifier: MIT
// The sector-erase command set.
#include "flash/sfpa.h"

#include <algorithm>
#include <vector>

#include "spi/spictl.h"

namespace {

constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kReadStatus = 0x05;
// Bulk erase: tens of seconds, minutes on the larger parts.
constexpr uint8_t kBulkErase = 0xC7;
// Page program, with its 4-byte-address twin.
constexpr uint8_t kPageProgram = 0x02;
constexpr uint8_t kPageProgram4 = 0x12;
// Read and fast read (one dummy byte after the address), with their twins.
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kRead4 = 0x13;
constexpr uint8_t kFastRead = 0x0B;
constexpr uint8_t kFastRead4 = 0x0C;
// Write status register: 01h, status register 1 and on some parts the second
// register as its second data byte.
constexpr uint8_t kWriteStatus = 0x01;
// Sent while the data is clocked in; the chip ignores it.
constexpr uint8_t kReadFill = 0x55;
// What a freshly erased byte reads.
constexpr uint8_t kErased = 0xFF;
// With SEC set the area counts 4 KiB sectors and stops at 32 KiB (W25Q128JV
// datasheet, "Status Register Memory Protection").
constexpr uint32_t kSectorAreaUnit = 4096;
constexpr uint32_t kSectorAreaMost = 32768;

/// The value of the bits of `word` under `mask`, packed from the lowest up,
/// so that the block-protect bits read as one number.
uint32_t PackedValue(uint16_t word, uint16_t mask) {
  uint32_t value = 0;
  uint32_t weight = 1;
  for (uint32_t bit = 1; bit <= 0x8000; bit <<= 1) {
    if ((mask & bit) == 0) continue;
    if (word & bit) value |= weight;
    weight <<= 1;
  }
  return value;
}

}  // namespace

bool SFPA::ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source) {
  if (count <= 0) return true;
  if (!InsideOnePage(address, count)) return false;
  if (!ReachWholeArray(ctl)) return false;
  const AddressedCommand header = Addressed(kPageProgram, kPageProgram4, address);
  if (header.length == 0) return false;
  if (!WriteEnable(ctl, true)) return false;
  if (ctl->SelectsInOneCall()) {
    // A one-call transaction sends a single buffer: header and data together.
    std::vector<uint8_t> frame(header.bytes.begin(), header.bytes.begin() + header.length);
    frame.insert(frame.end(), source, source + count);
    if (!StartCommand(ctl, static_cast<int32_t>(frame.size()), frame.data(), nullptr, true)) return false;
  } else if (!Start(ctl, {Send(header.length, header.bytes.data()), Send(count, source)})) {
    return false;
  }
  return WaitFor(ctl, FlashOp::kPageProgram);
}

bool SFPA::ReadStatus(SPICTL* ctl, uint8_t* status) { return ReadRegister(ctl, device.quirks.pollOpcode, status); }

bool SFPA::EraseSector(SPICTL* ctl, uint32_t address) {
  if (address >= device.size) return false;
  const EraseType& smallest = device.eraseTypes[0];
  return EraseUnit(ctl, {address, address - address % smallest.size, smallest.size});
}

bool SFPA::EraseUnit(SPICTL* ctl, const EraseCommand& command) {
  const EraseType* type = TypeOfSize(command.unitSize);
  if (!type || command.address >= device.size) return false;
  if (!ReachWholeArray(ctl)) return false;
  const AddressedCommand header = Addressed(type->opcode, type->opcode4, command.address);
  if (header.length == 0) return false;
  if (!WriteEnable(ctl, true)) return false;
  if (!StartCommand(ctl, header.length, header.bytes.data(), nullptr, true)) return false;
  return WaitFor(ctl, FlashOp::kSectorErase, type->maxUs);
}

bool SFPA::EraseAll(SPICTL* ctl) {
  if (!WriteEnable(ctl, false)) return false;
  const uint8_t command = kBulkErase;
  if (!StartCommand(ctl, 1, &command, nullptr, false)) return false;
  return WaitFor(ctl, FlashOp::kBulkErase);
}

bool SFPA::EraseRange(SPICTL* ctl, uint32_t start, int32_t length) {
  length = LengthInsideDevice(start, length);
  if (length == 0) return true;
  for (const EraseCommand& command : PlanErase(start, start + static_cast<uint32_t>(length))) {
    if (!EraseUnit(ctl, command)) return false;
  }
  return true;
}

std::vector<SFPRG::EraseCommand> SFPA::PlanErase(uint32_t start, uint32_t end) const {
  // One erase type: the command set's own plan, one unit at a time.
  if (device.eraseTypes[1].size == 0) return SFPRG::PlanErase(start, end);
  std::vector<EraseCommand> plan;
  end = std::min(end, device.size);
  if (start >= end) return plan;
  const uint32_t smallest = device.eraseTypes[0].size;
  // The units the range touches, each covered by the largest aligned type
  // that lies wholly inside them: big blocks in the middle, the smallest
  // units at the edges.
  const uint64_t last = std::min<uint64_t>(device.size, (uint64_t{end} + smallest - 1) / smallest * smallest);
  for (uint64_t address = start - start % smallest; address < last;) {
    uint32_t size = smallest;
    for (const EraseType& type : device.eraseTypes) {
      if (type.size > size && Reaches(type) && address % type.size == 0 && address + type.size <= last) {
        size = type.size;
      }
    }
    const uint32_t a = static_cast<uint32_t>(address);
    plan.push_back({a, a, size});
    address += size;
  }
  return plan;
}

bool SFPA::Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) {
  if (!ReachWholeArray(ctl)) return false;
  return ReadInCommands(ctl, start, length, destination, kReadFill, [this](uint32_t address) {
    return fastRead ? Addressed(kFastRead, kFastRead4, address, 1) : Addressed(kRead, kRead4, address);
  });
}

bool SFPA::BeginWrite(SPICTL*) { return true; }

bool SFPA::Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) {
  return WriteInPages(ctl, start, length, source);
}

bool SFPA::EndWrite(SPICTL*) { return true; }

bool SFPA::ReadProtection(SPICTL* ctl, WriteProtection* protection) {
  uint16_t word;
  if (!ReadStatusWord(ctl, &word)) return false;
  const ProtectionLayout& layout = device.protection;
  *protection = WriteProtection{
      .status = static_cast<uint8_t>(word), .statusLocked = (word & layout.srwd) != 0, .areas = {}};
  const bool complement = (word & layout.cmp) != 0;
  if (layout.table == ProtectTable::kUnknown && (complement || ProtectedBytes(word) != 0)) {
    // Whatever the bits mean on this part, something is protected.
    protection->areas.push_back({0, device.size});
    return true;
  }
  const uint32_t bytes = ProtectedBytes(word);
  // The area sits at the top, or at the bottom with TB set; with CMP set the
  // rest of the chip is protected instead.
  const bool fromBottom = ((word & layout.tb) != 0) != complement;
  const uint32_t length = complement ? device.size - bytes : bytes;
  if (length == 0) return true;
  const uint32_t start = fromBottom ? 0 : device.size - length;
  protection->areas.push_back({start, start + length});
  return true;
}

uint32_t SFPA::ProtectedBytes(uint16_t word) const {
  const ProtectionLayout& layout = device.protection;
  uint32_t value = PackedValue(word, layout.bp);
  if (word & layout.bp3) value |= 8;
  if (value == 0) return 0;
  if (layout.table == ProtectTable::kUnknown) return device.size;
  const uint32_t top = (1u << __builtin_popcount(layout.bp | layout.bp3)) - 1;
  if ((word & layout.sec) != 0 && value < top) {
    return std::min(kSectorAreaUnit << std::min<uint32_t>(value - 1, 3), kSectorAreaMost);
  }
  // Each value above 1 doubles the area; beyond the chip it is the whole chip.
  return static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{layout.unit} << std::min<uint32_t>(value - 1, 32), device.size));
}

bool SFPA::ClearProtection(SPICTL* ctl) {
  if (device.protection.clear == ClearRule::kWriteZero) {
    // Status register 00: every block-protect bit clear, and SRWD with them.
    const uint8_t command[2] = {kWriteStatus, 0x00};
    return WriteEnable(ctl, true) && StartCommand(ctl, 2, command, nullptr, true) &&
           WaitFor(ctl, FlashOp::kWriteStatus);
  }
  const ProtectionLayout& layout = device.protection;
  uint16_t before;
  if (!ReadStatusWord(ctl, &before)) return false;
  // With every block-protect bit and CMP clear nothing is protected, so TB
  // and SEC stay as they are, as does every bit that is not protection.
  const uint16_t after = before & static_cast<uint16_t>(~(layout.bp | layout.bp3 | layout.cmp));
  if (!WriteStatusWord(ctl, before, after)) return false;
  // Read back: quad enable must have survived, or a board that boots in
  // quad mode would no longer boot.
  uint16_t now;
  if (!ReadStatusWord(ctl, &now)) return false;
  return (now & layout.quadEnable) == (before & layout.quadEnable);
}

bool SFPA::WriteStatusWord(SPICTL* ctl, uint16_t before, uint16_t after) {
  const ProtectionLayout& layout = device.protection;
  const uint8_t low = static_cast<uint8_t>(after);
  const uint8_t high = static_cast<uint8_t>(after >> 8);
  const bool highChanges = (before ^ after) >> 8 != 0;
  if (static_cast<uint8_t>(before) != low || (highChanges && layout.writeBoth)) {
    const uint8_t command[3] = {kWriteStatus, low, high};
    const int32_t count = layout.writeBoth ? 3 : 2;
    if (!WriteEnable(ctl, true) || !StartCommand(ctl, count, command, nullptr, true) ||
        !WaitFor(ctl, FlashOp::kWriteStatus)) {
      return false;
    }
  }
  if (highChanges && !layout.writeBoth && layout.secondWrite != 0) {
    const uint8_t command[2] = {layout.secondWrite, high};
    if (!WriteEnable(ctl, true) || !StartCommand(ctl, 2, command, nullptr, true) ||
        !WaitFor(ctl, FlashOp::kWriteStatus)) {
      return false;
    }
  }
  return true;
}

bool SFPA::ReadStatusWord(SPICTL* ctl, uint16_t* word) {
  uint8_t low;
  uint8_t high = 0;
  if (!ReadRegister(ctl, kReadStatus, &low)) return false;
  if (device.protection.secondRead != 0 && !ReadRegister(ctl, device.protection.secondRead, &high)) return false;
  *word = static_cast<uint16_t>(low | high << 8);
  return true;
}

uint32_t SFPA::GetEraseUnit() { return device.eraseTypes[0].size; }

bool SFPA::RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents, const uint8_t* current, bool erase) {
  const uint32_t unit = GetEraseUnit();
  if (start % unit != 0 || LengthInsideDevice(start, 1) == 0) return false;
  if (erase && !EraseSector(ctl, start)) return false;
  const std::vector<uint8_t> erased(device.pageSize, kErased);
  for (uint32_t offset = 0; offset < unit; offset += device.pageSize) {
    // What the page holds before its program: nothing to do when that is
    // already what it should hold (an erased page that stays erased, say).
    const uint8_t* before = erase ? erased.data() : current + offset;
    if (std::equal(contents + offset, contents + offset + device.pageSize, before)) continue;
    if (!ProgramPage(ctl, start + offset, static_cast<int32_t>(device.pageSize), contents + offset)) return false;
  }
  return true;
}

bool SFPA::WriteEnable(SPICTL* ctl, bool oneCall) {
  const uint8_t command = kWriteEnable;
  return StartCommand(ctl, 1, &command, nullptr, oneCall);
}

bool SFPA::ReadRegister(SPICTL* ctl, uint8_t opcode, uint8_t* value) {
  const uint8_t tx[2] = {opcode, 0};
  uint8_t rx[2];
  if (!Command(ctl, 2, tx, rx, true)) return false;
  *value = rx[1];
  return true;
}

const EraseType* SFPA::TypeOfSize(uint32_t size) const {
  for (const EraseType& type : device.eraseTypes) {
    if (type.size == size && size != 0) return &type;
  }
  return nullptr;
}

bool SFPA::Reaches(const EraseType& type) const {
  // A part addressed with its 4-byte opcodes can use only the types that have one.
  return device.size <= (1u << 24) || device.addressing != Addressing::kFourByteOpcodes || type.opcode4 != 0;
}
