// SPDX-License-Identifier: MIT
// ReadSfdp and ParseSfdp: what a chip's Serial Flash Discoverable Parameters
// (JEDEC JESD216 up to revision F) say about it, checked before it is trusted.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// How the SFDP space is read and what is believed
// -----------------------------------------------
// Where each field sits and how it is counted: Linux's
// drivers/mtd/spi-nor/sfdp.{c,h}; Zephyr's drivers/flash/jesd216.{c,h}
// (DWORD10, 11 and 14 to 16); EDK2's SpiNorFlashJedecSfdp.h (JESD216F.02);
// Cypress KBA230621 (program times). The dumps in sfdp_test.cpp check them.
//
// The space is read with 5Ah, three address bytes and a dummy byte, whatever
// address mode the chip is in; addresses are 24 bits, so every table must lie
// below 0x1000000. The SFDP header's byte 7 (the access protocol, FFh for this
// legacy read) is not checked: a chip that answered this read with a valid
// signature has been read the way it was.
//
// Revisions. The SFDP header's minor revision is 0 for JESD216, 5 for A, 6 for
// B (Linux's sfdp.h), 7 for C, 8 for D, 9 for E and 0Ah for F (the W77Q51NW,
// a JESD216F part, says 1.10); the major revision must be 1.
// The Basic Flash Parameter Table (BFPT, parameter ID FF00h) is 9 DWORDs long
// in JESD216, 16 in A and B, 20 in C and D, 23 in F (the W77Q51NW's, SFDP 1.10).
// Which fields exist is decided by the table's length alone, never by its
// revision number: the S25FS256T's BFPT says revision 1.0 and is 20 DWORDs
// long. A field in a DWORD past the table's length is "not given" and is never
// read; DWORDs past 16 hold nothing read here and are not read either.
//
// The parameter headers. The first must be the BFPT's (JESD216 makes it the
// one mandatory table). When several BFPT headers of major revision 1 are
// listed, the one of the newest minor revision wins, then the longer table,
// then the one listed first; headers of another major revision are left
// unread, and if none of major revision 1 is left the data is refused. Only
// the NPH + 1 headers the SFDP header counts are read (the W25Q512JV lists a
// third one after them). The 4-byte Address Instruction Table (4BAIT,
// FF84h) is chosen by the same rule; one of another major revision is left
// unread. A vendor's table is never read.
//
// Pointers and lengths, for each table that is read: the pointer must be
// DWORD-aligned ("The address must be DWORD-aligned", the parameter header's
// description as the SST26VF032B datasheet, DS20005218E, prints it), the table
// must not overlap the SFDP header or the parameter headers, and it must end
// inside the 24-bit space. The BFPT must be at least 9 DWORDs long, the 4BAIT
// at least 2.
//
// Density (DWORD2). Bit 31 clear: bits 30:0 hold the number of bits minus
// one. Bit 31 set: the chip holds 2^N bits, N in bits 30:0 (JESD216 uses this
// above 2 Gbit, 0x80000020 for 4 Gbit). The bit count must be a power of two
// and a whole number of bytes, and at most 2^35 bits (4 GiB, what 4-byte
// addresses reach).
//
// Erase types (DWORD8 and DWORD9). Size byte N means 2^N bytes. N = 0 marks
// an absent type, whose opcode byte is FFh (Macronix, ISSI, Infineon dumps)
// or 00h (the N25Q256A's and W25Q256's): size 0 with any other opcode is
// malformed, and so is a type larger than the chip. A table with no erase
// type at all is refused: the program would have no way to erase a sector.
// Two types may share a size or an opcode (the S25FS256T lists 64 KiB and
// 128 KiB, both D8h).
//
// What is reported as given even where chips contradict themselves: the
// address bytes (the IS25WP256 says "3 only" at 32 MiB and takes B7h), QER 7
// (reserved in the revisions Linux decodes, given by the MT35XU01G and the
// W77Q51NW).
//
// Invariants of every accepted result (the fuzz target checks them):
// sizeBytes is a power of two from 1 to 2^32; eraseTypes is not empty, each
// size is a power of two no larger than sizeBytes, sizes do not decrease
// along the list, and each type number 1-4 appears at most once; pageSize is a
// power of two no larger than 32768 or sizeBytes; each time's maximum is at
// least its typical value and both are 0 when either is; the 4BAIT fields are
// false and every opcode4 is 0 when has4ByteInstructionTable is false, and no
// opcode4 is FFh.

