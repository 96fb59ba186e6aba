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

// The M25P128 is the one sector-erase part with 256 KB sectors. The DataFlash
// sizes count its 264-byte pages: 256 pages a sector, 8 a block, 4,096 in all.
// Its "ready" is status bit 7 set, the sector-erase parts' is bit 0 clear.
//
// Protection: the M25P parts keep BP2..BP0 in status bits 4..2; BP = 1
// protects the top sector (the top two sectors of the M25P64, 1/64 of it),
// each higher value doubles the area, up to the whole chip. The N25Q128 adds
// BP3 in bit 6 and TB in bit 5 (set: the area grows from the bottom), and
// protects everything from BP = 9 on. SRWD (bit 7) locks the status register
// while W# is held low. On the DataFlash, status bit 1 says that sector
// protection is enabled; its sector protection register says which sectors.
//
// Maxima and typical bulk erase times are the datasheets'. The M25P parts
// program a page in 5 ms at most and write the status register in 15 ms
// (the N25Q128 in 8 ms); a 64 KB sector erases in 3 s, the M25P128's 256 KB
// sector in 6 s. The DataFlash programs a page with its built-in erase in
// 40 ms, without it in 6 ms, moves a page into its buffer in 200 us and
// erases the whole chip in 22 s.
// clang-format off
const FLASHDEV flashDeviceTable[] = {
    // name       id                  type                    busy  ready shift page block        sector  size      readMax
    //            protect tb    srwd  unit    program noerase sector   all        status xfer     typical
    {"M25P80",    {0x20, 0x20, 0x14}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  1048576,  1048576,
                  0x1C,   0x00, 0x80, 65536,  5000,   0,      3000000, 20000000,  15000, 0,       8000},
    {"M25P16",    {0x20, 0x20, 0x15}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  2097152,  2097152,
                  0x1C,   0x00, 0x80, 65536,  5000,   0,      3000000, 40000000,  15000, 0,       13000},
    {"M25P32",    {0x20, 0x20, 0x16}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  4194304,  4194304,
                  0x1C,   0x00, 0x80, 65536,  5000,   0,      3000000, 80000000,  15000, 0,       23000},
    {"M25P64",    {0x20, 0x20, 0x17}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  8388608,  8388608,
                  0x1C,   0x00, 0x80, 131072, 5000,   0,      3000000, 160000000, 15000, 0,       68000},
    {"M25P128",   {0x20, 0x20, 0x18}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 262144, 16777216, 16777216,
                  0x1C,   0x00, 0x80, 262144, 5000,   0,      6000000, 250000000, 15000, 0,       105000},
    {"N25Q128",   {0x20, 0xBA, 0x18}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  16777216, 16777216,
                  0x5C,   0x20, 0x80, 65536,  5000,   0,      3000000, 250000000, 8000,  0,       170000},
    {"AT45DB081", {0x1F, 0x25, 0x00}, FLASHTYPE_DATAFLASH,    0x80, 0x80, 9,    264, 2112,        67584,  1081344,  1081344,
                  0x02,   0x00, 0x00, 0,      40000,  6000,   0,       22000000,  0,     200,     7000},
    {},
};
// clang-format on

const FLASHDEV* FindDeviceById(const uint8_t id[3]) {
  return FindRow([id](const FLASHDEV& row) { return SameId(row.id, id); });
}

const FLASHDEV* FindDeviceByName(const char* name) {
  return FindRow([name](const FLASHDEV& row) { return EqualsIgnoringCase(row.name, name); });
}
