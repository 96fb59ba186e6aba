// SPDX-License-Identifier: MIT
// The serprog protocol's commands and answers, as the backend sends and reads
// them, from flashrom's protocol description
// (doc/supported_hw/supported_prog/serprog/serprog-protocol.rst, formerly
// Documentation/serprog-protocol.txt): version 1, every multi-byte value
// little-endian, lengths 24 bits.
#pragma once

#include <cstdint>
#include <string>

namespace serprog {

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

// Commands: opcode, then the parameters; the answer is ACK and what the
// command returns, or NAK alone.
constexpr uint8_t kNop = 0x00;           // -> ACK
constexpr uint8_t kQueryIface = 0x01;    // -> ACK + 16-bit version
constexpr uint8_t kQueryCmdMap = 0x02;   // -> ACK + 32 bytes: bit n of byte n / 8 for command n
constexpr uint8_t kQueryName = 0x03;     // -> ACK + 16 bytes, NUL padded
constexpr uint8_t kQuerySerBuf = 0x04;   // -> ACK + 16-bit size of the device's input buffer
constexpr uint8_t kQueryBusType = 0x05;  // -> ACK + 8-bit bus types
constexpr uint8_t kQueryWrNMax = 0x08;   // -> ACK + 24-bit longest write (0: 2^24)
constexpr uint8_t kSyncNop = 0x10;       // -> NAK + ACK, the synchronisation answer
constexpr uint8_t kQueryRdNMax = 0x11;   // -> ACK + 24-bit longest read (0: 2^24)
constexpr uint8_t kSetBusType = 0x12;    // 8-bit bus types -> ACK
constexpr uint8_t kSpiOp = 0x13;         // 24-bit slen, 24-bit rlen, slen bytes -> ACK + rlen bytes
constexpr uint8_t kSetSpiFreq = 0x14;    // 32-bit Hz -> ACK + 32-bit Hz the device set
constexpr uint8_t kSetPinState = 0x15;   // 8-bit: 0 output drivers off, else on -> ACK
constexpr uint8_t kSetSpiCs = 0x16;      // 8-bit chip select -> ACK

constexpr uint16_t kIfaceVersion = 1;
constexpr uint8_t kBusSpi = 1 << 3;  // bus type bits: parallel, LPC, FWH, SPI
constexpr size_t kCmdMapBytes = 32;
constexpr size_t kNameBytes = 16;
constexpr size_t kSpiOpHeader = 7;  // opcode, slen, rlen
// A length field holds 24 bits: the most one S_CMD_O_SPIOP carries each way,
// whatever a device's Q_WRNMAXLEN or Q_RDNMAXLEN (0 there meaning 2^24).
constexpr uint32_t kLengthFieldMax = (1u << 24) - 1;

/// The command's name in the protocol's own terms ("S_CMD_O_SPIOP"), for
/// reasons and the trace.
std::string CommandName(uint8_t opcode);

}  // namespace serprog
