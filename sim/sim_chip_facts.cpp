// SPDX-License-Identifier: MIT
// The modelled parts. Identification answers and geometry are the parts' own;
// each time is the datasheet's typical figure unless its comment says otherwise.
#include "sim/sim_chip_facts.h"

#include <algorithm>

#include "base/text.h"
#include "sim/sfdp_tables.h"

namespace {

constexpr uint64_t kUs = 1000;
constexpr uint64_t kMs = 1000 * kUs;
constexpr uint64_t kS = 1000 * kMs;
constexpr uint32_t kMHz = 1'000'000;
constexpr uint32_t kKiB = 1024;

// M25P status: SRWD in bit 7, BP2..BP0 in bits 4..2; bits 6 and 5 read 0.
// With all three BP bits set every sector is protected.
constexpr uint8_t kM25pWritable = 0x9C;
constexpr uint8_t kM25pAllProtected = 0x1C;
// N25Q status adds BP3 in bit 6 and TB in bit 5 (0: the protected area is at
// the top of the array, 1: at the bottom).
constexpr uint8_t kN25qWritable = 0xFC;
constexpr uint8_t kN25qAllProtected = 0x5C;

// The protected-area tables: the part of the array (upper 16th, 32nd...)
// that each BP value protects, 1 for all of it. The smallest area is one
// 64 KiB sector up to the M25P32 and on the N25Q128, two sectors (128 KiB) on
// the M25P64, one 256 KiB sector on the M25P128.
constexpr std::array<uint16_t, 16> kM25p80Areas = {0, 16, 8, 4, 2, 1, 1, 1};
constexpr std::array<uint16_t, 16> kM25p16Areas = {0, 32, 16, 8, 4, 2, 1, 1};
constexpr std::array<uint16_t, 16> kM25p32To128Areas = {0, 64, 32, 16, 8, 4, 2, 1};
constexpr std::array<uint16_t, 16> kN25q128Areas = {0, 256, 128, 64, 32, 16, 8, 4, 2, 1, 1, 1, 1, 1, 1, 1};

// Clock limits: the 110 nm M25P80 to M25P64 datasheets give fR 33 MHz for
// READ and fC 75 MHz for the other instructions; the N25Q128 datasheet 54 MHz
// for READ and 108 MHz otherwise; the AT45DB081D datasheet fCAR2 33 MHz for
// the low-frequency reads (03h, D1h) and fSCK 66 MHz otherwise. The M25P128
// row's 33 MHz and 50 MHz are not confirmed: its earliest datasheets give
// 20 MHz for READ, which the 30 MHz the simulated interface grants a 50 MHz
// request would exceed.

// Parts of the 110 nm M25P generation answer RDID with a CFD length byte
// (10h) and 16 bytes of customer factory data, all zero on stock parts.
constexpr std::array<uint8_t, 20> M25pId(uint8_t capacity) {
  return {0x20, 0x20, capacity, 0x10};
}

// Today's serial NOR parts. Each row cites its datasheet; a figure marked
// "unconfirmed" is one we could not check against the datasheet's own table
// (times are then the family's usual typical figures).

constexpr NorBit Sr1(uint8_t mask) { return {NorReg::kStatus1, mask}; }
constexpr NorBit Sr2(uint8_t mask) { return {NorReg::kStatus2, mask}; }
constexpr NorBit Sr3(uint8_t mask) { return {NorReg::kStatus3, mask}; }
constexpr NorBit Config(uint8_t mask) { return {NorReg::kConfig, mask}; }

// The protected-area tables by BP value. BP2..BP0: the upper 64th to half,
// then all (W25Q128JV, GD25Q128C, S25FL256S). BP3..BP0 on 256 Mbit: one
// 64 KiB block (a 512th), doubling to half, then all (W25Q256JV,
// MX25L25645G, IS25LP256). MT25QL512: one 64 KiB sector of 1024, doubling.
constexpr std::array<uint16_t, 16> kEighthsTo64th = {0, 64, 32, 16, 8, 4, 2, 1};
constexpr std::array<uint16_t, 16> kBlocksOf512 = {0, 512, 256, 128, 64, 32, 16, 8, 4, 2, 1, 1, 1, 1, 1, 1};
constexpr std::array<uint16_t, 16> kBlocksOf1024 = {0, 1024, 512, 256, 128, 64, 32, 16, 8, 4, 2, 1, 1, 1, 1, 1};
// With SEC set (W25Q128JV, GD25Q128C): 4, 8, 16 and 32 KiB, then all.
constexpr std::array<uint16_t, 8> kSectorKiB = {0, 4, 8, 16, 32, 32, 32, kWholeArray};

// Winbond status registers (W25Q128JV datasheet rev. F and W25Q256JV
// datasheet, "Status and Configuration Registers"): SR1 BUSY, WEL, BP, TB,
// SEC (W25Q128JV only; the W25Q256JV has BP3 there and TB above it), SRP;
// SR2 SRL, QE, LB3..LB1 (one-time programmable), CMP, SUS; SR3 WPS and the
// drive strength, the W25Q256JV adding ADS (read-only: the addressing mode)
// and ADP (the addressing mode at power-up, read only then). 01h takes SR1,
// or SR1 and SR2: the JV family's SFDP gives QER 100b, a one-byte 01h leaves
// SR2 as it is. 31h and 11h write SR2 and SR3; 50h makes the next register
// write volatile. With WPS set the individual block locks (36h, 39h, 3Dh,
// 7Eh, 98h) decide instead of the table; they are all set at power-up.
const SerialNorFacts kW25q128jvNor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0xFC},
                   {.readOp = 0x35, .writeOp = 0x31, .writable = 0x43, .setOnly = 0x38},
                   {.readOp = 0x15, .writeOp = 0x11, .writable = 0x64},
                   {},
                   {}}},
    .statusSecondByte = NorReg::kStatus2,
    .quadEnable = Sr2(0x02),
    .statusProtect = Sr1(0x80),
    .statusLock = Sr2(0x01),
    .volatileWriteEnable = 0x50,
    .protect = {.blockProtect = 0x1C,
                .topBottom = Sr1(0x20),
                .sector = Sr1(0x40),
                .complement = Sr2(0x40),
                .blockLocks = Sr3(0x04),
                .area = kEighthsTo64th,
                .sectorArea = kSectorKiB},
    // tSE 45 ms, tBE1 120 ms, tBE2 150 ms (typical).
    .erases = {{{0x20, 0, 4 * kKiB, 45 * kMs}, {0x52, 0, 32 * kKiB, 120 * kMs}, {0xD8, 0, 64 * kKiB, 150 * kMs}}},
    .chipErase2 = 0x60,
    .sfdp = W25q128jvSfdp(),
};

