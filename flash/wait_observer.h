// SPDX-License-Identifier: MIT
// WaitObserver: what a programmer tells its user while it waits for the chip
// to finish an operation, and asks before each new command; FlashOp, the
// operations it waits for.
#pragma once

#include <cstdint>

/// The operations a programmer waits for, each with its own time bound.
enum class FlashOp : uint8_t {
  kPageProgram,         // DataFlash: buffer to page with built-in erase
  kPageProgramNoErase,  // DataFlash: buffer to page without erase
  kPageToBuffer,        // DataFlash: main memory page to buffer
  kSectorErase,
  kBulkErase,
  kChipErase,           // DataFlash
  kWriteStatus,
};

/// The operation as the program's messages name it ("sector erase").
const char* FlashOpName(FlashOp op);

/// Told about every status read that found the chip busy, so that the user
/// sees a long wait go on and can end it early, and asked before every
/// command that starts new work. The programmer never owns it.
class WaitObserver {
 public:
  virtual ~WaitObserver() = default;
  /// False once the user wants the work to end: no new command goes out,
  /// while the one in flight (and the wait for it) finishes.
  virtual bool MayStartCommand() = 0;
  /// `elapsedMs` is how long the wait has run; `typicalMs` the operation's
  /// typical time, 0 when the device table gives none. False gives the wait
  /// up: the command went out whole, and the chip finishes it by itself.
  virtual bool StillBusy(FlashOp op, uint32_t elapsedMs, uint32_t typicalMs) = 0;
};
