// SPDX-License-Identifier: MIT
// Names of the chip command kinds counted in SimStats.
#include "sim/sim_stats.h"

const char* SimOpName(SimOp op) {
  static constexpr const char* kNames[kSimOpCount] = {
      "read id",        "read status",    "write enable",
      "write disable",  "read",           "page program",
      "sector erase",   "chip erase",     "buffer write",
      "buffer read",    "buffer to page", "buffer to page without erase",
      "page to buffer", "page erase",     "block erase",
      "write status",   "fast read",
      "enable sector protection",         "disable sector protection",
      "erase sector protection register", "program sector protection register",
      "read sector protection register",
      "read sfdp",      "enter 4-byte addressing",       "exit 4-byte addressing",
      "write address register",           "block lock",
      "clear error flags",
      "ignored",
  };
  const auto i = static_cast<size_t>(op);
  return i < kSimOpCount ? kNames[i] : "?";
}