// W25Q256JV: as the W25Q128JV, with BP3, the dedicated 4-byte commands (13h,
// 0Ch, 12h, 21h, DCh; no 32 KiB one), B7h/E9h without write enable, and the
// extended address register (C8h, C5h after write enable, as Linux's
// drivers/mtd/spi-nor/winbond.c writes it) whose bit 0 is A24 of every
// 3-byte address. E9h leaves the register as it is (unconfirmed).
const SerialNorFacts kW25q256jvNor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0xFC},
                   {.readOp = 0x35, .writeOp = 0x31, .writable = 0x43, .setOnly = 0x38},
                   {.readOp = 0x15, .writeOp = 0x11, .writable = 0x66},
                   {},
                   {}}},
    .statusSecondByte = NorReg::kStatus2,
    .quadEnable = Sr2(0x02),
    .statusProtect = Sr1(0x80),
    .statusLock = Sr2(0x01),
    .volatileWriteEnable = 0x50,
    .protect = {.blockProtect = 0x3C,
                .topBottom = Sr1(0x40),
                .complement = Sr2(0x40),
                .blockLocks = Sr3(0x04),
                .area = kBlocksOf512},
    // Typical times as the W25Q128JV's (unconfirmed for the 256).
    .erases = {{{0x20, 0x21, 4 * kKiB, 45 * kMs}, {0x52, 0, 32 * kKiB, 120 * kMs}, {0xD8, 0xDC, 64 * kKiB, 150 * kMs}}},
    .chipErase2 = 0x60,
    .fourByteOpcodes = true,
    .enter4Byte = 0xB7,
    .exit4Byte = 0xE9,
    .addressRegister = NorAddressRegister::kExtended,
    .readAddressOps = {0xC8, 0},
    .writeAddressOps = {0xC5, 0},
    .addressWriteNeedsLatch = true,
    .addressRegisterBits = 0x01,
    .fourByteIndicator = Sr3(0x01),
    .sfdp = W25q256jvSfdp(),
};

