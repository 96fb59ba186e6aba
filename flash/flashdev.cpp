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

// Sources the rows below name: Linux drivers/mtd/spi-nor/<vendor>.c (flags,
// shared codes, how 4-byte addresses are reached); flashrom
// flashchips/<vendor>.c (opcodes, erase units, status-register bit maps, how
// the status registers are written); QEMU hw/block/m25p80_sfdp.c (SFDP dumps
// read from real parts, decoded as flash/sfdp_test.cpp does). The datasheets
// a row names were not read beyond their covers; a fact that comes from
// elsewhere says so.

// Erase types of the parts with 4 KiB (20h), 32 KiB (52h) and 64 KiB (D8h) erases.
constexpr std::array<EraseType, kEraseTypeSlots> Erase4k32k64k(uint32_t max4k, uint32_t max32k, uint32_t max64k) {
  return {{{4 * kKiB, 0x20, 0, max4k}, {32 * kKiB, 0x52, 0, max32k}, {64 * kKiB, 0xD8, 0, max64k}}};
}

// Erase types of the parts whose code an older part without a 32 KiB erase
// answers too: 4 KiB (20h) and 64 KiB (D8h) only.
constexpr std::array<EraseType, kEraseTypeSlots> Erase4k64k(uint32_t max4k, uint32_t max64k) {
  return {{{4 * kKiB, 0x20, 0, max4k}, {64 * kKiB, 0xD8, 0, max64k}}};
}

// The JV generation's maxima, as the W25Q128JV row gives them: 4 KiB 400 ms,
// 32 KiB 1.6 s, 64 KiB 2 s (the W25Q64JV's 4 KiB maximum is quoted the same
// in public driver notes; the smaller parts' own tables were not read).
constexpr std::array<EraseType, kEraseTypeSlots> kWinbondJvErase = Erase4k32k64k(400 * kMs, 1600 * kMs, 2 * kS);

// Where a part's own maxima were not found: the W25Q128JV's, doubled, as the
// GD25Q128C row takes them (page 6 ms, status write 30 ms). A bound too long
// only delays the report of a dead chip.
constexpr std::array<EraseType, kEraseTypeSlots> kGenerousErase = Erase4k32k64k(800 * kMs, 3200 * kMs, 4 * kS);
constexpr uint32_t kGenerousProgramUs = 6 * kMs;
constexpr uint32_t kGenerousWriteStatusUs = 30 * kMs;

// Macronix maxima where a part's own were not found: 4 KiB 800 ms and chip
// 600 s from ST's BSP header for the MX25L51245G (mx25l512.h), 32 KiB 2.24 s,
// 64 KiB 4.03 s and page 3.07 ms from the MX66L1G45G's SFDP (QEMU), the
// larger of the two where both give one. The MX66L51235F row adds the
// 32 KiB type; the others never send 52h (see the MX25L3233F row).
constexpr std::array<EraseType, kEraseTypeSlots> kMacronixErase = Erase4k64k(800 * kMs, 4032 * kMs);

// ISSI maxima from the IS25WP256's SFDP (QEMU; eight times its typical
// times): 4 KiB 384 ms, 32 KiB 1.28 s, 64 KiB 2.43 s, page 1.2 ms, chip 480 s.
constexpr std::array<EraseType, kEraseTypeSlots> kIssiErase = Erase4k32k64k(384 * kMs, 1280 * kMs, 2432 * kMs);

// Micron MT25Q maxima, as the MT25QL512 row gives them (ST's BSP header
// mt25ql512abb.h): 4 KiB 400 ms, 32 KiB 1 s, 64 KiB 1 s; bulk 460 s.
constexpr std::array<EraseType, kEraseTypeSlots> kMicronErase = Erase4k32k64k(400 * kMs, 1 * kS, 1 * kS);

// Status register 1 BP2..BP0 (bits 4..2), TB (5), SEC (6), SRP (7); status
// register 2 (35h) QE in bit 1 and CMP in bit 6: the Winbond JV parts and
// the GigaDevice and XMC parts that copy them (flashrom's bit maps). With
// `writeBoth`, 01h carries both registers, as Linux writes them unless a part
// says otherwise (spi_nor_init_default_params in core.c): on some older parts
// a one-byte 01h clears status register 2, QE with it (JESD216 QER 001b),
// while a two-byte 01h that a part refuses leaves both registers as they
// were, and -unprotect reports the failure.
constexpr ProtectionLayout SecTbProtection(uint32_t unit, bool writeBoth) {
  return {.bp = 0x1C, .tb = 0x20, .sec = 0x40, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200, .unit = unit,
          .secondRead = 0x35, .secondWrite = static_cast<uint8_t>(writeBoth ? 0 : 0x31), .writeBoth = writeBoth,
          .clear = kKeepOthers};
}

