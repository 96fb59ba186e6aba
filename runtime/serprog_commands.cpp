// SPDX-License-Identifier: MIT
// The serprog commands' names.
#include "runtime/serprog_commands.h"

#include <cstdio>

namespace serprog {

std::string CommandName(uint8_t opcode) {
  switch (opcode) {
    case kNop: return "S_CMD_NOP";
    case kQueryIface: return "S_CMD_Q_IFACE";
    case kQueryCmdMap: return "S_CMD_Q_CMDMAP";
    case kQueryName: return "S_CMD_Q_PGMNAME";
    case kQuerySerBuf: return "S_CMD_Q_SERBUF";
    case kQueryBusType: return "S_CMD_Q_BUSTYPE";
    case kQueryWrNMax: return "S_CMD_Q_WRNMAXLEN";
    case kSyncNop: return "S_CMD_SYNCNOP";
    case kQueryRdNMax: return "S_CMD_Q_RDNMAXLEN";
    case kSetBusType: return "S_CMD_S_BUSTYPE";
    case kSpiOp: return "S_CMD_O_SPIOP";
    case kSetSpiFreq: return "S_CMD_S_SPI_FREQ";
    case kSetPinState: return "S_CMD_S_PIN_STATE";
    case kSetSpiCs: return "S_CMD_S_SPI_CS";
    default: {
      char text[24];
      std::snprintf(text, sizeof text, "command 0x%02X", opcode);
      return text;
    }
  }
}

}  // namespace serprog
