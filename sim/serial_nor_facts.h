// SPDX-License-Identifier: MIT
// SerialNorFacts: what tells today's serial NOR parts apart (their registers,
// protection table, erase types, 4-byte addressing and SFDP), one row per
// part beside its SimChipFacts row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

/// The byte-wide registers a part may have besides its status register 1.
enum class NorReg : uint8_t {
  kStatus1,   // 05h on every part
  kStatus2,   // Winbond and GigaDevice status register 2
  kStatus3,   // Winbond and GigaDevice status register 3
  kConfig,    // Macronix configuration register, Spansion configuration register 1
  kFunction,  // ISSI function register
  kCount
};

constexpr size_t kNorRegCount = static_cast<size_t>(NorReg::kCount);

/// One bit (or group of bits) of a register; a zero mask: the part has none.
struct NorBit {
  NorReg reg = NorReg::kStatus1;
  uint8_t mask = 0;
};

/// How the host reaches a register and which of its bits a write changes.
/// Bits in neither mask are read-only (busy, latch, suspend) or reserved.
struct NorRegisterFacts {
  uint8_t readOp = 0;    // 0: the part has no such register
  uint8_t writeOp = 0;   // its own write command; 0: written only through 01h
  uint8_t writable = 0;  // bits a write sets and clears
  uint8_t setOnly = 0;   // one-time programmable bits: a write sets them, nothing clears them
};

/// One erase command: its opcode in the current addressing mode and its
/// dedicated 4-byte-address opcode.
struct NorEraseFacts {
  uint8_t opcode = 0;   // 0: the part has no erase of this size
  uint8_t opcode4 = 0;  // 0: no 4-byte-address form
  uint32_t size = 0;
  uint64_t ns = 0;  // typical
};

/// Where the high address bits of a 3-byte command come from, and how the
/// host switches the addressing mode through a register.
enum class NorAddressRegister : uint8_t {
  kNone,      // up to 16 MiB: three address bytes reach everything
  kExtended,  // extended address register: its value is A31..A24
  kBank,      // bank address register: bit 0 is A24, bit 7 (EXTADD) selects 4-byte addressing
};

/// The protection table: SR1's block-protect value picks a protected area at
/// the top of the array (the bottom with the top/bottom bit set); the
/// complement bit protects everything else instead.
struct NorProtectFacts {
  uint8_t blockProtect = 0;  // BP bits of SR1, lowest first and contiguous
  NorBit blockProtect3{};      // Micron: BP3 apart from BP2..BP0, the value's bit 3
  NorBit topBottom{};          // set: the area is at the bottom
  NorBit sector{};             // SEC: the area counts in 4 KiB sectors (sectorArea)
  NorBit complement{};         // CMP
  NorBit blockLocks{};         // WPS: per-block lock bits decide instead of the table
  // By block-protect value, the denominator of the fraction protected: 64 is
  // the upper (or lower) 64th, 1 all of it, 0 nothing.
  std::array<uint16_t, 16> area{};
  // With SEC set, by block-protect value, the KiB protected; kWholeArray for all.
  std::array<uint16_t, 8> sectorArea{};
};

constexpr uint16_t kWholeArray = 0xFFFF;

struct SerialNorFacts {
  std::array<NorRegisterFacts, kNorRegCount> registers{};
  // 01h takes one data byte for status register 1, or two, the second for
  // this register; kStatus1: one byte only.
  NorReg statusSecondByte = NorReg::kStatus1;
  NorBit quadEnable{};     // non-volatile QE; with it set W# is IO2 and protects nothing
  NorBit statusProtect{};  // SRP0/SRWD: with W# held low the registers cannot be written
  NorBit statusLock{};     // Winbond SRL: the registers cannot be written at all
  uint8_t volatileWriteEnable = 0;  // Winbond 50h: the next register write is volatile; 0: none
  NorProtectFacts protect;

  std::array<NorEraseFacts, 3> erases{};  // by size, smallest first
  // Spansion: the 4 KiB erase works only in this many bytes at the bottom of
  // the array (the parameter sectors), at the top with `parametersAtTop` set;
  // 0: anywhere.
  uint32_t parameterSectors = 0;
  NorBit parametersAtTop{};
  uint8_t chipErase2 = 0;  // a second chip erase opcode besides C7h

  // 4-byte addressing (parts above 16 MiB).
  bool fourByteOpcodes = false;  // 13h, 0Ch, 12h and the erases' opcode4
  uint8_t enter4Byte = 0;        // 0: none
  uint8_t exit4Byte = 0;
  bool modeNeedsLatch = false;   // Micron: write enable before enter and exit
  NorAddressRegister addressRegister = NorAddressRegister::kNone;
  std::array<uint8_t, 2> readAddressOps{};   // 0: unused
  std::array<uint8_t, 2> writeAddressOps{};
  bool addressWriteNeedsLatch = false;
  uint8_t addressRegisterBits = 0;  // bits the register holds
  NorBit fourByteIndicator{};         // read-only bit that shows 4-byte addressing

  bool flagStatus = false;     // Micron: 70h flag status register, 50h clears it
  bool errorsHoldBusy = false;  // Spansion: E_ERR/P_ERR keep WIP set until 30h

  std::span<const uint8_t> sfdp;  // the SFDP space from address 0
};
