// SPDX-License-Identifier: MIT
// RunObserver: what the run driver does while a programmer waits for the
// chip: it shows the wait on the progress line and ends it on an interruption.
#pragma once

#include "app/progress_line.h"
#include "flash/wait_observer.h"

class RunObserver : public WaitObserver {
 public:
  explicit RunObserver(ProgressLine& progress) : progress_(progress) {}

  /// False once an interrupting signal has come.
  bool MayStartCommand() override;
  /// False once an interrupting signal has come: the command is out whole
  /// and the chip finishes it by itself.
  bool StillBusy(FlashOp op, uint32_t elapsedMs, uint32_t typicalMs) override;

 private:
  ProgressLine& progress_;
};
