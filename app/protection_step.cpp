// SPDX-License-Identifier: MIT
// The run's write-protection step: nothing is erased or programmed where the
// chip protects it, since the chip would ignore the commands and the run
// would report a write that never happened.
#include <cstdio>

#include "app/flashapp.h"
#include "app/options.h"
#include "flash/sfprg.h"

namespace {

// What a status read returns with nothing on the bus: the data line floats
// high, or a pull-up holds it there.
constexpr uint8_t kNoChipStatus = 0xFF;

}  // namespace

std::vector<FlashRange> FLASHAPP::RangesTouched() const {
  std::vector<FlashRange> touched;
  const uint64_t size = programmer->GetSize();
  if (options.GetBulkErase()) touched.push_back({0, size});
  const bool writing = options.GetWriteFlash();
  const bool updating = writing && options.GetUpdate();
  // The very units the erase step will erase.
  if (options.GetRangeErase() && !updating) {
    for (const SFPRG::EraseCommand& c : ErasePlan()) touched.push_back({c.unitStart, uint64_t{c.unitStart} + c.unitSize});
  }
  if (writing) {
    // "-u" may erase any unit under the image; a plain write programs the image's bytes.
    for (const FlashRange& r : ImageRanges()) {
      touched.push_back(updating ? WholeUnits(r, programmer->GetEraseUnit()) : r);
    }
  }
  return touched;
}

bool FLASHAPP::ProtectionStep() {
  const std::vector<FlashRange> touched = RangesTouched();
  const bool unprotect = options.GetUnprotect();
  // A run that erases and programs nothing sends nothing more.
  if (touched.empty() && !unprotect) return true;
  WriteProtection protection;
  SPICTL* ctl = controller.get();
  if (!programmer->ReadProtection(ctl, &protection)) {
    return FlashFailed("Error reading from SPI device\n", RC_DEVICE_ACCESS);
  }
  // Busy with every protection bit set at once: no chip drives the data line.
  if (protection.status == kNoChipStatus) {
    return Fail("Flash memory device does not answer (status 0xFF): check the wiring\n", RC_DEVICE_ACCESS);
  }
  if (unprotect && protection.ProtectsAnything()) {
    if (!programmer->ClearProtection(ctl)) return FlashFailed("Error writing to SPI device\n", RC_DEVICE_ACCESS);
    if (!programmer->ReadProtection(ctl, &protection)) {
      return FlashFailed("Error reading from SPI device\n", RC_DEVICE_ACCESS);
    }
    if (protection.ProtectsAnything()) return StillProtected(protection);
  }
  for (const FlashRange& r : touched) {
    if (protection.Protects(static_cast<uint32_t>(r.start), static_cast<uint32_t>(r.end - r.start))) {
      printf("Flash memory device is write protected (status 0x%02X); -unprotect clears its protection\n",
             protection.status);
      return Fail(nullptr, RC_WRITE_PROTECTED);
    }
  }
  return true;
}

bool FLASHAPP::StillProtected(const WriteProtection& protection) {
  if (protection.statusLocked) {
    printf("Flash memory device is still write protected (status 0x%02X): "
           "SRWD locks its status register while W# is held low\n",
           protection.status);
  } else {
    printf("Flash memory device is still write protected (status 0x%02X): it ignored -unprotect\n",
           protection.status);
  }
  return Fail(nullptr, RC_WRITE_PROTECTED);
}
