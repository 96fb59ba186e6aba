// SPDX-License-Identifier: MIT
// The names of the operations a programmer waits for.
#include "flash/wait_observer.h"

const char* FlashOpName(FlashOp op) {
  switch (op) {
    case FlashOp::kPageProgram: return "page program";
    case FlashOp::kPageProgramNoErase: return "page program without erase";
    case FlashOp::kPageToBuffer: return "page to buffer transfer";
    case FlashOp::kSectorErase: return "sector erase";
    case FlashOp::kBulkErase: return "bulk erase";
    case FlashOp::kChipErase: return "chip erase";
    case FlashOp::kWriteStatus: return "status register write";
  }
  return "operation";
}
