// SPDX-License-Identifier: MIT
// The run driver's observer of status waits.
#include "app/run_observer.h"

#include "platform/platform.h"

bool RunObserver::MayStartCommand() { return platform::PendingInterruption() == 0; }

bool RunObserver::StillBusy(FlashOp, uint32_t elapsedMs, uint32_t typicalMs) {
  if (platform::PendingInterruption() != 0) return false;
  // Only the whole-chip erases come with a typical time: the waits long
  // enough to be worth watching.
  if (typicalMs != 0) progress_.Waiting(elapsedMs, typicalMs);
  return true;
}
