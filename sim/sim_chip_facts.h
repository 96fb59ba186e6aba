// SPDX-License-Identifier: MIT
// SimChipFacts: what the simulator knows of each modelled chip (identification
// answer, geometry, status bits and operation times), one row per part.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "sim/serial_nor_facts.h"

enum class SimFamily : uint8_t {
  kSectorErase,  // M25P/N25Q: 256-byte page program, sector and bulk erase
  kDataFlash,    // AT45DB: SRAM buffer, page-oriented program and erase
  kSerialNor,    // today's parts: 4/32/64 KiB erase, several registers, SFDP, 4-byte addressing
};

/// One modelled part. Times are the datasheets' typical figures in nanoseconds;
/// fields a family does not use are zero. Every part has its two clock
/// limits: its plain read (03h; the DataFlash's 03h and D1h) answers
/// correctly up to `readMaxHz`, every other command up to `maxHz`.
///
/// A sector-erase part's block-protect value (BP2..BP0, with BP3 above them on
/// a part that has it) protects a part of the array given in its datasheet's
/// protected-area table; `protectedPart` holds that table as the denominator
/// of the fraction protected: 16 is the upper (or, with TB set, lower) 16th
/// of the array, 1 all of it, 0 nothing.
struct SimChipFacts {
  const char* name = nullptr;
  SimFamily family = SimFamily::kSectorErase;
  uint32_t pageSize = 0;   // program unit in bytes
  uint32_t pageCount = 0;  // a power of two in both families
  uint32_t eraseUnit = 0;  // sector bytes; DataFlash: pages per block
  std::array<uint8_t, 20> idAnswer{};  // RDID reply, code first
  uint8_t idLength = 0;                  // bytes of idAnswer the part drives
  uint8_t statusBits = 0;                // fixed status bits (DataFlash density code)
  uint8_t statusWritable = 0;            // bits the write status register command sets
  uint8_t protectBits = 0;               // status bits that protect every sector
  std::array<uint16_t, 16> protectedPart{};  // by block-protect value, see above
  // DataFlash: pages per protection sector; sector 0 splits into 0a, its first
  // block, and 0b, the rest.
  uint32_t protectSectorPages = 0;
  uint32_t readMaxHz = 0;
  uint32_t maxHz = 0;
  uint64_t statusWriteNs = 0;     // write status register
  uint64_t programNs = 0;         // page program; DataFlash buffer to page with erase
  uint64_t programNoEraseNs = 0;  // DataFlash buffer to page without erase; its
                                  // sector protection register program
  uint64_t transferNs = 0;        // DataFlash page to buffer
  uint64_t pageEraseNs = 0;       // DataFlash page erase; its sector protection
                                  // register erase
  uint64_t eraseUnitNs = 0;       // sector erase; DataFlash block erase
  uint64_t chipEraseNs = 0;       // bulk erase; DataFlash chip erase
  const SerialNorFacts* nor = nullptr;  // the serial NOR family's own facts

  uint32_t Size() const { return pageSize * pageCount; }
};

/// The row named `name`, ASCII letter case ignored, or null.
const SimChipFacts* FindSimChip(std::string_view name);

/// Every modelled part, in table order.
std::span<const SimChipFacts> SimChips();
