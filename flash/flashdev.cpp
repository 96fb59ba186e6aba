// SPDX-License-Identifier: MIT
// The device table and its look-ups.
#include "flash/flashdev.h"

#include "base/text.h"

namespace {

bool SameId(const uint8_t a[3], const uint8_t b[3]) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

template <typename Match>
const FLASHDEV* FindRow(Match matches) {
  for (const FLASHDEV* row = flashDeviceTable; row->id[0] != 0; ++row) {
    if (matches(*row)) return row;
  }
  return nullptr;
}

}  // namespace

namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * kKiB;
constexpr uint32_t kMHz = 1000000;
constexpr uint32_t kMs = 1000;  // in microseconds
constexpr uint32_t kS = 1000 * kMs;

// The M25P and N25Q parts: BP2..BP0 in status bits 4..2, SRWD in bit 7, and
// -unprotect writes the register with 00.
constexpr ProtectionLayout M25pProtection(uint32_t unit) {
  return {.bp = 0x1C, .srwd = 0x80, .unit = unit, .clear = ClearRule::kWriteZero};
}

// Read, clear the block-protect bits, write back: every other bit (QE above
// all, which a board that boots in quad mode needs) stays as it was.
constexpr ClearRule kKeepOthers = ClearRule::kClearProtectBits;

// Micron's flag status register (70h): bit 7 ready, bit 5 erase error, bit 4
// program error, bit 1 protection error, cleared by 50h; B7h, E9h and the
// extended address register's write take a write enable first (MT25QL512
// datasheet, "Flag Status Register"; Linux drivers/mtd/spi-nor/micron-st.c).
constexpr PartQuirks kMicronFlags = {
    .pollOpcode = 0x70, .errorMask = 0x32, .clearErrors = 0x50, .modeNeedsWriteEnable = true};

// Spansion FL-S: E_ERR (bit 5) and P_ERR (bit 6) of status register 1 hold
// WIP set after a failed erase or program until 30h clears them (S25FL256S
// datasheet, "Status Register 1"; Linux drivers/mtd/spi-nor/spansion.c).
constexpr PartQuirks kSpansionErrors = {.errorMask = 0x60, .clearErrors = 0x30};

}  // namespace

