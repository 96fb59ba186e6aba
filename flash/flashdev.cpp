// The device table and its look-ups.
#include "flash/flashdev.h"

namespace {

bool SameId(const uint8_t a[3], const uint8_t b[3]) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  }
  return *a == *b;
}

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
// clang-format off
const FLASHDEV flashDeviceTable[] = {
    // name       id                  type                    busy  ready shift page block        sector  size      readMax
    {"M25P80",    {0x20, 0x20, 0x14}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  1048576,  1048576},
    {"M25P16",    {0x20, 0x20, 0x15}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  2097152,  2097152},
    {"M25P32",    {0x20, 0x20, 0x16}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  4194304,  4194304},
    {"M25P64",    {0x20, 0x20, 0x17}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  8388608,  8388608},
    {"M25P128",   {0x20, 0x20, 0x18}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 262144, 16777216, 16777216},
    {"N25Q128",   {0x20, 0xBA, 0x18}, FLASHTYPE_SECTOR_ERASE, 0x01, 0x00, 8,    256, 0xFFFFFFFFu, 65536,  16777216, 16777216},
    {"AT45DB081", {0x1F, 0x25, 0x00}, FLASHTYPE_DATAFLASH,    0x80, 0x80, 9,    264, 2112,        67584,  1081344,  1081344},
    {},
};
// clang-format on

const FLASHDEV* FindDeviceById(const uint8_t id[3]) {
  return FindRow([id](const FLASHDEV& row) { return SameId(row.id, id); });
}

const FLASHDEV* FindDeviceByName(const char* name) {
  return FindRow([name](const FLASHDEV& row) { return SameNameIgnoringCase(row.name, name); });
}
