// The DataFlash command set.
#include "flash/sfpb.h"

#include <cstdio>

namespace {

constexpr uint8_t kReadStatus = 0xD7;
// Chip erase, four bytes in one select period; it runs for seconds.
constexpr uint8_t kChipErase[4] = {0xC7, 0x94, 0x80, 0x9A};
// Main memory page to buffer 1 transfer: 400 us at most.
constexpr uint8_t kPageToBuffer1 = 0x53;
constexpr uint8_t kBuffer1Write = 0x84;
// Buffer 1 to main memory page program with built-in erase: 40 ms at most.
constexpr uint8_t kBuffer1ToPage = 0x83;
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
  if (!Transaction(ctl, {Send(4, bufferWrite.data()), Send(count, source)})) return false;
  const std::array<uint8_t, 4> program = Header(kBuffer1ToPage, ToDeviceAddress(address));
  if (!Transaction(ctl, {Send(4, program.data())})) return false;
  return WaitReadyWithin(ctl, GetWaitLimits().pageProgramMs);
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
  if (!Transaction(ctl, {Send(sizeof kChipErase, kChipErase, scratch)})) return false;
  return WaitReadyWithin(ctl, GetWaitLimits().chipEraseMs);
}

bool SFPB::EraseRange(SPICTL*, uint32_t, int32_t) {
  std::printf("Requested operation not supported on this device\n");
  return false;
}

bool SFPB::Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination) {
  return ReadInCommands(ctl, start, length, destination, kReadFill,
                        [this](uint32_t address) { return ToDeviceAddress(address); });
}

bool SFPB::BeginWrite(SPICTL*) { return true; }

bool SFPB::Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) {
  return WriteInPages(ctl, start, length, source);
}

bool SFPB::EndWrite(SPICTL*) { return true; }

uint32_t SFPB::ToDeviceAddress(uint32_t address) const {
  return ((address / device.pageSize) << device.pageShift) + address % device.pageSize;
}

bool SFPB::LoadPageIntoBuffer(SPICTL* ctl, uint32_t pageStart) {
  const std::array<uint8_t, 4> command = Header(kPageToBuffer1, ToDeviceAddress(pageStart));
  if (!Transaction(ctl, {Send(4, command.data())})) return false;
  return WaitReadyWithin(ctl, GetWaitLimits().pageTransferMs);
}
