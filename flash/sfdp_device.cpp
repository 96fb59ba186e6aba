// SPDX-License-Identifier: MIT
// A device row from SFDP facts.
#include "flash/sfdp_device.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kThreeByteReach = 1u << 24;
constexpr uint64_t kFourByteReach = uint64_t{1} << 32;
// SFDP says nothing of clocks: the plain read and everything else at the
// limits of the slowest parts of the table (the older M25P generation's
// 03h at 33 MHz, its other commands at 40 MHz).
constexpr uint32_t kSfdpReadMaxHz = 33000000;
constexpr uint32_t kSfdpMaxHz = 40000000;
// Bounds where the table gives no time, generous for any serial NOR part:
// the largest maxima of the parts in the table and then some.
constexpr uint32_t kProgramMaxUs = 10000;
constexpr uint32_t kEraseMaxUs = 4000000;
constexpr uint32_t kChipEraseMaxUs = 1000000000;
constexpr uint32_t kWriteStatusMaxUs = 2000000;
// Micron's flag status register (70h): bit 7 set when ready.
constexpr uint8_t kFlagStatus = 0x70;
constexpr uint8_t kFlagReady = 0x80;
// Block-protect bits every family keeps in status register 1 bits 5..2
// (BP3..BP0, or BP2..BP0 and TB).
constexpr uint16_t kCommonBlockProtect = 0x3C;

/// Where QE sits and how the register holding it is read and written.
void SetQuadEnable(uint8_t code, ProtectionLayout* layout) {
  switch (code) {
    case kSfdpQuadEnableSr1Bit6:
      layout->quadEnable = 0x0040;
      break;
    case kSfdpQuadEnableSr2Bit1Clears:
    case kSfdpQuadEnableSr2Bit1:
    case kSfdpQuadEnableSr2Bit1Read35:
      // 01h with both bytes: one byte would clear status register 2 on some.
      layout->quadEnable = 0x0200;
      layout->secondRead = 0x35;
      layout->writeBoth = true;
      break;
    case kSfdpQuadEnableSr2Bit1Write31:
      layout->quadEnable = 0x0200;
      layout->secondRead = 0x35;
      layout->secondWrite = 0x31;
      break;
    case kSfdpQuadEnableSr2Bit7:
      layout->quadEnable = 0x8000;
      layout->secondRead = 0x3F;
      layout->secondWrite = 0x3E;
      break;
    default:
      break;  // none, reserved or not given: nothing to keep
  }
}

/// The 4-byte twin of a 3-byte erase opcode in the dedicated set: 4 KiB,
/// 32 KiB and 64 KiB (JESD216 4BAIT's usual opcodes); 0 for any other.
uint8_t UsualOpcode4(uint8_t opcode) {
  switch (opcode) {
    case 0x20: return 0x21;
    case 0x52: return 0x5C;
    case 0xD8: return 0xDC;
    default: return 0;
  }
}

/// The 4-byte addressing this program drives that the part offers.
bool SetAddressing(const SfdpFacts& facts, FLASHDEV* row, std::string* why) {
  if (facts.sizeBytes <= kThreeByteReach) {
    row->addressing = Addressing::kThreeBytes;
    return true;
  }
  const bool opcodes = facts.has4ByteInstructionTable && facts.read4 && facts.program4;
  // DWORD16 may name the dedicated 4-byte set without a 4-byte address
  // table (the IS25WP256's does): 13h, 12h and the erases' usual twins.
  const bool dedicated = (facts.enter4ByteMethods & kSfdpEnter4ByteDedicatedOpcodes) != 0;
  if (opcodes || dedicated) {
    row->addressing = Addressing::kFourByteOpcodes;
    return true;
  }
  const bool enters = facts.enter4ByteMethods & (kSfdpEnter4ByteB7 | kSfdpEnter4ByteWriteEnableB7);
  const bool exits = facts.exit4ByteMethods & (kSfdpExit4ByteE9 | kSfdpExit4ByteWriteEnableE9);
  if (enters && exits) {
    row->addressing = Addressing::kFourByteMode;
    row->quirks.modeNeedsWriteEnable = (facts.enter4ByteMethods & kSfdpEnter4ByteB7) == 0;
    return true;
  }
  *why = "no 4-byte addressing this program drives (4-byte opcodes, or B7h and E9h)";
  return false;
}

}  // namespace

bool DeviceFromSfdp(const SfdpFacts& facts, FLASHDEV* row, std::string* why) {
  if (facts.sizeBytes > kFourByteReach - 1 || facts.eraseTypes.empty()) {
    *why = "a part larger than 4 GiB";
    return false;
  }
  FLASHDEV made{};
  std::strncpy(made.name, kSfdpDeviceName, sizeof made.name - 1);
  made.type = FLASHTYPE_SECTOR_ERASE;
  made.busyMask = 0x01;
  made.pageShift = 8;
  made.pageSize = facts.pageSize;
  made.blockSize = kNoBlock;
  made.size = static_cast<uint32_t>(facts.sizeBytes);
  made.readMax = made.size;
  if (!SetAddressing(facts, &made, why)) return false;
  // Up to three types, smallest first; above 16 MiB with 4-byte opcodes
  // only those that have one reach the whole array.
  size_t slot = 0;
  const bool usualTwins = made.addressing == Addressing::kFourByteOpcodes && !facts.has4ByteInstructionTable;
  for (SfdpEraseType type : facts.eraseTypes) {
    if (slot == kEraseTypeSlots) break;
    if (usualTwins) type.opcode4 = UsualOpcode4(type.opcode);
    if (made.addressing == Addressing::kFourByteOpcodes && type.opcode4 == 0) continue;
    if (slot > 0 && made.eraseTypes[slot - 1].size == type.size) continue;
    made.eraseTypes[slot++] = {.size = type.size,
                               .opcode = type.opcode,
                               .opcode4 = type.opcode4,
                               .maxUs = type.maxMs != 0 ? type.maxMs * 1000 : kEraseMaxUs};
  }
  if (slot == 0) {
    *why = "no erase type with a 4-byte opcode";
    return false;
  }
  made.sectorSize = made.eraseTypes[0].size;
  made.programMaxUs = facts.programMaxUs != 0 ? facts.programMaxUs : kProgramMaxUs;
  made.eraseAllMaxUs = facts.chipEraseMaxMs != 0 && facts.chipEraseMaxMs < kChipEraseMaxUs / 1000
                           ? facts.chipEraseMaxMs * 1000
                           : kChipEraseMaxUs;
  made.eraseAllTypicalMs = facts.chipEraseTypicalMs;
  made.writeStatusMaxUs = kWriteStatusMaxUs;
  made.protection = {.bp = kCommonBlockProtect,
                     .table = ProtectTable::kUnknown,
                     .clear = ClearRule::kClearProtectBits};
  SetQuadEnable(facts.quadEnable, &made.protection);
  if (facts.flagStatusPolling) {
    made.quirks.pollOpcode = kFlagStatus;
    made.busyMask = kFlagReady;
    made.readyValue = kFlagReady;
  }
  made.readMaxHz = kSfdpReadMaxHz;
  made.maxHz = kSfdpMaxHz;
  *row = made;
  return true;
}