// BP3..BP0 (bits 5..2) and QE (bit 6) in status register 1, no second
// register read: the Macronix and ISSI parts whose table is not known. A
// one-byte 01h carries QE, which stays as it was.
constexpr ProtectionLayout kQeInStatusUnknownTable = {
    .bp = 0x3C, .srwd = 0x80, .quadEnable = 0x40, .table = ProtectTable::kUnknown, .clear = kKeepOthers};

// The MT25Q and N25Q status register: BP2..BP0 (bits 4..2), TB (5), BP3 (6),
// SRWD (7); BP = 1 protects the top 64 KiB sector, each higher value doubles
// it (Linux: SPI_NOR_HAS_LOCK | HAS_TB | 4BIT_BP | BP3_SR_BIT6).
constexpr ProtectionLayout kMicronProtection = {
    .bp = 0x1C, .bp3 = 0x40, .tb = 0x20, .srwd = 0x80, .unit = 64 * kKiB, .clear = kKeepOthers};

// The 16 MiB S25FL-S parts: the S25FL256S row's registers, configuration
// register 1 carried by 01h; BP = 1 protects the top 64th.
constexpr ProtectionLayout SpansionProtection(ProtectTable table) {
  return {.bp = 0x1C, .tb = 0x2000, .srwd = 0x80, .quadEnable = 0x0200, .unit = 256 * kKiB, .table = table,
          .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers};
}

// EON's one status register: BP2..BP0 (bits 4..2), TB (5), QE (6), SRP (7).
constexpr ProtectionLayout EonProtection(uint32_t unit, ProtectTable table) {
  return {.bp = 0x1C, .tb = 0x20, .srwd = 0x80, .quadEnable = 0x40, .unit = unit, .table = table,
          .clear = kKeepOthers};
}

// The N25Q256A's status register, whose table is not known.
constexpr ProtectionLayout kN25qProtectionUnknownTable = {
    .bp = 0x1C, .bp3 = 0x40, .srwd = 0x80, .table = ProtectTable::kUnknown, .clear = kKeepOthers};