// GD25Q128C datasheet: SR1 WIP, WEL, BP0..BP4, SRP0; SR2 SRP1, QE, SUS2,
// LB1..LB3 (one-time programmable), CMP, SUS1; SR3 drive strength. BP4 and
// BP3 act as Winbond's SEC and TB, with the same table. 01h, 31h and 11h
// each take exactly one data byte (chip select must rise after the eighth
// bit); 50h makes the next write volatile. SRP1 set locks the registers
// (power supply lock-down or, with SRP0, for good).
const SerialNorFacts kGd25q128cNor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0xFC},
                   {.readOp = 0x35, .writeOp = 0x31, .writable = 0x43, .setOnly = 0x38},
                   {.readOp = 0x15, .writeOp = 0x11, .writable = 0x60},
                   {},
                   {}}},
    .quadEnable = Sr2(0x02),
    .statusProtect = Sr1(0x80),
    .statusLock = Sr2(0x01),
    .volatileWriteEnable = 0x50,
    .protect = {.blockProtect = 0x1C,
                .topBottom = Sr1(0x20),
                .sector = Sr1(0x40),
                .complement = Sr2(0x40),
                .area = kEighthsTo64th,
                .sectorArea = kSectorKiB},
    // tSE 50 ms, tBE 32 KiB 150 ms, 64 KiB 250 ms (unconfirmed).
    .erases = {{{0x20, 0, 4 * kKiB, 50 * kMs}, {0x52, 0, 32 * kKiB, 150 * kMs}, {0xD8, 0, 64 * kKiB, 250 * kMs}}},
    .chipErase2 = 0x60,
    .sfdp = Gd25q128cSfdp(),
};

// MX25L25645G datasheet: status register WIP, WEL, BP0..BP3, QE, SRWD;
// configuration register (15h; the second data byte of 01h) ODS2..ODS0, TB
// (one-time programmable), PBE, 4BYTE (read-only: the addressing mode),
// DC1..DC0. Dedicated 4-byte commands 13h, 0Ch, 12h, 21h, 5Ch, DCh; B7h/E9h
// without write enable; extended address register C8h/C5h (write enable
// first, unconfirmed), bit 0 is A24.
const SerialNorFacts kMx25l25645gNor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0xFC},
                   {},
                   {},
                   {.readOp = 0x15, .writable = 0xD7, .setOnly = 0x08},
                   {}}},
    .statusSecondByte = NorReg::kConfig,
    .quadEnable = Sr1(0x40),
    .statusProtect = Sr1(0x80),
    .protect = {.blockProtect = 0x3C, .topBottom = Config(0x08), .area = kBlocksOf512},
    // tSE 25 ms, tBE32K 140 ms, tBE 250 ms (unconfirmed).
    .erases = {{{0x20, 0x21, 4 * kKiB, 25 * kMs}, {0x52, 0x5C, 32 * kKiB, 140 * kMs}, {0xD8, 0xDC, 64 * kKiB, 250 * kMs}}},
    .chipErase2 = 0x60,
    .fourByteOpcodes = true,
    .enter4Byte = 0xB7,
    .exit4Byte = 0xE9,
    .addressRegister = NorAddressRegister::kExtended,
    .readAddressOps = {0xC8, 0},
    .writeAddressOps = {0xC5, 0},
    .addressWriteNeedsLatch = true,
    .addressRegisterBits = 0x01,
    .fourByteIndicator = Config(0x20),
    .sfdp = Mx25l25645gSfdp(),
};