// clang-format off
const FLASHDEV flashDeviceTable[] = {
    // The older parts keep their single erase unit (D8h) and 03h reads up to
    // 33 MHz. M25P80..M25P128 (Numonyx/Micron M25P datasheets): page program
    // 5 ms, write status 15 ms, 64 KiB sector 3 s at most; fC 75 MHz on the
    // later generation, 40 MHz (M25P80) and 50 MHz on the older one, which
    // answers the same code: the older limits hold. BP = 1 protects the top
    // sector (the top two of the M25P64, its 64th); each higher value
    // doubles the area.
    {.name = "M25P80", .id = {0x20, 0x20, 0x14}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01, .readyValue = 0x00,
     .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB, .size = 1 * kMiB,
     .readMax = 1 * kMiB, .protection = M25pProtection(64 * kKiB), .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 20 * kS, .writeStatusMaxUs = 15 * kMs,
     .eraseAllTypicalMs = 8000, .eraseTypes = {{{64 * kKiB, 0xD8, 0, 3 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 33 * kMHz, .maxHz = 40 * kMHz},
    {.name = "M25P16", .id = {0x20, 0x20, 0x15}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01, .readyValue = 0x00,
     .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB, .size = 2 * kMiB,
     .readMax = 2 * kMiB, .protection = M25pProtection(64 * kKiB), .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 40 * kS, .writeStatusMaxUs = 15 * kMs,
     .eraseAllTypicalMs = 13000, .eraseTypes = {{{64 * kKiB, 0xD8, 0, 3 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz},
    {.name = "M25P32", .id = {0x20, 0x20, 0x16}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01, .readyValue = 0x00,
     .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB, .size = 4 * kMiB,
     .readMax = 4 * kMiB, .protection = M25pProtection(64 * kKiB), .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 80 * kS, .writeStatusMaxUs = 15 * kMs,
     .eraseAllTypicalMs = 23000, .eraseTypes = {{{64 * kKiB, 0xD8, 0, 3 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz},
    {.name = "M25P64", .id = {0x20, 0x20, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01, .readyValue = 0x00,
     .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB, .size = 8 * kMiB,
     .readMax = 8 * kMiB, .protection = M25pProtection(128 * kKiB), .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 160 * kS, .writeStatusMaxUs = 15 * kMs,
     .eraseAllTypicalMs = 68000, .eraseTypes = {{{64 * kKiB, 0xD8, 0, 3 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz},
    // The one sector-erase part with 256 KiB sectors (6 s at most).
    {.name = "M25P128", .id = {0x20, 0x20, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01, .readyValue = 0x00,
     .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 256 * kKiB, .size = 16 * kMiB,
     .readMax = 16 * kMiB, .protection = M25pProtection(256 * kKiB), .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 250 * kS, .writeStatusMaxUs = 15 * kMs,
     .eraseAllTypicalMs = 105000, .eraseTypes = {{{256 * kKiB, 0xD8, 0, 6 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz},
    // N25Q128 (N25Q128A13 datasheet): BP3 in bit 6 and TB in bit 5 (set: the
    // area grows from the bottom), everything protected from BP = 9 on; write
    // status 8 ms; READ 54 MHz, otherwise 108 MHz.
    {.name = "N25Q128", .id = {0x20, 0xBA, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01, .readyValue = 0x00,
     .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB, .size = 16 * kMiB,
     .readMax = 16 * kMiB,
     .protection = {.bp = 0x1C, .bp3 = 0x40, .tb = 0x20, .srwd = 0x80, .unit = 64 * kKiB,
                    .clear = ClearRule::kWriteZero},
     .programMaxUs = 5 * kMs, .eraseAllMaxUs = 250 * kS, .writeStatusMaxUs = 8 * kMs,
     .eraseAllTypicalMs = 170000, .eraseTypes = {{{64 * kKiB, 0xD8, 0, 3 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 54 * kMHz, .maxHz = 108 * kMHz},
    // AT45DB081D: the sizes count 264-byte pages, 256 pages a sector, 8 a
    // block, 4,096 in all; "ready" is status bit 7 set. Status bit 1 says
    // that sector protection is enabled. Page program with built-in erase
    // 40 ms, without it 6 ms, page to buffer 200 us, chip erase 22 s at most;
    // continuous read 03h 33 MHz, otherwise 66 MHz.
    {.name = "AT45DB081", .id = {0x1F, 0x25, 0x00}, .type = FLASHTYPE_DATAFLASH, .busyMask = 0x80, .readyValue = 0x80,
     .pageShift = 9, .pageSize = 264, .blockSize = 2112, .sectorSize = 67584, .size = 1081344, .readMax = 1081344,
     .protection = {.bp = 0x02}, .programMaxUs = 40 * kMs, .programNoEraseMaxUs = 6 * kMs,
     .eraseAllMaxUs = 22 * kS, .transferMaxUs = 200, .eraseAllTypicalMs = 7000,
     .addressing = Addressing::kThreeBytes, .readMaxHz = 33 * kMHz, .maxHz = 66 * kMHz},
    // Winbond W25Q128JV (datasheet rev. F): SR1 BUSY, WEL, BP2..BP0, TB, SEC,
    // SRP; SR2 (35h, written by 31h) SRL, QE, LB3..LB1, CMP. BP = 1 protects
    // the top 64th, each higher value doubles it, 7 all; SEC counts 4 KiB
    // sectors instead (4, 8, 16, 32 KiB); CMP protects the rest. Maxima:
    // page 3 ms, write status 15 ms, 4 KiB 400 ms, 32 KiB 1.6 s, 64 KiB 2 s,
    // chip 200 s (40 s typical); 03h 50 MHz, otherwise 133 MHz. The
    // W25Q128FV and the older W25Q128BV answer the same code; on the older
    // one a 01h with one byte clears status register 2, so both go in one.
    {.name = "W25Q128JV", .id = {0xEF, 0x40, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB,
     .protection = {.bp = 0x1C, .tb = 0x20, .sec = 0x40, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200,
                    .unit = 256 * kKiB, .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers},
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 40000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0, 400 * kMs}, {32 * kKiB, 0x52, 0, 1600 * kMs}, {64 * kKiB, 0xD8, 0, 2 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz,
     .quirks = {.sharedId = true}},
    // W25Q256JV: as the W25Q128JV with BP3..BP0 in bits 5..2 and TB in bit 6
    // (no SEC): BP = 1 protects the top 64 KiB block, doubling up to all.
    // Dedicated 4-byte commands 13h, 0Ch, 12h, 21h and DCh, none for 32 KiB;
    // chip erase 400 s at most (80 s typical).
    {.name = "W25Q256JV", .id = {0xEF, 0x40, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .tb = 0x40, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200,
                    .unit = 64 * kKiB, .secondRead = 0x35, .secondWrite = 0x31, .clear = kKeepOthers},
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 400 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 80000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1600 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 2 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz,
     .quirks = {.sharedId = true, .twinWithoutOpcodes = true}},
    // GigaDevice GD25Q128C: the W25Q128JV's registers and table (BP4 and BP3
    // act as SEC and TB); 01h takes one byte, 31h writes SR2. 03h 80 MHz,
    // otherwise 104 MHz. Its maxima were not found: the bounds are the
    // W25Q128JV's, doubled. GD25Q127C answers the same code.
    {.name = "GD25Q128C", .id = {0xC8, 0x40, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB,
     .protection = {.bp = 0x1C, .tb = 0x20, .sec = 0x40, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200,
                    .unit = 256 * kKiB, .secondRead = 0x35, .secondWrite = 0x31, .clear = kKeepOthers},
     .programMaxUs = 6 * kMs, .eraseAllMaxUs = 400 * kS,
     .writeStatusMaxUs = 30 * kMs, .eraseAllTypicalMs = 50000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0, 800 * kMs}, {32 * kKiB, 0x52, 0, 3200 * kMs}, {64 * kKiB, 0xD8, 0, 4 * kS}}},
     .addressing = Addressing::kThreeBytes, .readMaxHz = 80 * kMHz, .maxHz = 104 * kMHz,
     .quirks = {.sharedId = true}},
    // Macronix MX25L25645G: status WIP, WEL, BP3..BP0, QE, SRWD; TB in the
    // configuration register (15h) bit 3, one-time programmable; BP = 1
    // protects the top 64 KiB block, doubling up to all. 4-byte commands 13h,
    // 0Ch, 12h, 21h, 5Ch, DCh. Maxima taken generously (not found): page
    // 3 ms, write status 40 ms, 4 KiB 400 ms, 32 KiB 2 s, 64 KiB 2 s, chip
    // 400 s; 03h 50 MHz, otherwise 133 MHz. MX25L25635E/F answer the same code.
    {.name = "MX25L25645G", .id = {0xC2, 0x20, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .tb = 0x0800, .srwd = 0x80, .quadEnable = 0x40, .unit = 64 * kKiB,
                    .secondRead = 0x15, .clear = kKeepOthers},
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 400 * kS,
     .writeStatusMaxUs = 40 * kMs, .eraseAllTypicalMs = 80000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0x5C, 2 * kS},
                     {64 * kKiB, 0xD8, 0xDC, 2 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz,
     .quirks = {.sharedId = true, .twinWithoutOpcodes = true}},
    // ISSI IS25LP256: status WIP, WEL, BP3..BP0, QE, SRWD; TBS in the
    // function register (48h) bit 1, one-time programmable; BP = 1 protects
    // the top 64 KiB block, doubling. 4-byte commands 13h, 0Ch, 12h, 21h,
    // 5Ch, DCh. Maxima from the SFDP of its 1.8 V twin IS25WP256 (eight times
    // the typical): page 1.2 ms, 4 KiB 384 ms, 32 KiB 1.28 s, 64 KiB 2.4 s,
    // chip 480 s; write status 15 ms; 03h 50 MHz, otherwise 133 MHz.
    {.name = "IS25LP256", .id = {0x9D, 0x60, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .tb = 0x0200, .srwd = 0x80, .quadEnable = 0x40, .unit = 64 * kKiB,
                    .secondRead = 0x48, .clear = kKeepOthers},
     .programMaxUs = 1200, .eraseAllMaxUs = 480 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 60000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 384 * kMs}, {32 * kKiB, 0x52, 0x5C, 1280 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 2432 * kMs}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    // Micron MT25QL512 (MT25QL512ABB datasheet): status BP2..BP0, TB, BP3,
    // SRWD as the N25Q128; polled on the flag status register. BP = 1
    // protects the top 64 KiB sector, doubling. 4-byte commands 13h, 0Ch,
    // 12h, 21h, DCh (none for 32 KiB). Maxima: 4 KiB 400 ms, 32 KiB 1 s,
    // 64 KiB 1 s, bulk 460 s; page 1.8 ms and write status 8 ms taken
    // generously; READ 66 MHz, otherwise 133 MHz. The N25Q512A answers the
    // same three bytes (its extended ID differs).
    {.name = "MT25QL512", .id = {0x20, 0xBA, 0x20}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 64 * kMiB, .readMax = 64 * kMiB,
     .protection = {.bp = 0x1C, .bp3 = 0x40, .tb = 0x20, .srwd = 0x80, .unit = 64 * kKiB, .clear = kKeepOthers},
     .programMaxUs = 1800, .eraseAllMaxUs = 460 * kS,
     .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 153000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1 * kS}, {64 * kKiB, 0xD8, 0xDC, 1 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 66 * kMHz, .maxHz = 133 * kMHz,
     .quirks = kMicronFlags},
    // Infineon (Spansion) S25FL256S, 64 KiB sectors: status register 1 WIP,
    // WEL, BP2..BP0, E_ERR, P_ERR, SRWD; configuration register 1 (35h, the
    // second data byte of 01h) QUAD in bit 1 and TBPROT in bit 5, one-time
    // programmable. BP = 1 protects the top 64th. Its 4 KiB parameter sectors
    // sit at the bottom or, with TBPARM, the top, and 20h is ignored outside
    // them: only the 64 KiB erase is used, which covers them too. 4-byte
    // commands 13h, 0Ch, 12h, DCh; no B7h, and E9h is its password unlock,
    // never sent. Maxima taken from the family (S25FL512S): 64 KiB 2.6 s,
    // bulk 460 s; page 2 ms and write registers 2 s generously; READ 50 MHz,
    // otherwise 133 MHz. The 256 KiB-sector option answers the same code:
    // its SFDP lists no 64 KiB erase, and it is driven from its SFDP.
    {.name = "S25FL256S", .id = {0x01, 0x02, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x1C, .tb = 0x2000, .srwd = 0x80, .quadEnable = 0x0200, .unit = 512 * kKiB,
                    .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers},
     .programMaxUs = 2 * kMs, .eraseAllMaxUs = 460 * kS,
     .writeStatusMaxUs = 2 * kS, .eraseAllTypicalMs = 103000,
     .eraseTypes = {{{64 * kKiB, 0xD8, 0xDC, 2600 * kMs}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz,
     .quirks = {.errorMask = 0x60, .clearErrors = 0x30, .sharedId = true}},
    {},
};
// clang-format on

const FLASHDEV* FindDeviceById(const uint8_t id[3]) {
  return FindRow([id](const FLASHDEV& row) { return SameId(row.id, id); });
}

const FLASHDEV* FindDeviceByName(const char* name) {
  return FindRow([name](const FLASHDEV& row) { return EqualsIgnoringCase(row.name, name); });
}
