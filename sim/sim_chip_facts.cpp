// SPDX-License-Identifier: MIT
// The modelled parts. Identification answers and geometry are the parts' own;
// each time is the datasheet's typical figure unless its comment says otherwise.
#include "sim/sim_chip_facts.h"

#include <algorithm>

#include "base/text.h"

namespace {

constexpr uint64_t kUs = 1000;
constexpr uint64_t kMs = 1000 * kUs;
constexpr uint64_t kS = 1000 * kMs;

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

// Parts of the 110 nm M25P generation answer RDID with a CFD length byte
// (10h) and 16 bytes of customer factory data, all zero on stock parts.
constexpr std::array<uint8_t, 20> M25pId(uint8_t capacity) {
  return {0x20, 0x20, capacity, 0x10};
}

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
     .statusWriteNs = 1300 * kUs,
     .programNs = 500 * kUs,
     .eraseUnitNs = 600 * kMs,
     .chipEraseNs = 170 * kS},
    // The D generation: 9Fh answers 1F 25 00 and 00, the length of the
    // extended information. Status bits 5..2 hold the density code 1001
    // (8 Mbit); bit 1 is set while sector protection is enabled. Page erase and
    // program 17 ms, page erase 15 ms, block erase 45 ms; the page-to-buffer
    // transfer is given as 200 us at most (no typical); page program without
    // erase (3 ms) and chip erase (7 s, "several seconds") are estimates. The
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
     .programNs = 17 * kMs,
     .programNoEraseNs = 3 * kMs,
     .transferNs = 200 * kUs,
     .pageEraseNs = 15 * kMs,
     .eraseUnitNs = 45 * kMs,
     .chipEraseNs = 7 * kS},
};

}  // namespace

std::span<const SimChipFacts> SimChips() { return kChips; }

const SimChipFacts* FindSimChip(std::string_view name) {
  const auto row = std::ranges::find_if(kChips, [&](const SimChipFacts& c) { return EqualsIgnoringCase(c.name, name); });
  return row == std::end(kChips) ? nullptr : row;
}
