// SPDX-License-Identifier: MIT
// FLASHDEV and flashDeviceTable: the flash devices the program knows, by
// identification code and name, with their command set, geometry, erase
// types, addressing, registers, protection table, clocks and times.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

/// Command sets of FLASHDEV::type.
constexpr uint8_t FLASHTYPE_SECTOR_ERASE = 0;  // SFPA
constexpr uint8_t FLASHTYPE_DATAFLASH = 1;     // SFPB
constexpr uint8_t FLASHTYPE_UNSERVED = 2;      // known, but no programmer drives it

/// blockSize of a part without DataFlash blocks.
constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

/// One erase command a part offers.
struct EraseType {
  uint32_t size = 0;    // bytes; 0: an empty slot
  uint8_t opcode = 0;   // with a 3-byte address
  uint8_t opcode4 = 0;  // with a 4-byte address; 0: the part has none
  uint32_t maxUs = 0;   // datasheet maximum
};

/// Erase types a row may list, smallest first.
constexpr size_t kEraseTypeSlots = 3;

/// How a part above 16 MiB is given the upper address bits.
enum class Addressing : uint8_t {
  kThreeBytes,       // 16 MiB or less: three address bytes reach everything
  kFourByteOpcodes,  // 13h, 12h and the erases' 4-byte opcodes; the mode never changes
  kFourByteMode,     // B7h enters 4-byte addressing, E9h leaves it
};

/// How -unprotect clears a part's protection.
enum class ClearRule : uint8_t {
  kWriteZero,         // 01h 00: the older parts hold nothing else in the register
  kClearProtectBits,  // read, clear the protection bits only, write, read back
};

/// How the block-protect value maps to the protected area.
enum class ProtectTable : uint8_t {
  kDoubling,  // value 1 protects `unit` bytes, each higher value doubles them, up to the whole chip
  kUnknown,   // the part's table is not known: any value counts as the whole chip
};

/// Where protection and quad enable sit. Masks are over a 16-bit status
/// word: status register 1 in bits 7..0, the register `secondRead` reads in
/// bits 15..8. A zero mask: the part has no such bit.
struct ProtectionLayout {
  uint16_t bp = 0;    // block-protect bits, lowest first (BP0 is the value's bit 0)
  uint16_t bp3 = 0;   // Micron: BP3 apart from BP2..BP0, the value's bit 3
  uint16_t tb = 0;    // set: the area grows from address 0
  uint16_t sec = 0;   // set: the area counts in 4 KiB sectors, at most 32 KiB
  uint16_t cmp = 0;   // set: everything but the area is protected
  uint16_t srwd = 0;  // SRWD/SRP0: with W# held low the registers cannot be written
  uint16_t quadEnable = 0;  // QE: -unprotect must leave it as it is
  uint32_t unit = 0;        // bytes protected at block-protect value 1
  ProtectTable table = ProtectTable::kDoubling;
  uint8_t secondRead = 0;   // opcode reading the second register; 0: none
  uint8_t secondWrite = 0;  // its own write opcode; 0: none
  bool writeBoth = false;   // 01h must carry the second register too, or it clears it
  ClearRule clear = ClearRule::kWriteZero;
};

/// Quirks beyond the common command set.
struct PartQuirks {
  uint8_t pollOpcode = 0x05;  // register polled for ready: 70h on parts with a flag status register
  uint8_t errorMask = 0;      // bits of the polled register that report a failed program or erase
  uint8_t clearErrors = 0;    // opcode that clears them (50h, 30h); 0: none
  bool modeNeedsWriteEnable = false;  // B7h/E9h/C5h take a write enable first
  // Another part answers the same three bytes: the chip's SFDP, where it has
  // one, must agree with the row (size, erase types), or drives the part.
  bool sharedId = false;
  // That other part lacks the 4-byte opcodes: this one is known by the
  // 4-byte address table in its SFDP, and one without SFDP is driven in
  // 4-byte mode (B7h, E9h).
  bool twinWithoutOpcodes = false;
};

/// One row of the device table.
struct FLASHDEV {
  char name[32]{};
  uint8_t id[3]{};
  uint8_t type{};
  uint8_t busyMask{};    // bits of the polled register that WaitReady tests
  uint8_t readyValue{};  // their value when the device is ready
  uint32_t pageShift{};  // DataFlash: bit position of the page number in a device address
  uint32_t pageSize{};
  uint32_t blockSize{};  // DataFlash erase block; kNoBlock elsewhere
  uint32_t sectorSize{};  // the unit of a range erase on the older parts; the smallest erase type
  uint32_t size{};
  uint32_t readMax{};  // bytes one read command may carry
  // Write protection, as the status register shows it.
  ProtectionLayout protection{};
  // Datasheet maxima in microseconds: each status wait is bounded by its own
  // operation's. 0 where the command set has no such operation.
  uint32_t programMaxUs{};         // page program; DataFlash: buffer to page with built-in erase
  uint32_t programNoEraseMaxUs{};  // DataFlash: buffer to page without erase
  uint32_t eraseAllMaxUs{};     // bulk erase; DataFlash: chip erase
  uint32_t writeStatusMaxUs{};  // write status register
  uint32_t transferMaxUs{};     // DataFlash: main memory page to buffer
  uint32_t eraseAllTypicalMs{};  // shown beside the time a bulk or chip erase has run
  // Erase commands, smallest first; the older parts list only their sector erase.
  std::array<EraseType, kEraseTypeSlots> eraseTypes{};
  Addressing addressing{};
  // Clocks in Hz: the plain read (03h) and every other command.
  uint32_t readMaxHz{};
  uint32_t maxHz{};
  PartQuirks quirks{};
};

/// The device rows, then a terminating row of zeros.
extern const FLASHDEV flashDeviceTable[];

/// The first row whose identification code equals `id`, or null.
const FLASHDEV* FindDeviceById(const uint8_t id[3]);

/// The first row whose name equals `name`, ASCII letter case ignored, or null.
const FLASHDEV* FindDeviceByName(const char* name);
