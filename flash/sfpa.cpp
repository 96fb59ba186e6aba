// SPDX-License-Identifier: MIT
// The sector-erase command set.
#include "flash/sfpa.h"

#include <algorithm>
#include <vector>

#include "spi/spictl.h"

namespace {

constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kReadStatus = 0x05;
// Sector erase: 0.6 s typical, 3 s at most.
constexpr uint8_t kSectorErase = 0xD8;
// Bulk erase: tens of seconds, up to 250 s for the 16 MB parts.
constexpr uint8_t kBulkErase = 0xC7;
// Page program: 1.4 ms typical, 5 ms at most.
constexpr uint8_t kPageProgram = 0x02;
// Write status register: 1.3 ms typical, 15 ms at most (8 ms on the N25Q128).
constexpr uint8_t kWriteStatus = 0x01;
// Sent while the data is clocked in; the chip ignores it.
constexpr uint8_t kReadFill = 0x55;
// What a freshly erased byte reads.
constexpr uint8_t kErased = 0xFF;

/// The block-protect value: the bits of `status` under `mask`, packed from
/// the lowest (BP0) up, so that the N25Q128's BP3 in bit 6 is worth 8.
uint32_t BlockProtectValue(uint8_t status, uint8_t mask) {
  uint32_t value = 0;
  uint32_t weight = 1;
  for (uint32_t bit = 1; bit <= 0x80; bit <<= 1) {
    if ((mask & bit) == 0) continue;
    if (status & bit) value |= weight;
    weight <<= 1;
  }
  return value;
}

}  // namespace

bool SFPA::ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source) {
  if (count <= 0) return true;
  if (!InsideOnePage(address, count)) return false;
  if (!WriteEnable(ctl, true)) return false;
  const std::array<uint8_t, 4> header = Header(kPageProgram, address);
  if (ctl->GetKind() == SPIKIND_RT2) {
    // A one-call transaction sends a single buffer: header and data together.
    std::vector<uint8_t> frame(header.begin(), header.end());
    frame.insert(frame.end(), source, source + count);
    if (!StartCommand(ctl, static_cast<int32_t>(frame.size()), frame.data(), nullptr, true)) return false;
  } else if (!Start(ctl, {Send(4, header.data()), Send(count, source)})) {
    return false;
  }
  return WaitFor(ctl, FlashOp::kPageProgram);
}

bool SFPA::ReadStatus(SPICTL* ctl, uint8_t* status) {
  const uint8_t tx[2] = {kReadStatus, 0};
  uint8_t rx[2];
  if (!Command(ctl, 2, tx, rx, true)) return false;
  *status = rx[1];
  return true;
}

bool SFPA::EraseSector(SPICTL* ctl, uint32_t address) {
  if (address >= device.size) return false;
  if (!WriteEnable(ctl, true)) return false;
  const std::array<uint8_t, 4> command = Header(kSectorErase, address);
  if (!StartCommand(ctl, 4, command.data(), nullptr, true)) return false;
  return WaitFor(ctl, FlashOp::kSectorErase);
}

bool SFPA::EraseAll(SPICTL* ctl) {
  if (!WriteEnable(ctl, false)) return false;
  const uint8_t command = kBulkErase;
  if (!StartCommand(ctl, 1, &command, nullptr, false)) return false;
  return WaitFor(ctl, FlashOp::kBulkErase);
}

bool SFPA::EraseRange(SPICTL* ctl, uint32_t start, int32_t length) {
  length = LengthInsideDevice(start, length);
  if (length == 0) return true;
  const uint32_t last = start + static_cast<uint32_t>(length) - 1;
  // The first erase carries the start address itself, the later ones the
  // first address of their sector.
  for (uint32_t address = start; address <= last;
       address = (address / device.sectorSize + 1) * device.sectorSize) {
    if (!EraseSector(ctl, address)) return false;
  }
  return true;
}

bool SFPA::Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) {
  return ReadInCommands(ctl, start, length, destination, kReadFill, [](uint32_t address) { return address; });
}

bool SFPA::BeginWrite(SPICTL*) { return true; }

bool SFPA::Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) {
  return WriteInPages(ctl, start, length, source);
}

bool SFPA::EndWrite(SPICTL*) { return true; }

bool SFPA::ReadProtection(SPICTL* ctl, WriteProtection* protection) {
  uint8_t status;
  if (!ReadStatus(ctl, &status)) return false;
  *protection = WriteProtection{.status = status, .statusLocked = (status & device.lockBit) != 0, .areas = {}};
  const uint32_t value = BlockProtectValue(status, device.protectBits);
  if (value == 0) return true;
  // Each value above 1 doubles the area; beyond the chip it is the whole chip.
  const uint64_t bytes = std::min<uint64_t>(uint64_t{device.protectUnit} << std::min<uint32_t>(value - 1, 32),
                                            device.size);
  const bool fromBottom = (status & device.bottomBit) != 0;
  const uint32_t start = fromBottom ? 0 : device.size - static_cast<uint32_t>(bytes);
  protection->areas.push_back({start, start + static_cast<uint32_t>(bytes)});
  return true;
}

bool SFPA::ClearProtection(SPICTL* ctl) {
  // Status register 00: every block-protect bit clear, and SRWD with them.
  const uint8_t command[2] = {kWriteStatus, 0x00};
  return WriteEnable(ctl, true) && StartCommand(ctl, 2, command, nullptr, true) &&
         WaitFor(ctl, FlashOp::kWriteStatus);
}

uint32_t SFPA::GetEraseUnit() { return device.sectorSize; }

bool SFPA::RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents, const uint8_t* current, bool erase) {
  if (start % device.sectorSize != 0 || LengthInsideDevice(start, 1) == 0) return false;
  if (erase && !EraseSector(ctl, start)) return false;
  const std::vector<uint8_t> erased(device.pageSize, kErased);
  for (uint32_t offset = 0; offset < device.sectorSize; offset += device.pageSize) {
    // What the page holds before its program: nothing to do when that is
    // already what it should hold (an erased page that stays erased, say).
    const uint8_t* before = erase ? erased.data() : current + offset;
    if (std::equal(contents + offset, contents + offset + device.pageSize, before)) continue;
    if (!ProgramPage(ctl, start + offset, static_cast<int32_t>(device.pageSize), contents + offset)) return false;
  }
  return true;
}

bool SFPA::WriteEnable(SPICTL* ctl, bool oneCall) {
  const uint8_t command = kWriteEnable;
  return StartCommand(ctl, 1, &command, nullptr, oneCall);
}