// IS25LP256 datasheet: status register WIP, WEL, BP0..BP3, QE, SRWD;
// function register (48h, 42h) TBS, PSUS, ESUS, IRL3..IRL0, its writable
// bits one-time programmable. Bank address register (16h or C8h, 17h or
// C5h; volatile, no write enable, unconfirmed): bit 7 EXTADD is the 4-byte
// mode that B7h sets and 29h clears, bit 0 is A24. Dedicated 4-byte
// commands 13h, 0Ch, 12h, 21h, 5Ch (unconfirmed), DCh.
const SerialNorFacts kIs25lp256Nor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0xFC},
                   {},
                   {},
                   {},
                   {.readOp = 0x48, .writeOp = 0x42, .setOnly = 0xF2}}},
    .quadEnable = Sr1(0x40),
    .statusProtect = Sr1(0x80),
    .protect = {.blockProtect = 0x3C, .topBottom = {NorReg::kFunction, 0x02}, .area = kBlocksOf512},
    // 4 KiB 70 ms, 32 KiB 100 ms, 64 KiB 150 ms (unconfirmed).
    .erases = {{{0x20, 0x21, 4 * kKiB, 70 * kMs}, {0x52, 0x5C, 32 * kKiB, 100 * kMs}, {0xD8, 0xDC, 64 * kKiB, 150 * kMs}}},
    .chipErase2 = 0x60,
    .fourByteOpcodes = true,
    .enter4Byte = 0xB7,
    .exit4Byte = 0x29,
    .addressRegister = NorAddressRegister::kBank,
    .readAddressOps = {0x16, 0xC8},
    .writeAddressOps = {0x17, 0xC5},
    .addressRegisterBits = 0x81,
    .sfdp = Is25lp256Sfdp(),
};

// MT25QL512 datasheet: status register WIP, WEL, BP0..BP2, TB, BP3, SRWD (as
// the N25Q128); no quad-enable bit. Flag status register (70h): bit 7 ready,
// 5 erase error, 4 program error, 1 protection error (sticky until 50h), 0
// the addressing mode. B7h/E9h and the extended address register (C8h,
// C5h; bits 1..0 are A25..A24) need write enable first, as the part's SFDP
// says (dword 16) and Linux's drivers/mtd/spi-nor/micron-st.c does.
// Dedicated 4-byte commands 13h, 0Ch, 12h, 21h, DCh: its 4-byte address
// table lists no 32 KiB one. The non-volatile configuration register is not
// modelled: the part starts in 3-byte addressing, its factory setting.
const SerialNorFacts kMt25ql512Nor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0xFC}, {}, {}, {}, {}}},
    .statusProtect = Sr1(0x80),
    .protect = {.blockProtect = 0x1C, .blockProtect3 = Sr1(0x40), .topBottom = Sr1(0x20), .area = kBlocksOf1024},
    // 4 KiB 50 ms, 32 KiB 100 ms, 64 KiB 150 ms (unconfirmed).
    .erases = {{{0x20, 0x21, 4 * kKiB, 50 * kMs}, {0x52, 0, 32 * kKiB, 100 * kMs}, {0xD8, 0xDC, 64 * kKiB, 150 * kMs}}},
    .chipErase2 = 0x60,
    .fourByteOpcodes = true,
    .enter4Byte = 0xB7,
    .exit4Byte = 0xE9,
    .modeNeedsLatch = true,
    .addressRegister = NorAddressRegister::kExtended,
    .readAddressOps = {0xC8, 0},
    .writeAddressOps = {0xC5, 0},
    .addressWriteNeedsLatch = true,
    .addressRegisterBits = 0x03,
    .flagStatus = true,
    .sfdp = Mt25ql512Sfdp(),
};

// S25FL128S/S25FL256S datasheet, the 64 KiB sector option with 4 KiB
// parameter sectors: status register 1 WIP, WEL, BP0..BP2, E_ERR, P_ERR,
// SRWD; configuration register 1 (35h; the second data byte of 01h)
// FREEZE, QUAD, TBPARM, BPNV, TBPROT (FREEZE until power-down, the other
// three one-time programmable; FREEZE's lock is not modelled), LC1..LC0.
// Thirty-two 4 KiB parameter sectors take the bottom 128 KiB (the top with
// TBPARM): 20h/21h erase one there and are ignored elsewhere, D8h/DCh erase
// the 64 KiB they name, parameter sectors included (unconfirmed). A program
// or erase refused by protection sets P_ERR or E_ERR and leaves WIP and WEL
// set until 30h clears them, as Linux's spi-nor core reads the part. Bank
// address register 16h/17h (no write enable): bit 7 EXTADD is the 4-byte
// mode, bit 0 A24; no B7h or E9h. Dedicated 13h, 0Ch, 12h, 21h, DCh.
const SerialNorFacts kS25fl256sNor{
    .registers = {{{.readOp = 0x05, .writeOp = 0x01, .writable = 0x9C},
                   {},
                   {},
                   {.readOp = 0x35, .writable = 0xC2, .setOnly = 0x2D},
                   {}}},
    .statusSecondByte = NorReg::kConfig,
    .quadEnable = Config(0x02),
    .statusProtect = Sr1(0x80),
    .protect = {.blockProtect = 0x1C, .topBottom = Config(0x20), .area = kEighthsTo64th},
    // 4 KiB and 64 KiB sectors 130 ms (unconfirmed).
    .erases = {{{0x20, 0x21, 4 * kKiB, 130 * kMs}, {}, {0xD8, 0xDC, 64 * kKiB, 130 * kMs}}},
    .parameterSectors = 128 * kKiB,
    .parametersAtTop = Config(0x04),
    .chipErase2 = 0x60,
    .fourByteOpcodes = true,
    .addressRegister = NorAddressRegister::kBank,
    .readAddressOps = {0x16, 0},
    .writeAddressOps = {0x17, 0},
    .addressRegisterBits = 0x81,
    .errorsHoldBusy = true,
    .sfdp = S25fl256sSfdp(),
};

