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

bool FLASHAPP::ProtectionStep() {
  const std::vector<FlashRange> touched = plan.Touched(programmer->GetSize());
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