// A row whose three bytes another row of the table, or another part, answers.
constexpr PartQuirks WithSharedId(PartQuirks quirks) {
  quirks.sharedId = true;
  return quirks;
}
constexpr PartQuirks kMicronSharedFlags = WithSharedId(kMicronFlags);
constexpr PartQuirks kSpansionSharedErrors = WithSharedId(kSpansionErrors);

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
    // status 8 ms; READ 54 MHz, otherwise 108 MHz. The MT25QL128 answers the
    // same code (its row below is found by name); this row drives it too, and
    // it keeps the older part's traffic, so its SFDP is not read.
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
                    .unit = 64 * kKiB, .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers},
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 400 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 80000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1600 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 2 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz,
     .quirks = {.sharedId = true, .twinWithoutOpcodes = true}},
    // Winbond W25Q16JV, W25Q32JV, W25Q64JV (datasheets not read): the
    // W25Q128JV's registers (flashrom's bit maps for W25Q32JV and W25Q64JV-.Q;
    // Linux lists the W25Q16JV-IM with HAS_LOCK | HAS_TB), its erase
    // commands and maxima, 03h 50 MHz (the W25Q16JV's, quoted in public
    // code), otherwise 133 MHz (the JV family's cover). BP = 1 protects the
    // top 64th but never less than one 64 KiB block (Linux's decoder, swp.c).
    // The chip-erase maximum of each is not found: the W25Q128JV's 200 s is
    // the bound; the typical time is the W25Q128JV's 40 s scaled to the size
    // (an estimate). The -IQ codes EF 40 1x are shared with the W25Q..BV, CV,
    // DV and FV, hence 01h with both registers (see SecTbProtection); the -IM
    // codes EF 70 1x name the JV alone (QE writable, 0 from the factory:
    // NuttX w25qxxxjv.c), whose one-byte 01h keeps status register 2 (JESD216
    // QER 100b in the W25Q512JV's SFDP, the same generation): 31h writes it.
    {.name = "W25Q16JV", .id = {0xEF, 0x40, 0x15}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 2 * kMiB, .readMax = 2 * kMiB, .protection = SecTbProtection(64 * kKiB, true),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 5000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz, .quirks = {.sharedId = true}},
    {.name = "W25Q16JV-IM", .id = {0xEF, 0x70, 0x15}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 2 * kMiB, .readMax = 2 * kMiB, .protection = SecTbProtection(64 * kKiB, false),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 5000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz},
    {.name = "W25Q32JV", .id = {0xEF, 0x40, 0x16}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 4 * kMiB, .readMax = 4 * kMiB, .protection = SecTbProtection(64 * kKiB, true),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 10000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz, .quirks = {.sharedId = true}},
    {.name = "W25Q32JV-IM", .id = {0xEF, 0x70, 0x16}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 4 * kMiB, .readMax = 4 * kMiB, .protection = SecTbProtection(64 * kKiB, false),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 10000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz},
    {.name = "W25Q64JV", .id = {0xEF, 0x40, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = SecTbProtection(128 * kKiB, true),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 20000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz, .quirks = {.sharedId = true}},
    {.name = "W25Q64JV-IM", .id = {0xEF, 0x70, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = SecTbProtection(128 * kKiB, false),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 20000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz},
    // W25Q128JV-IM and W25Q256JV-IM (Linux "w25q128jv" EF 70 18, "w25q256jvm"
    // EF 70 19; flashrom W25Q128.V..M, W25Q256JV_M): the -IQ rows above with
    // QE writable; nothing older answers these codes.
    {.name = "W25Q128JV-IM", .id = {0xEF, 0x70, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = SecTbProtection(256 * kKiB, false),
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 200 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 40000,
     .eraseTypes = kWinbondJvErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz},
    {.name = "W25Q256JV-IM", .id = {0xEF, 0x70, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .tb = 0x40, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200,
                    .unit = 64 * kKiB, .secondRead = 0x35, .secondWrite = 0x31, .clear = kKeepOthers},
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 400 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 80000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1600 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 2 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    // W25Q512JV (datasheet not read; Linux "w25q512jvq" EF 40 20; the -IM
    // code EF 70 20 from flashrom's W25Q512JV_M and a public driver header).
    // Its SFDP (QEMU) gives the maxima: 4 KiB 896 ms, 32 KiB 1.79 s, 64 KiB
    // 2.24 s, page 4.22 ms, chip 2,688 s (192 s typical); QER 100b: a
    // one-byte 01h keeps status register 2, 31h writes it; 4-byte opcodes 13h,
    // 12h, 21h and DCh, none for 32 KiB. Status register 1 is BP3..BP0 and TB
    // as on the W25Q256JV in one public source and BP2..BP0, TB and SEC in
    // another: the table is not known, and clearing bits 5..2 unprotects
    // either. Write status 15 ms and the clocks as the JV family's.
    {.name = "W25Q512JV", .id = {0xEF, 0x40, 0x20}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 64 * kMiB, .readMax = 64 * kMiB,
     .protection = {.bp = 0x3C, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200, .table = ProtectTable::kUnknown,
                    .secondRead = 0x35, .secondWrite = 0x31, .clear = kKeepOthers},
     .programMaxUs = 4224, .eraseAllMaxUs = 2688 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 192000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 896 * kMs}, {32 * kKiB, 0x52, 0, 1792 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 2240 * kMs}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    {.name = "W25Q512JV-IM", .id = {0xEF, 0x70, 0x20}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 64 * kMiB, .readMax = 64 * kMiB,
     .protection = {.bp = 0x3C, .cmp = 0x4000, .srwd = 0x80, .quadEnable = 0x0200, .table = ProtectTable::kUnknown,
                    .secondRead = 0x35, .secondWrite = 0x31, .clear = kKeepOthers},
     .programMaxUs = 4224, .eraseAllMaxUs = 2688 * kS,
     .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 192000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 896 * kMs}, {32 * kKiB, 0x52, 0, 1792 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 2240 * kMs}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
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
    // GigaDevice GD25Q16C, GD25Q32C, GD25Q64C (datasheets not read): the
    // GD25Q128C's registers (flashrom's bit maps for GD25Q32 and GD25Q64: BP3
    // acts as TB, BP4 as SEC; Linux lists all three with HAS_LOCK | HAS_TB),
    // its erase commands, its clocks, and its bounds (the W25Q128JV's,
    // doubled; typical chip erase the GD25Q128C's 50 s scaled, an estimate).
    // BP = 1 protects the top 64th, never less than 64 KiB. The GD25Q16B,
    // GD25Q32B and GD25Q64B answer the same codes: 01h carries both
    // registers (see SecTbProtection).
    {.name = "GD25Q16C", .id = {0xC8, 0x40, 0x15}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 2 * kMiB, .readMax = 2 * kMiB, .protection = SecTbProtection(64 * kKiB, true),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 6250, .eraseTypes = kGenerousErase, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 80 * kMHz, .maxHz = 104 * kMHz, .quirks = {.sharedId = true}},
    {.name = "GD25Q32C", .id = {0xC8, 0x40, 0x16}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 4 * kMiB, .readMax = 4 * kMiB, .protection = SecTbProtection(64 * kKiB, true),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 12500, .eraseTypes = kGenerousErase, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 80 * kMHz, .maxHz = 104 * kMHz, .quirks = {.sharedId = true}},
    {.name = "GD25Q64C", .id = {0xC8, 0x40, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = SecTbProtection(128 * kKiB, true),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 25000, .eraseTypes = kGenerousErase, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 80 * kMHz, .maxHz = 104 * kMHz, .quirks = {.sharedId = true}},
    // GD25Q256D (datasheet not read), which the GD25Q256C and GD25Q256E answer
    // too: 4-byte opcodes 13h, 12h, 21h, 5Ch, DCh (flashrom's erasers; Linux
    // SPI_NOR_4B_OPCODES for the code). Its table is not known: flashrom maps
    // BP3..BP0 to bits 5..2 and TB to bit 6, Linux three BP bits, and on the
    // GD25Q256C bit 6 is QE (Linux gd25q256_post_bfpt); status register 2
    // holds QE on the D and E. Clearing bits 5..2 leaves bit 6 and status
    // register 2 as they were, and the read-back checks both. CMP is not
    // confirmed for this part (flashrom names that bit SRL). Bounds and
    // clocks as the GD25Q128C's; typical chip erase 100 s, an estimate.
    {.name = "GD25Q256D", .id = {0xC8, 0x40, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .srwd = 0x80, .quadEnable = 0x0240, .table = ProtectTable::kUnknown,
                    .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers},
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 800 * kS,
     .writeStatusMaxUs = kGenerousWriteStatusUs, .eraseAllTypicalMs = 100000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 800 * kMs}, {32 * kKiB, 0x52, 0x5C, 3200 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 4 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 80 * kMHz, .maxHz = 104 * kMHz,
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
    // MX25L25635F (datasheet not read), which answers the MX25L25645G's code:
    // the row above is found by it, and this one by name, with the same
    // command set, the F having the 4-byte opcodes too (Linux sets
    // SNOR_F_4B_OPCODES when its BFPT offers 4-4-4 reads, as the F's SFDP in
    // QEMU does). The MX25L25635E answers the same code without them, and
    // neither row drives it.
    {.name = "MX25L25635F", .id = {0xC2, 0x20, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .tb = 0x0800, .srwd = 0x80, .quadEnable = 0x40, .unit = 64 * kKiB,
                    .secondRead = 0x15, .clear = kKeepOthers},
     .programMaxUs = 3 * kMs, .eraseAllMaxUs = 400 * kS,
     .writeStatusMaxUs = 40 * kMs, .eraseAllTypicalMs = 80000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0x5C, 2 * kS},
                     {64 * kKiB, 0xD8, 0xDC, 2 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz,
     .quirks = {.sharedId = true}},
    // Macronix MX25L3233F, MX25L6433F, MX25L12835F (datasheets not read).
    // Each code is shared with older parts (flashrom): C2 20 16 with the
    // MX25L3205D/3206E/3273E, C2 20 17 with the MX25L6405D/6406E/6436E/
    // 6445E/6473E/F, C2 20 18 with the MX25L12805D/12845E/12865E/12873F. The
    // MX25L12805D has no 32 KiB erase, and on the MX25L1606E 52h erases
    // 64 KiB: 52h is never sent, 4 KiB edges and 64 KiB blocks do. QE in
    // status bit 6 (Linux macronix.c). On the MX25L3205D and MX25L6405D bit 5
    // acts as CMP (flashrom): those two codes' tables are not known. The
    // MX25L12835F's BP3..BP0 protect from the top 64 KiB block, doubling
    // (Linux: HAS_LOCK | 4BIT_BP, and no TB for the code, which the older
    // parts share: the area is taken at the top). Bounds: the Macronix ones
    // above; typical chip erase 2 s per MiB, as the MX66L1G45G's SFDP gives
    // its 128 MiB (an estimate). Clocks: 03h 50 MHz, otherwise 100 MHz, the
    // limits a public SoC SDK drives this class at (datasheet values not found).
    {.name = "MX25L3233F", .id = {0xC2, 0x20, 0x16}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 4 * kMiB, .readMax = 4 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 3072,
     .eraseAllMaxUs = 600 * kS, .writeStatusMaxUs = 40 * kMs, .eraseAllTypicalMs = 8000,
     .eraseTypes = kMacronixErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 100 * kMHz, .quirks = {.sharedId = true}},
    {.name = "MX25L6433F", .id = {0xC2, 0x20, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 3072,
     .eraseAllMaxUs = 600 * kS, .writeStatusMaxUs = 40 * kMs, .eraseAllTypicalMs = 16000,
     .eraseTypes = kMacronixErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 100 * kMHz, .quirks = {.sharedId = true}},
    {.name = "MX25L12835F", .id = {0xC2, 0x20, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB,
     .protection = {.bp = 0x3C, .srwd = 0x80, .quadEnable = 0x40, .unit = 64 * kKiB, .clear = kKeepOthers},
     .programMaxUs = 3072, .eraseAllMaxUs = 600 * kS, .writeStatusMaxUs = 40 * kMs, .eraseAllTypicalMs = 32000,
     .eraseTypes = kMacronixErase, .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz,
     .maxHz = 100 * kMHz, .quirks = {.sharedId = true}},
    // MX66L51235F (datasheet not read), which the MX25L51245G answers too
    // (Linux has had a row for each on C2 20 1A): 4-byte opcodes (Linux
    // SPI_NOR_4B_OPCODES) 13h, 12h, 21h, 5Ch, DCh; QE in status bit 6; the
    // table is not known. Bounds as the other Macronix rows; typical chip
    // erase 128 s, an estimate; clocks as above.
    {.name = "MX66L51235F", .id = {0xC2, 0x20, 0x1A}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 64 * kMiB, .readMax = 64 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 3072,
     .eraseAllMaxUs = 600 * kS, .writeStatusMaxUs = 40 * kMs, .eraseAllTypicalMs = 128000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 800 * kMs}, {32 * kKiB, 0x52, 0x5C, 2240 * kMs},
                     {64 * kKiB, 0xD8, 0xDC, 4032 * kMs}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 50 * kMHz, .maxHz = 100 * kMHz,
     .quirks = {.sharedId = true}},
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
    // ISSI IS25LP064, IS25LP128 and their 1.8 V twins IS25WP064, IS25WP128
    // (datasheets not read; later revisions keep the codes): erase 20h, 52h,
    // D8h (flashrom); QE in status bit 6 (Linux issi.c); the block-protect
    // table is not known (Linux lists no lock support, and the register
    // holding TB is not confirmed for these). Bounds from the IS25WP256's
    // SFDP, typical chip erase its 60 s scaled (an estimate); write status
    // 15 ms and the clocks as the IS25LP256 row's.
    {.name = "IS25LP064", .id = {0x9D, 0x60, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 1200,
     .eraseAllMaxUs = 480 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 15000, .eraseTypes = kIssiErase,
     .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    {.name = "IS25LP128", .id = {0x9D, 0x60, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 1200,
     .eraseAllMaxUs = 480 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 30000, .eraseTypes = kIssiErase,
     .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    {.name = "IS25WP064", .id = {0x9D, 0x70, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 1200,
     .eraseAllMaxUs = 480 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 15000, .eraseTypes = kIssiErase,
     .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    {.name = "IS25WP128", .id = {0x9D, 0x70, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = kQeInStatusUnknownTable, .programMaxUs = 1200,
     .eraseAllMaxUs = 480 * kS, .writeStatusMaxUs = 15 * kMs, .eraseAllTypicalMs = 30000, .eraseTypes = kIssiErase,
     .addressing = Addressing::kThreeBytes, .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz},
    // IS25WP256 (datasheet not read; its own SFDP in QEMU): the IS25LP256 row's
    // 1.8 V twin, with the same registers, 4-byte opcodes and maxima, which
    // that row took from this part's SFDP.
    {.name = "IS25WP256", .id = {0x9D, 0x70, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
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
    // Micron MT25QL128 and MT25QU128 (datasheets not read): polled on the
    // flag status register; erase 20h, 52h, D8h (flashrom); the MT25QL512's
    // maxima (bulk 460 s; typical 38 s, its 153 s scaled, an estimate) and
    // clocks. The MT25QL128 shares 20 BA 18 with the N25Q128, whose row above
    // is found by it (D8h alone, which both take); this one by name. The
    // N25Q128A11 shares 20 BB 18 and has no 32 KiB erase (as the N25Q256A's
    // SFDP lists none): the MT25QU128 row, found by that code, leaves 52h out.
    {.name = "MT25QL128", .id = {0x20, 0xBA, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = kMicronProtection, .programMaxUs = 1800,
     .eraseAllMaxUs = 460 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 38000, .eraseTypes = kMicronErase,
     .addressing = Addressing::kThreeBytes, .readMaxHz = 66 * kMHz, .maxHz = 133 * kMHz,
     .quirks = kMicronSharedFlags},
    {.name = "MT25QU128", .id = {0x20, 0xBB, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = kMicronProtection, .programMaxUs = 1800,
     .eraseAllMaxUs = 460 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 38000,
     .eraseTypes = Erase4k64k(400 * kMs, 1 * kS), .addressing = Addressing::kThreeBytes, .readMaxHz = 66 * kMHz,
     .maxHz = 133 * kMHz, .quirks = kMicronSharedFlags},
    // N25Q256A (N25Q256A13, 3 V; datasheet not read), found by 20 BA 19, which
    // the MT25QL256 shares (it adds the bytes 10 44 00 after them: Linux). The
    // safer of the two to drive: 4 KiB (20h) and 64 KiB (D8h) only, as its
    // SFDP (QEMU) lists, and 4-byte addressing entered with 06h B7h and left
    // with 06h E9h (Linux micron-st.c), which the MT25QL256 takes too; no
    // 4-byte opcode, which older N25Q256A dies lack (Linux drives the code so).
    // Its table is not known (Linux lists no lock support). Maxima from ST's
    // BSP (4 KiB 800 ms, 64 KiB 3 s, bulk 480 s, typical 240 s an estimate);
    // page 5 ms, write status 8 ms and the clocks as the N25Q128's.
    {.name = "N25Q256", .id = {0x20, 0xBA, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB, .protection = kN25qProtectionUnknownTable, .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 480 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 240000,
     .eraseTypes = Erase4k64k(800 * kMs, 3 * kS), .addressing = Addressing::kFourByteMode, .readMaxHz = 54 * kMHz,
     .maxHz = 108 * kMHz, .quirks = kMicronSharedFlags},
    // MT25QL256 (datasheet not read), found by name: the MT25QL512's
    // registers, maxima and clocks; protection as its 1.8 V twin MT25QU256
    // (Linux: HAS_LOCK | HAS_TB | 4BIT_BP | BP3_SR_BIT6); 4-byte opcodes 13h,
    // 12h, 21h, DCh (Linux SPI_NOR_4B_OPCODES), none used for 32 KiB, as the
    // MT25QL512 row. Typical bulk erase 77 s, its 153 s scaled (an estimate).
    {.name = "MT25QL256", .id = {0x20, 0xBA, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB, .protection = kMicronProtection, .programMaxUs = 1800,
     .eraseAllMaxUs = 460 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 77000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1 * kS}, {64 * kKiB, 0xD8, 0xDC, 1 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 66 * kMHz, .maxHz = 133 * kMHz,
     .quirks = kMicronSharedFlags},
    // N25Q256A11 (1.8 V) and MT25QU256 share 20 BB 19 as the 3 V pair shares
    // 20 BA 19 (Linux "n25q256ax1", "mt25qu256a"): the same two rows.
    {.name = "N25Q256A11", .id = {0x20, 0xBB, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB, .protection = kN25qProtectionUnknownTable, .programMaxUs = 5 * kMs,
     .eraseAllMaxUs = 480 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 240000,
     .eraseTypes = Erase4k64k(800 * kMs, 3 * kS), .addressing = Addressing::kFourByteMode, .readMaxHz = 54 * kMHz,
     .maxHz = 108 * kMHz, .quirks = kMicronSharedFlags},
    {.name = "MT25QU256", .id = {0x20, 0xBB, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB, .protection = kMicronProtection, .programMaxUs = 1800,
     .eraseAllMaxUs = 460 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 77000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1 * kS}, {64 * kKiB, 0xD8, 0xDC, 1 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 66 * kMHz, .maxHz = 133 * kMHz,
     .quirks = kMicronSharedFlags},
    // MT25QU512 (datasheet not read): the MT25QL512 row at 1.8 V (Linux
    // "mt25qu512a": HAS_LOCK | HAS_TB | 4BIT_BP | BP3_SR_BIT6, 4-byte
    // opcodes). The N25Q512A (1.8 V) answers the same three bytes, as the
    // N25Q512A13 does the MT25QL512's.
    {.name = "MT25QU512", .id = {0x20, 0xBB, 0x20}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x80,
     .readyValue = 0x80, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 64 * kMiB, .readMax = 64 * kMiB, .protection = kMicronProtection, .programMaxUs = 1800,
     .eraseAllMaxUs = 460 * kS, .writeStatusMaxUs = 8 * kMs, .eraseAllTypicalMs = 153000,
     .eraseTypes = {{{4 * kKiB, 0x20, 0x21, 400 * kMs}, {32 * kKiB, 0x52, 0, 1 * kS}, {64 * kKiB, 0xD8, 0xDC, 1 * kS}}},
     .addressing = Addressing::kFourByteOpcodes, .readMaxHz = 66 * kMHz, .maxHz = 133 * kMHz,
     .quirks = kMicronSharedFlags},
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
    // Infineon (Spansion) S25FL128S and S25FL127S (datasheets not read): all
    // answer 01 20 18; the byte after the code tells 256 KiB uniform sectors
    // (00) from 64 KiB ones (01) (Linux spansion.c), and a 127S can be set to
    // either (flashrom). The S25FL256S row's registers, error bits and
    // clocks; page 2 ms and write registers 2 s as that row; sector erase
    // 2.6 s (the S25FL512S's, ST's BSP); bulk 330 s (ST's BSP s25fl128s.h;
    // typical 52 s, the S25FL256S's 103 s halved, an estimate). Found by the
    // code: 256 KiB sectors. On a 64 KiB-sector chip D8h then erases a
    // quarter of each unit planned and the verify reports the rest, while
    // the other way round a 256 KiB erase would take neighbours the range
    // never named: the 64 KiB parts are named with -m S25FL128S-64K or
    // -m S25FL127S. BP = 1 protects the top 64th (256 KiB). The S25FL127S's
    // table is not confirmed.
    {.name = "S25FL128S", .id = {0x01, 0x20, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 256 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = SpansionProtection(ProtectTable::kDoubling),
     .programMaxUs = 2 * kMs, .eraseAllMaxUs = 330 * kS, .writeStatusMaxUs = 2 * kS, .eraseAllTypicalMs = 52000,
     .eraseTypes = {{{256 * kKiB, 0xD8, 0, 2600 * kMs}}}, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz, .quirks = kSpansionSharedErrors},
    {.name = "S25FL128S-64K", .id = {0x01, 0x20, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = SpansionProtection(ProtectTable::kDoubling),
     .programMaxUs = 2 * kMs, .eraseAllMaxUs = 330 * kS, .writeStatusMaxUs = 2 * kS, .eraseAllTypicalMs = 52000,
     .eraseTypes = {{{64 * kKiB, 0xD8, 0, 2600 * kMs}}}, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz, .quirks = kSpansionSharedErrors},
    {.name = "S25FL127S", .id = {0x01, 0x20, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 64 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = SpansionProtection(ProtectTable::kUnknown),
     .programMaxUs = 2 * kMs, .eraseAllMaxUs = 330 * kS, .writeStatusMaxUs = 2 * kS, .eraseAllTypicalMs = 52000,
     .eraseTypes = {{{64 * kKiB, 0xD8, 0, 2600 * kMs}}}, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 50 * kMHz, .maxHz = 133 * kMHz, .quirks = kSpansionSharedErrors},
    // XMC XM25QH64C, XM25QH128C, XM25QH256C (datasheets not read): the
    // manufacturer byte 20h is the one ST and Micron use (flashrom); each code
    // is shared with the D part of the same size (flashrom). Erase 20h, 52h,
    // D8h (flashrom). Codes: XM25QH64C from a public SDK's list, the others
    // from the Linux patch adding them (2025). XM25QH128C: the W25Q128JV's
    // bit map (flashrom) and table (flashrom's decoder; the Linux patch:
    // HAS_LOCK | HAS_TB); XM25QH256C: BP3..BP0 in bits 5..2, TB in bit 6
    // (flashrom; Linux 4BIT_BP | TB_SR_BIT6), from the top 64 KiB block,
    // doubling, 4-byte addressing by 06h B7h and 06h E9h, with no 4-byte
    // erase opcode (flashrom); XM25QH64C: the table is not known. Status
    // register 2 (35h) exists on the 128C and 256C (flashrom writes it with
    // 31h); QE in its bit 1 is not confirmed, and 01h carries both
    // registers. Times not found: the generous bounds; typical chip erase
    // 2.5 s per MiB, as the W25Q128JV (an estimate). Clocks not found: 03h
    // 33 MHz and 50 MHz otherwise, the older parts' limits.
    {.name = "XM25QH64C", .id = {0x20, 0x40, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB,
     .protection = {.bp = 0x3C, .srwd = 0x80, .quadEnable = 0x0200, .table = ProtectTable::kUnknown,
                    .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers},
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 20000, .eraseTypes = kGenerousErase, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz, .quirks = {.sharedId = true}},
    {.name = "XM25QH128C", .id = {0x20, 0x40, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = SecTbProtection(256 * kKiB, true),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 40000, .eraseTypes = kGenerousErase, .addressing = Addressing::kThreeBytes,
     .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz, .quirks = {.sharedId = true}},
    {.name = "XM25QH256C", .id = {0x20, 0x40, 0x19}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 32 * kMiB, .readMax = 32 * kMiB,
     .protection = {.bp = 0x3C, .tb = 0x40, .srwd = 0x80, .quadEnable = 0x0200, .unit = 64 * kKiB,
                    .secondRead = 0x35, .writeBoth = true, .clear = kKeepOthers},
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 800 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 80000, .eraseTypes = kGenerousErase, .addressing = Addressing::kFourByteMode,
     .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz, .quirks = {.modeNeedsWriteEnable = true, .sharedId = true}},
    // EON EN25QH32, EN25QH64, EN25QH128 (datasheets not read): BP2..BP0 in
    // status bits 4..2, TB ("BP3", acting as TB) in bit 5, QE in bit 6, SRP in
    // bit 7, erase 20h and D8h (flashrom). The EN25QH32B and EN25QH64A answer
    // the same codes and add a 32 KiB erase (flashrom): 52h is not sent. The
    // EN25QH32's and EN25QH128's tables are the top 64th, doubling (flashrom's
    // decoder; at 4 MiB the 64 KiB-block decoder gives the same); the
    // EN25QH64's counts 64 KiB blocks and protects everything only at its
    // top value, which no doubling row says: not known. Times and clocks as
    // the XMC rows above (not found).
    {.name = "EN25QH32", .id = {0x1C, 0x70, 0x16}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 4 * kMiB, .readMax = 4 * kMiB, .protection = EonProtection(64 * kKiB, ProtectTable::kDoubling),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 10000, .eraseTypes = Erase4k64k(800 * kMs, 4 * kS), .addressing = Addressing::kThreeBytes,
     .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz, .quirks = {.sharedId = true}},
    {.name = "EN25QH64", .id = {0x1C, 0x70, 0x17}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 8 * kMiB, .readMax = 8 * kMiB, .protection = EonProtection(0, ProtectTable::kUnknown),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 20000, .eraseTypes = Erase4k64k(800 * kMs, 4 * kS), .addressing = Addressing::kThreeBytes,
     .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz, .quirks = {.sharedId = true}},
    {.name = "EN25QH128", .id = {0x1C, 0x70, 0x18}, .type = FLASHTYPE_SECTOR_ERASE, .busyMask = 0x01,
     .readyValue = 0x00, .pageShift = 8, .pageSize = 256, .blockSize = kNoBlock, .sectorSize = 4 * kKiB,
     .size = 16 * kMiB, .readMax = 16 * kMiB, .protection = EonProtection(256 * kKiB, ProtectTable::kDoubling),
     .programMaxUs = kGenerousProgramUs, .eraseAllMaxUs = 400 * kS, .writeStatusMaxUs = kGenerousWriteStatusUs,
     .eraseAllTypicalMs = 40000, .eraseTypes = Erase4k64k(800 * kMs, 4 * kS), .addressing = Addressing::kThreeBytes,
     .readMaxHz = 33 * kMHz, .maxHz = 50 * kMHz},
    {},
};
// clang-format on

const FLASHDEV* FindDeviceById(const uint8_t id[3]) {
  return FindRow([id](const FLASHDEV& row) { return SameId(row.id, id); });
}

const FLASHDEV* FindDeviceByName(const char* name) {
  return FindRow([name](const FLASHDEV& row) { return EqualsIgnoringCase(row.name, name); });
}