/// One erase type: what one command erases and its opcodes.
struct SfdpEraseType {
  uint32_t size = 0;       // bytes, 2^N: N is DWORD8 bits 7:0 (type 1) or 23:16 (type 2), DWORD9 the same for 3 and 4
  uint8_t opcode = 0;      // with the current address mode's address: DWORD8 bits 15:8 / 31:24, DWORD9 likewise
  uint8_t opcode4 = 0;     // 4-byte-address opcode: 4BAIT DWORD2 byte (type - 1) when DWORD1 bit (8 + type) is set;
                           // 0 when there is no 4BAIT, the bit is clear or the byte is 00h or FFh (the W77Q51NW's
                           // 32 KiB type says "supported" with FFh)
  uint32_t typicalMs = 0;  // DWORD10: (count + 1) * unit (1 ms, 16 ms, 128 ms, 1 s); 0 when not given
  uint32_t maxMs = 0;      // typicalMs * 2 * (DWORD10 bits 3:0 + 1); 0 when not given
  uint8_t type = 0;        // 1-4: its place in the BFPT, by which the 4BAIT and sector maps name it

  friend bool operator==(const SfdpEraseType&, const SfdpEraseType&) = default;
};

enum class SfdpAddressBytes : uint8_t { kThreeOnly, kThreeOrFour, kFourOnly };

/// How to enter 4-byte address mode: bits of DWORD16 bits 31:24 (JESD216A
/// on); bit 7 is reserved and some chips set it (the IS25WP256's A9h).
inline constexpr uint8_t kSfdpEnter4ByteB7 = 0x01;                     // B7h
inline constexpr uint8_t kSfdpEnter4ByteWriteEnableB7 = 0x02;          // 06h, then B7h
inline constexpr uint8_t kSfdpEnter4ByteExtendedAddress = 0x04;        // A31:24 in a register: C8h reads, C5h writes
inline constexpr uint8_t kSfdpEnter4ByteBankRegister = 0x08;           // bank register bit 7: 16h reads, 17h writes
inline constexpr uint8_t kSfdpEnter4ByteConfigurationRegister = 0x10;  // nonvolatile bit 0: B5h reads, B1h writes
inline constexpr uint8_t kSfdpEnter4ByteDedicatedOpcodes = 0x20;       // a 4-byte-address opcode set
inline constexpr uint8_t kSfdpEnter4ByteAlways = 0x40;                 // always in 4-byte mode

/// How to leave 4-byte address mode: bits of DWORD16 bits 23:14.
inline constexpr uint16_t kSfdpExit4ByteE9 = 0x001;                     // E9h
inline constexpr uint16_t kSfdpExit4ByteWriteEnableE9 = 0x002;          // 06h, then E9h
inline constexpr uint16_t kSfdpExit4ByteExtendedAddress = 0x004;        // C5h with 00h
inline constexpr uint16_t kSfdpExit4ByteBankRegister = 0x008;           // 17h with bit 7 clear
inline constexpr uint16_t kSfdpExit4ByteConfigurationRegister = 0x010;  // B1h with bit 0 clear
inline constexpr uint16_t kSfdpExit4ByteHardwareReset = 0x020;
inline constexpr uint16_t kSfdpExit4ByteSoftwareReset = 0x040;          // the sequence DWORD16 bits 13:8 give
inline constexpr uint16_t kSfdpExit4BytePowerCycle = 0x080;

/// Quad Enable Requirements, DWORD15 bits 22:20 (JESD216A on): where the QE
/// bit is and how it is written. Linux's sfdp.h quotes the codes' texts.
inline constexpr uint8_t kSfdpQuadEnableNone = 0;             // no QE bit
inline constexpr uint8_t kSfdpQuadEnableSr2Bit1Clears = 1;    // SR2 bit 1, 01h with two bytes; one byte clears SR2
inline constexpr uint8_t kSfdpQuadEnableSr1Bit6 = 2;          // SR1 bit 6, 01h with one byte
inline constexpr uint8_t kSfdpQuadEnableSr2Bit7 = 3;          // SR2 bit 7, written with 3Eh, read with 3Fh
inline constexpr uint8_t kSfdpQuadEnableSr2Bit1 = 4;          // SR2 bit 1, 01h with two bytes; one byte keeps SR2
inline constexpr uint8_t kSfdpQuadEnableSr2Bit1Read35 = 5;    // SR2 bit 1, read with 35h, 01h with two bytes
inline constexpr uint8_t kSfdpQuadEnableSr2Bit1Write31 = 6;   // SR2 bit 1, read with 35h, written with 31h
inline constexpr uint8_t kSfdpQuadEnableReserved = 7;
inline constexpr uint8_t kSfdpQuadEnableNotGiven = 0xFF;      // the table has fewer than 15 DWORDs