constexpr SimChipFacts kChips[] = {
    {.name = "M25P80",
     .family = SimFamily::kSectorErase,
     .pageSize = 256,
     .pageCount = 4096,
     .eraseUnit = 64 * 1024,
     .idAnswer = M25pId(0x14),
     .idLength = 20,
     .statusWritable = kM25pWritable,
     .protectBits = kM25pAllProtected,
     .protectedPart = kM25p80Areas,
     .readMaxHz = 33 * kMHz,
     .maxHz = 75 * kMHz,
     .statusWriteNs = 1300 * kUs,
     .programNs = 640 * kUs,
     .eraseUnitNs = 600 * kMs,
     .chipEraseNs = 8 * kS},
    {.name = "M25P16",
     .family = SimFamily::kSectorErase,
     .pageSize = 256,
     .pageCount = 8192,
     .eraseUnit = 64 * 1024,
     .idAnswer = M25pId(0x15),
     .idLength = 20,
     .statusWritable = kM25pWritable,
     .protectBits = kM25pAllProtected,
     .protectedPart = kM25p16Areas,
     .readMaxHz = 33 * kMHz,
     .maxHz = 75 * kMHz,
     .statusWriteNs = 1300 * kUs,
     .programNs = 640 * kUs,
     .eraseUnitNs = 600 * kMs,
     .chipEraseNs = 13 * kS},
    {.name = "M25P32",
     .family = SimFamily::kSectorErase,
     .pageSize = 256,
     .pageCount = 16384,
     .eraseUnit = 64 * 1024,
     .idAnswer = M25pId(0x16),
     .idLength = 20,
     .statusWritable = kM25pWritable,
     .protectBits = kM25pAllProtected,
     .protectedPart = kM25p32To128Areas,
     .readMaxHz = 33 * kMHz,
     .maxHz = 75 * kMHz,
     .statusWriteNs = 1300 * kUs,
     .programNs = 640 * kUs,
     .eraseUnitNs = 600 * kMs,
     .chipEraseNs = 23 * kS},
    // Bulk erase: the datasheet's maximum is 160 s; 68 s is an estimate of
    // its typical figure, not a confirmed one. The write status register
    // time (5 ms) is an estimate too, the older generation's figure.
    {.name = "M25P64",
     .family = SimFamily::kSectorErase,
     .pageSize = 256,
     .pageCount = 32768,
     .eraseUnit = 64 * 1024,
     .idAnswer = M25pId(0x17),
     .idLength = 20,
     .statusWritable = kM25pWritable,
     .protectBits = kM25pAllProtected,
     .protectedPart = kM25p32To128Areas,
     .readMaxHz = 33 * kMHz,
     .maxHz = 75 * kMHz,
     .statusWriteNs = 5 * kMs,
     .programNs = 1400 * kUs,
     .eraseUnitNs = 600 * kMs,
     .chipEraseNs = 68 * kS},
    // The older 130 nm part: RDID answers the three code bytes only. Its
    // 256 KiB sector and page program times are estimates (page program as
    // the M25P64; sector erase scaled for the larger sector), as is the bulk
    // erase (its maximum is 250 s) and the write status register (5 ms, as
    // the M25P64).
    {.name = "M25P128",
     .family = SimFamily::kSectorErase,
     .pageSize = 256,
     .pageCount = 65536,
     .eraseUnit = 256 * 1024,
     .idAnswer = {0x20, 0x20, 0x18},
     .idLength = 3,
     .statusWritable = kM25pWritable,
     .protectBits = kM25pAllProtected,
     .protectedPart = kM25p32To128Areas,
     .readMaxHz = 33 * kMHz,
     .maxHz = 50 * kMHz,
     .statusWriteNs = 5 * kMs,
     .programNs = 1400 * kUs,
     .eraseUnitNs = 2 * kS,
     .chipEraseNs = 105 * kS},
    // RDID goes on after the code: length 10h, extended device ID, device
    // configuration byte, then 14 bytes of factory unique ID (these are made
    // up; every part has its own). Bulk erase maximum 250 s; 170 s typical is
    // an estimate.
    {.name = "N25Q128",
     .family = SimFamily::kSectorErase,
     .pageSize = 256,
     .pageCount = 65536,
     .eraseUnit = 64 * 1024,
     .idAnswer = {0x20, 0xBA, 0x18, 0x10, 0x00, 0x00, 0x47, 0x1B, 0x93, 0x05, 0xC2, 0x6E, 0x11,
                  0x80, 0x3D, 0xA4, 0x59, 0x0F, 0xE6, 0x72},
     .idLength = 20,
     .statusWritable = kN25qWritable,
     .protectBits = kN25qAllProtected,
     .protectedPart = kN25q128Areas,
     .readMaxHz = 54 * kMHz,
     .maxHz = 108 * kMHz,
     .statusWriteNs = 1300 * kUs,
     .programNs = 500 * kUs,
     .eraseUnitNs = 600 * kMs,
     .chipEraseNs = 170 * kS},
    // The D generation: 9Fh answers 1F 25 00 and 00, the length of the
    // extended information. Status bits 5..2 hold the density code 1001
    // (8 Mbit); bit 1 is set while sector protection is enabled. AT45DB081D
    // datasheet, typical: page erase and program 14 ms, page program (without
    // erase) 2 ms, page erase 13 ms, block erase 30 ms; the page-to-buffer
    // transfer is given as 200 us at most (no typical); chip erase (7 s,
    // "several seconds") is an estimate. The
    // sector protection register erases in a page erase time and programs in
    // a page program time without erase. Sixteen protection sectors of 256
    // pages; sector 0 splits into 0a (block 0) and 0b.
    {.name = "AT45DB081",
     .family = SimFamily::kDataFlash,
     .pageSize = 264,
     .pageCount = 4096,
     .eraseUnit = 8,
     .idAnswer = {0x1F, 0x25, 0x00, 0x00},
     .idLength = 4,
     .statusBits = 0x24,
     .protectSectorPages = 256,
     .readMaxHz = 33 * kMHz,
     .maxHz = 66 * kMHz,
     .programNs = 14 * kMs,
     .programNoEraseNs = 2 * kMs,
     .transferNs = 200 * kUs,
     .pageEraseNs = 13 * kMs,
     .eraseUnitNs = 30 * kMs,
     .chipEraseNs = 7 * kS},
    // W25Q128JV datasheet rev. F: ID EF 40 18; fR 50 MHz for 03h, fC 133 MHz
    // otherwise; tPP 0.4 ms, tW 10 ms, tCE 40 s (typical).
    {.name = "W25Q128JV",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 65536,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0xEF, 0x40, 0x18},
     .idLength = 3,
     .statusWritable = 0xFC,
     .protectBits = 0x1C,
     .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz,
     .statusWriteNs = 10 * kMs,
     .programNs = 400 * kUs,
     .eraseUnitNs = 150 * kMs,
     .chipEraseNs = 40 * kS,
     .nor = &kW25q128jvNor},
    // W25Q256JV datasheet: ID EF 40 19; 03h/13h 50 MHz, otherwise 133 MHz;
    // tPP 0.4 ms, tW 10 ms; chip erase 80 s (unconfirmed).
    {.name = "W25Q256JV",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 131072,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0xEF, 0x40, 0x19},
     .idLength = 3,
     .statusWritable = 0xFC,
     .protectBits = 0x3C,
     .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz,
     .statusWriteNs = 10 * kMs,
     .programNs = 400 * kUs,
     .eraseUnitNs = 150 * kMs,
     .chipEraseNs = 80 * kS,
     .nor = &kW25q256jvNor},
    // GD25Q128C datasheet: ID C8 40 18; 03h 80 MHz, otherwise 104 MHz; page
    // program 0.6 ms, write status 5 ms, chip erase 50 s (unconfirmed).
    {.name = "GD25Q128C",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 65536,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0xC8, 0x40, 0x18},
     .idLength = 3,
     .statusWritable = 0xFC,
     .protectBits = 0x1C,
     .readMaxHz = 80 * kMHz,
     .maxHz = 104 * kMHz,
     .statusWriteNs = 5 * kMs,
     .programNs = 600 * kUs,
     .eraseUnitNs = 250 * kMs,
     .chipEraseNs = 50 * kS,
     .nor = &kGd25q128cNor},
    // MX25L25645G datasheet: ID C2 20 19; 03h 50 MHz, otherwise 133 MHz;
    // page program 0.33 ms, write status 10 ms, chip erase 80 s (unconfirmed).
    {.name = "MX25L25645G",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 131072,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0xC2, 0x20, 0x19},
     .idLength = 3,
     .statusWritable = 0xBC,
     .protectBits = 0x3C,
     .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz,
     .statusWriteNs = 10 * kMs,
     .programNs = 330 * kUs,
     .eraseUnitNs = 250 * kMs,
     .chipEraseNs = 80 * kS,
     .nor = &kMx25l25645gNor},
    // IS25LP256 datasheet: ID 9D 60 19; normal read 03h 50 MHz, otherwise
    // 133 MHz; page program 0.2 ms, write status 2 ms, chip erase 80 s
    // (unconfirmed).
    {.name = "IS25LP256",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 131072,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0x9D, 0x60, 0x19},
     .idLength = 3,
     .statusWritable = 0xBC,
     .protectBits = 0x3C,
     .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz,
     .statusWriteNs = 2 * kMs,
     .programNs = 200 * kUs,
     .eraseUnitNs = 150 * kMs,
     .chipEraseNs = 80 * kS,
     .nor = &kIs25lp256Nor},
    // MT25QL512 datasheet: 9Fh answers 20 BA 20, then 10h (the length of
    // what follows), the extended device ID 44h and the device
    // configuration 00h, as the MT25Q parts posted to linux-mtd answer, then
    // 14 bytes of factory unique ID (made up; every part has its own). READ
    // 66 MHz, otherwise 133 MHz; page program 0.12 ms, write status 1.3 ms,
    // bulk erase 153 s (unconfirmed).
    {.name = "MT25QL512",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 262144,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0x20, 0xBA, 0x20, 0x10, 0x44, 0x00, 0x5C, 0x21, 0x07, 0xE4, 0x9A, 0x13, 0x68, 0xB0, 0x2F,
                  0xD5, 0x41, 0x8E, 0x36, 0xC9},
     .idLength = 20,
     .statusWritable = 0xFC,
     .protectBits = 0x5C,
     .readMaxHz = 66 * kMHz,
     .maxHz = 133 * kMHz,
     .statusWriteNs = 1300 * kUs,
     .programNs = 120 * kUs,
     .eraseUnitNs = 150 * kMs,
     .chipEraseNs = 153 * kS,
     .nor = &kMt25ql512Nor},
    // S25FL256S datasheet: 9Fh answers 01 02 19, the ID-CFI length 4Dh, the
    // sector architecture 01h (4 KiB parameter and 64 KiB sectors) and the
    // family 80h; the CFI data that follows is not modelled (FF). READ
    // 50 MHz, otherwise 133 MHz; page program 0.25 ms, write registers
    // 140 ms, bulk erase 103 s (unconfirmed).
    {.name = "S25FL256S",
     .family = SimFamily::kSerialNor,
     .pageSize = 256,
     .pageCount = 131072,
     .eraseUnit = 64 * kKiB,
     .idAnswer = {0x01, 0x02, 0x19, 0x4D, 0x01, 0x80},
     .idLength = 6,
     .statusWritable = 0x9C,
     .protectBits = 0x1C,
     .readMaxHz = 50 * kMHz,
     .maxHz = 133 * kMHz,
     .statusWriteNs = 140 * kMs,
     .programNs = 250 * kUs,
     .eraseUnitNs = 130 * kMs,
     .chipEraseNs = 103 * kS,
     .nor = &kS25fl256sNor},
};

}  // namespace

std::span<const SimChipFacts> SimChips() { return kChips; }

const SimChipFacts* FindSimChip(std::string_view name) {
  const auto row = std::ranges::find_if(kChips, [&](const SimChipFacts& c) { return EqualsIgnoringCase(c.name, name); });
  return row == std::end(kChips) ? nullptr : row;
}
