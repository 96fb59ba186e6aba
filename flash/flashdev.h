// SPDX-License-Identifier: MIT
// FLASHDEV and flashDeviceTable: the flash devices the program knows, by
// identification code and name, with their command set and geometry.
#pragma once

#include <cstdint>

/// Command sets of FLASHDEV::type.
constexpr uint8_t FLASHTYPE_SECTOR_ERASE = 0;  // SFPA
constexpr uint8_t FLASHTYPE_DATAFLASH = 1;     // SFPB
constexpr uint8_t FLASHTYPE_UNSERVED = 2;      // known, but no programmer drives it

/// One row of the device table.
struct FLASHDEV {
  char name[32];
  uint8_t id[3];
  uint8_t type;
  uint8_t busyMask;    // status bits that WaitReady tests
  uint8_t readyValue;  // their value when the device is ready
  uint32_t pageShift;  // DataFlash: bit position of the page number in a device address
  uint32_t pageSize;
  uint32_t blockSize;
  uint32_t sectorSize;
  uint32_t size;
  uint32_t readMax;
  // Write protection, as the status register shows it.
  uint8_t protectBits;   // block-protect bits (sector-erase parts); "sector protection enabled" (DataFlash)
  uint8_t bottomBit;     // TB: set, the protected area starts at address 0; 0 where the part has none
  uint8_t lockBit;       // SRWD: with W# held low the status register cannot be written; 0 where none
  uint32_t protectUnit;  // bytes protected at block-protect value 1; each higher value doubles them
  // Datasheet maxima in microseconds: each status wait is bounded by its own
  // operation's. 0 where the command set has no such operation.
  uint32_t programMaxUs;         // page program; DataFlash: buffer to page with built-in erase
  uint32_t programNoEraseMaxUs;  // DataFlash: buffer to page without erase
  uint32_t sectorEraseMaxUs;
  uint32_t eraseAllMaxUs;     // bulk erase; DataFlash: chip erase
  uint32_t writeStatusMaxUs;  // write status register
  uint32_t transferMaxUs;     // DataFlash: main memory page to buffer
  uint32_t eraseAllTypicalMs;  // shown beside the time a bulk or chip erase has run
};

/// Seven device rows, then a terminating row of zeros.
extern const FLASHDEV flashDeviceTable[];

/// The first row whose identification code equals `id`, or null.
const FLASHDEV* FindDeviceById(const uint8_t id[3]);

/// The first row whose name equals `name`, ASCII letter case ignored, or null.
const FLASHDEV* FindDeviceByName(const char* name);
