// SPDX-License-Identifier: MIT
// The DataFlash command set.
#include "flash/sfpb.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/ranges.h"

namespace {

constexpr uint8_t kReadStatus = 0xD7;
// Chip erase, four bytes in one select period; it runs for seconds.
constexpr uint8_t kChipErase[4] = {0xC7, 0x94, 0x80, 0x9A};
// Main memory page to buffer 1 transfer: 200 us at most.
constexpr uint8_t kPageToBuffer1 = 0x53;
constexpr uint8_t kBuffer1Write = 0x84;
// Buffer 1 to main memory page program with built-in erase: 40 ms at most.
constexpr uint8_t kBuffer1ToPage = 0x83;
// Buffer 1 to main memory page program without built-in erase: 6 ms at most.
constexpr uint8_t kBuffer1ToPageNoErase = 0x88;
// Read sector protection register: 32 and three don't-care bytes, then a
// byte for each sector. Sector 0's byte covers its two parts, 0a (the first
// block) in bits 7..6 and 0b (the rest of the sector) in bits 5..4.
constexpr uint8_t kReadSectorProtection = 0x32;
constexpr uint8_t kSector0aBits = 0xC0;
constexpr uint8_t kSector0bBits = 0x30;
// Disable sector protection, four bytes in one select period.
constexpr uint8_t kDisableSectorProtection[4] = {0x3D, 0x2A, 0x7F, 0x9A};
// Continuous array read at the plain read's clock: the address, then the
// data for as long as the chip stays selected.
constexpr uint8_t kContinuousRead = 0x03;
// Sent while the data is clocked in; the chip ignores it.
constexpr uint8_t kReadFill = 0x00;

}  // namespace

bool SFPB::ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source) {
  if (count <= 0) return true;
  if (!InsideOnePage(address, count)) return false;
  const uint32_t offset = address % device.pageSize;
  // The page program writes all of buffer 1 into the page: for a piece that
  // covers part of the page, the buffer must first hold the page as it is.
  const bool wholePage = static_cast<uint32_t>(count) == device.pageSize;
  if (!wholePage && !LoadPageIntoBuffer(ctl, address - offset)) return false;
  const std::array<uint8_t, 4> bufferWrite = Header(kBuffer1Write, offset);
  if (!Start(ctl, {Send(4, bufferWrite.data()), Send(count, source)})) return false;
  const std::array<uint8_t, 4> program = Header(kBuffer1ToPage, ToDeviceAddress(address));
  if (!Start(ctl, {Send(4, program.data())})) return false;
  return WaitFor(ctl, FlashOp::kPageProgram);
}

bool SFPB::ReadStatus(SPICTL* ctl, uint8_t* status) {
  const uint8_t tx[2] = {kReadStatus, 0};
  uint8_t rx[2];
  if (!Transaction(ctl, {Send(2, tx, rx)})) return false;
  *status = rx[1];
  return true;
}

bool SFPB::EraseAll(SPICTL* ctl) {
  uint8_t scratch[sizeof kChipErase];
  if (!Start(ctl, {Send(sizeof kChipErase, kChipErase, scratch)})) return false;
  return WaitFor(ctl, FlashOp::kChipErase);
}

bool SFPB::EraseRange(SPICTL*, uint32_t, int32_t) {
  std::printf("Requested operation not supported on this device\n");
  return false;
}

bool SFPB::Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) {
  return ReadInCommands(ctl, start, length, destination, kReadFill, [this](uint32_t address) {
    return Addressed(kContinuousRead, 0, ToDeviceAddress(address));
  });
}

bool SFPB::BeginWrite(SPICTL*) { return true; }

bool SFPB::Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) {
  return WriteInPages(ctl, start, length, source);
}

bool SFPB::EndWrite(SPICTL*) { return true; }

bool SFPB::ReadProtection(SPICTL* ctl, WriteProtection* protection) {
  uint8_t status;
  if (!ReadStatus(ctl, &status)) return false;
  *protection = WriteProtection{.status = status, .statusLocked = false, .areas = {}};
  // With sector protection disabled the register does not matter.
  if ((status & device.protection.bp) == 0) return true;
  const uint32_t sectors = device.size / device.sectorSize;
  std::vector<uint8_t> bytes(sectors);
  const uint8_t command[4] = {kReadSectorProtection, 0, 0, 0};
  if (!Transaction(ctl, {Send(4, command), Receive(static_cast<int32_t>(sectors), kReadFill, bytes.data())})) {
    return false;
  }
  // A sector's byte is FF when it is protected and 00 when not; anything
  // else is taken as protected.
  const auto add = [&](uint32_t start, uint32_t end) { AppendRange(protection->areas, WriteProtection::Area{start, end}); };
  if (bytes[0] & kSector0aBits) add(0, device.blockSize);
  if (bytes[0] & kSector0bBits) add(device.blockSize, device.sectorSize);
  for (uint32_t sector = 1; sector < sectors; ++sector) {
    if (bytes[sector] != 0) add(sector * device.sectorSize, (sector + 1) * device.sectorSize);
  }
  return true;
}

bool SFPB::ClearProtection(SPICTL* ctl) {
  uint8_t scratch[sizeof kDisableSectorProtection];
  return Start(ctl, {Send(sizeof kDisableSectorProtection, kDisableSectorProtection, scratch)});
}

uint32_t SFPB::GetEraseUnit() { return device.pageSize; }

bool SFPB::RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents, const uint8_t* current, bool erase) {
  if (start % device.pageSize != 0 || LengthInsideDevice(start, 1) == 0) return false;
  const int32_t page = static_cast<int32_t>(device.pageSize);
  // A whole page into buffer 1, then the buffer programmed with the chip's
  // built-in erase; without the erase the program only clears bits.
  if (erase) return ProgramPage(ctl, start, page, contents);
  if (std::equal(contents, contents + page, current)) return true;
  const std::array<uint8_t, 4> bufferWrite = Header(kBuffer1Write, 0);
  if (!Start(ctl, {Send(4, bufferWrite.data()), Send(page, contents)})) return false;
  const std::array<uint8_t, 4> program = Header(kBuffer1ToPageNoErase, ToDeviceAddress(start));
  if (!Start(ctl, {Send(4, program.data())})) return false;
  return WaitFor(ctl, FlashOp::kPageProgramNoErase);
}

uint32_t SFPB::ToDeviceAddress(uint32_t address) const {
  return ((address / device.pageSize) << device.pageShift) + address % device.pageSize;
}

bool SFPB::LoadPageIntoBuffer(SPICTL* ctl, uint32_t pageStart) {
  const std::array<uint8_t, 4> command = Header(kPageToBuffer1, ToDeviceAddress(pageStart));
  if (!Start(ctl, {Send(4, command.data())})) return false;
  return WaitFor(ctl, FlashOp::kPageToBuffer);
}