/// What the SFDP space says about the chip. Every default is the value of a
/// field the table does not give.
struct SfdpFacts {
  uint8_t revisionMajor = 0;  // SFDP header byte 5
  uint8_t revisionMinor = 0;  // SFDP header byte 4
  uint8_t bfptMajor = 0;      // the chosen BFPT parameter header's byte 2
  uint8_t bfptMinor = 0;      // its byte 1
  uint32_t bfptDwords = 0;    // its byte 3, the table's length; DWORDs past 16 are not read
  uint64_t sizeBytes = 0;     // DWORD2
  uint32_t pageSize = 256;    // 2^N, N in DWORD11 bits 7:4; 256 (or the whole chip, if smaller) where the table
                              // predates the field
  SfdpAddressBytes addressBytes = SfdpAddressBytes::kThreeOnly;  // DWORD1 bits 18:17 (11b is refused)
  std::vector<SfdpEraseType> eraseTypes;                         // ascending by size, absent types left out
  uint8_t enter4ByteMethods = 0;    // DWORD16 bits 31:24, kSfdpEnter4Byte* bits; 0 when not given
  uint16_t exit4ByteMethods = 0;    // DWORD16 bits 23:14, kSfdpExit4Byte* bits; 0 when not given
  uint8_t quadEnable = kSfdpQuadEnableNotGiven;  // DWORD15 bits 22:20, a kSfdpQuadEnable* code
  bool flagStatusPolling = false;   // DWORD14 bit 3: poll 70h bit 7 (0 busy, 1 ready)
  bool has4ByteInstructionTable = false;
  bool read4 = false;               // 4BAIT DWORD1 bit 0: 13h
  bool fastRead4 = false;           // 4BAIT DWORD1 bit 1: 0Ch
  bool program4 = false;            // 4BAIT DWORD1 bit 6: 12h
  uint32_t programTypicalUs = 0;    // page program, DWORD11: (bits 12:8 + 1) * (bit 13 ? 64 : 8) us
  uint32_t programMaxUs = 0;        // programTypicalUs * 2 * (DWORD11 bits 3:0 + 1)
  uint32_t chipEraseTypicalMs = 0;  // DWORD11: (bits 28:24 + 1) * 16 ms, 256 ms, 4 s or 64 s (bits 30:29)
  uint32_t chipEraseMaxMs = 0;      // chipEraseTypicalMs * 2 * (DWORD10 bits 3:0 + 1), the erase multiplier

  friend bool operator==(const SfdpFacts&, const SfdpFacts&) = default;
};

/// Why ReadSfdp failed.
enum class SfdpFailure : uint8_t { kNone, kReadFailed, kNoSignature, kMalformed };

/// The reason is a short lowercase text naming the fault and its value, for
/// the program to print after "SFDP: ".
struct SfdpError {
  SfdpFailure kind = SfdpFailure::kNone;
  std::string reason;
};

/// Reads `length` bytes of the SFDP space at `address` (a 24-bit address); false when the bus read failed.
using SfdpReader = std::function<bool(uint32_t address, uint8_t* destination, uint32_t length)>;

/// Reads the header, the parameter headers, the newest JEDEC BFPT of major
/// revision 1 and the 4BAIT where present, through `read`, reading no more
/// than it needs: the 8-byte header, the parameter headers in one read, then
/// each table (at most 16 BFPT DWORDs, 2 4BAIT DWORDs) in one read each, and
/// nothing more after the first fault. False with `error` set otherwise (a
/// signature of all FF or all 00 bytes, or any other, is kNoSignature; bad
/// contents behind a valid signature are kMalformed). `facts` is written only
/// on success, `error` only on failure.
[[nodiscard]] bool ReadSfdp(const SfdpReader& read, SfdpFacts* facts, SfdpError* error);

/// The same over a dump of the SFDP space (bytes past its end read as FF).
[[nodiscard]] bool ParseSfdp(std::span<const uint8_t> space, SfdpFacts* facts, SfdpError* error);
