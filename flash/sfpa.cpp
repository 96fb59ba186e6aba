// The sector-erase command set.
#include "flash/sfpa.h"

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
// Sent while the data is clocked in; the chip ignores it.
constexpr uint8_t kReadFill = 0x55;

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
    if (!Command(ctl, static_cast<int32_t>(frame.size()), frame.data(), nullptr, true)) return false;
  } else if (!Transaction(ctl, {Send(4, header.data()), Send(count, source)})) {
    return false;
  }
  return WaitReadyWithin(ctl, GetWaitLimits().pageProgramMs);
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
  if (!Command(ctl, 4, command.data(), nullptr, true)) return false;
  return WaitReadyWithin(ctl, GetWaitLimits().sectorEraseMs);
}

bool SFPA::EraseAll(SPICTL* ctl) {
  if (!WriteEnable(ctl, false)) return false;
  const uint8_t command = kBulkErase;
  if (!Command(ctl, 1, &command, nullptr, false)) return false;
  return WaitReadyWithin(ctl, GetWaitLimits().chipEraseMs);
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

bool SFPA::WriteEnable(SPICTL* ctl, bool oneCall) {
  const uint8_t command = kWriteEnable;
  return Command(ctl, 1, &command, nullptr, oneCall);
}
