// SPDX-License-Identifier: MIT
// The generic programmer, and the transaction, polling and range rules that
// both command sets share.
#include "flash/sfprg.h"

#include <algorithm>

#include "platform/platform.h"
#include "spi/spictl.h"

namespace {

// JEDEC read identification: 9Fh, then the manufacturer's byte and two
// device bytes; both command sets answer it.
constexpr uint8_t kReadIdentification = 0x9F;
// JESD216: the SFDP space is read with 5Ah, a 3-byte address and a dummy byte.
constexpr uint8_t kReadSfdp = 0x5A;
constexpr uint8_t kWriteEnable = 0x06;
// 4-byte mode: B7h enters it, E9h leaves it (JESD216 DWORD16's first methods).
constexpr uint8_t kEnterFourByteMode = 0xB7;
constexpr uint8_t kExitFourByteMode = 0xE9;
// Three address bytes reach this far; the chip ignores the bits above.
constexpr uint64_t kThreeByteReach = 1u << 24;

// A wait may run twice its operation's datasheet maximum, and this much more,
// before the chip counts as stuck: the maxima hold for the chip, not for the
// interface device and the host in between.
constexpr uint32_t kWaitMarginMs = 100;
// An idle clocking between two status reads lasts about this long.
constexpr uint32_t kIdleUs = 1000;
// The clock assumed for a controller that does not say which it runs.
constexpr uint32_t kFallbackHz = 1000000;
// Clocked while idle; no chip is selected to see it.
constexpr uint8_t kIdleFill = 0xFF;

// Erases and the status register write take long enough, typically hundreds
// of milliseconds or more, that back-to-back polling would only burn the CPU.
bool IdlesWhileWaiting(FlashOp op) {
  return op == FlashOp::kSectorErase || op == FlashOp::kBulkErase || op == FlashOp::kChipErase ||
         op == FlashOp::kWriteStatus;
}

}  // namespace

SFPRG::SFPRG() : device{} {}

bool SFPRG::ProgramPage(SPICTL*, uint32_t, int32_t, const uint8_t*) { return false; }

bool SFPRG::WaitReady(SPICTL* ctl) {
  return WaitFor(ctl, device.type == FLASHTYPE_DATAFLASH ? FlashOp::kChipErase : FlashOp::kBulkErase);
}

bool SFPRG::Init() { return true; }

void SFPRG::Term() {}

void SFPRG::SetDevice(const FLASHDEV& row) { device = row; }

bool SFPRG::ReadId(SPICTL* ctl, uint8_t id[3]) {
  const uint8_t tx[4] = {kReadIdentification, 0, 0, 0};
  uint8_t rx[4];
  if (!Transaction(ctl, {Send(4, tx, rx)})) return false;
  std::copy(rx + 1, rx + 4, id);
  return true;
}

bool SFPRG::ReadSfdpBytes(SPICTL* ctl, uint32_t address, uint8_t* destination, uint32_t length) {
  const std::array<uint8_t, 4> header = Header(kReadSfdp, address);
  const uint8_t command[5] = {header[0], header[1], header[2], header[3], 0};
  return Transaction(ctl, {Send(5, command), Receive(static_cast<int32_t>(length), 0, destination)});
}

bool SFPRG::ReadStatus(SPICTL*, uint8_t*) { return false; }

bool SFPRG::EraseSector(SPICTL*, uint32_t) { return false; }

bool SFPRG::EraseAll(SPICTL*) { return false; }

bool SFPRG::EraseRange(SPICTL*, uint32_t, int32_t) { return false; }

std::vector<SFPRG::EraseCommand> SFPRG::PlanErase(uint32_t start, uint32_t end) const {
  std::vector<EraseCommand> plan;
  const uint32_t unit = device.sectorSize;
  end = std::min(end, device.size);
  if (unit == 0 || start >= end) return plan;
  // The first command carries the start address itself, the later ones the
  // first address of their unit.
  for (uint64_t address = start; address < end; address = (address / unit + 1) * unit) {
    const uint32_t a = static_cast<uint32_t>(address);
    plan.push_back({a, a - a % unit, unit});
  }
  return plan;
}

bool SFPRG::EraseUnit(SPICTL* ctl, const EraseCommand& command) {
  return EraseRange(ctl, command.address,
                    static_cast<int32_t>(command.unitStart + command.unitSize - command.address));
}

bool SFPRG::Finish(SPICTL* ctl) {
  if (!inFourByteMode) return true;
  // Sent even after a signal: the board's boot ROM reads in 3-byte mode.
  const uint8_t enable = kWriteEnable;
  const uint8_t exit = kExitFourByteMode;
  if (device.quirks.modeNeedsWriteEnable && !Command(ctl, 1, &enable, nullptr, true)) return false;
  if (!Command(ctl, 1, &exit, nullptr, true)) return false;
  inFourByteMode = false;
  return true;
}

bool SFPRG::Read(SPICTL*, uint32_t, int32_t, uint8_t*) { return false; }

bool SFPRG::BeginWrite(SPICTL*) { return false; }

bool SFPRG::Write(SPICTL*, uint32_t, int32_t, const uint8_t*) { return false; }

bool SFPRG::EndWrite(SPICTL*) { return false; }

uint32_t SFPRG::GetSize() { return device.size; }

bool SFPRG::ReadProtection(SPICTL*, WriteProtection*) { return false; }

bool SFPRG::ClearProtection(SPICTL*) { return false; }

uint32_t SFPRG::GetEraseUnit() { return 0; }

bool SFPRG::RewriteUnit(SPICTL*, uint32_t, const uint8_t*, const uint8_t*, bool) { return false; }

std::array<uint8_t, 4> SFPRG::Header(uint8_t opcode, uint32_t address) {
  return {opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
          static_cast<uint8_t>(address)};
}

SFPRG::AddressedCommand SFPRG::Addressed(uint8_t opcode, uint8_t opcode4, uint32_t address, int32_t dummies) const {
  AddressedCommand command;
  const bool fourBytes = device.size > kThreeByteReach && device.addressing != Addressing::kThreeBytes;
  if (!fourBytes && address >= kThreeByteReach) return command;  // it would wrap to the bottom
  if (fourBytes && device.addressing == Addressing::kFourByteOpcodes) {
    if (opcode4 == 0) return command;
    opcode = opcode4;
  }
  if (fourBytes && device.addressing == Addressing::kFourByteMode && !inFourByteMode) return command;
  int32_t n = 0;
  command.bytes[n++] = opcode;
  if (fourBytes) command.bytes[n++] = static_cast<uint8_t>(address >> 24);
  command.bytes[n++] = static_cast<uint8_t>(address >> 16);
  command.bytes[n++] = static_cast<uint8_t>(address >> 8);
  command.bytes[n++] = static_cast<uint8_t>(address);
  for (int32_t i = 0; i < dummies; ++i) command.bytes[n++] = 0;
  command.length = n;
  return command;
}

bool SFPRG::ReachWholeArray(SPICTL* ctl) {
  if (inFourByteMode || device.size <= kThreeByteReach || device.addressing != Addressing::kFourByteMode) {
    return true;
  }
  const uint8_t enable = kWriteEnable;
  const uint8_t enter = kEnterFourByteMode;
  if (device.quirks.modeNeedsWriteEnable && !StartCommand(ctl, 1, &enable, nullptr, true)) return false;
  // Marked before it is sent: whatever happens to it, Finish sends the exit.
  inFourByteMode = true;
  return StartCommand(ctl, 1, &enter, nullptr, true);
}

bool SFPRG::Transaction(SPICTL* ctl, std::initializer_list<Transfer> transfers) {
  bool ok = ctl->SetSelect(true, &spiError);
  // After a failed step the rest of the period must not reach the chip: it
  // would take the next bytes (page data, say) as the command.
  for (auto t = transfers.begin(); ok && t != transfers.end(); ++t) {
    ok = t->tx ? ctl->Put(t->count, t->tx, t->rx, &spiError) : ctl->Get(t->count, t->fill, t->rx, &spiError);
  }
  // The release is always issued, so the chip is never left selected; the
  // error reported stays that of the step that failed.
  const int32_t stepError = spiError;
  const bool released = ctl->SetSelect(false, &spiError);
  if (!ok) spiError = stepError;
  return ok && released;
}

bool SFPRG::Command(SPICTL* ctl, int32_t count, const uint8_t* tx, uint8_t* rx, bool oneCall) {
  if (oneCall && ctl->SelectsInOneCall()) return ctl->PutSelect(count, 0, 1, tx, rx, &spiError);
  return Transaction(ctl, {Send(count, tx, rx)});
}

bool SFPRG::MayStart() {
  if (!observer || observer->MayStartCommand()) return true;
  lastWait.end = WaitEnd::kGivenUp;
  return false;
}

bool SFPRG::Start(SPICTL* ctl, std::initializer_list<Transfer> transfers) {
  return MayStart() && Transaction(ctl, transfers);
}

bool SFPRG::StartCommand(SPICTL* ctl, int32_t count, const uint8_t* tx, uint8_t* rx, bool oneCall) {
  return MayStart() && Command(ctl, count, tx, rx, oneCall);
}

void SFPRG::ClearErrors(SPICTL* ctl) {
  const uint8_t command = device.quirks.clearErrors;
  // The wait has failed already; a failure here changes nothing about that.
  if (command != 0) static_cast<void>(Command(ctl, 1, &command, nullptr, true));
}

uint32_t SFPRG::MaxUs(FlashOp op) const {
  switch (op) {
    case FlashOp::kPageProgram: return device.programMaxUs;
    case FlashOp::kPageProgramNoErase: return device.programNoEraseMaxUs;
    case FlashOp::kPageToBuffer: return device.transferMaxUs;
    case FlashOp::kSectorErase: return device.eraseTypes[0].maxUs;
    case FlashOp::kBulkErase:
    case FlashOp::kChipErase: return device.eraseAllMaxUs;
    case FlashOp::kWriteStatus: return device.writeStatusMaxUs;
  }
  return device.eraseAllMaxUs;
}

bool SFPRG::WaitFor(SPICTL* ctl, FlashOp op, uint32_t maxUs) {
  const uint64_t bound = maxUs != 0 ? maxUs : MaxUs(op);
  const uint32_t boundMs = static_cast<uint32_t>(2 * bound / 1000) + kWaitMarginMs;
  const bool eraseAll = op == FlashOp::kBulkErase || op == FlashOp::kChipErase;
  const uint32_t typicalMs = eraseAll ? device.eraseAllTypicalMs : 0;
  lastWait = {op, boundMs, WaitEnd::kReady};
  const uint32_t start = platform::GetTickCount();
  uint64_t idleUs = 0;
  for (;;) {
    // Taken before the read, so that the last read is one begun after the
    // deadline: a chip that got ready meanwhile still counts as ready.
    const uint32_t elapsedMs =
        std::max<uint32_t>(platform::GetTickCount() - start, static_cast<uint32_t>(idleUs / 1000));
    uint8_t status;
    if (!ReadStatus(ctl, &status)) return EndWait(WaitEnd::kFailed);
    // A program or erase the chip refused (protection, a worn cell) shows
    // in its error bits; some parts stay busy until they are cleared.
    if ((status & device.quirks.errorMask) != 0) {
      ClearErrors(ctl);
      return EndWait(WaitEnd::kFailed);
    }
    if ((status & device.busyMask) == device.readyValue) return true;
    if (elapsedMs > boundMs) return EndWait(WaitEnd::kTimedOut);
    if (observer && !observer->StillBusy(op, elapsedMs, typicalMs)) return EndWait(WaitEnd::kGivenUp);
    if (IdlesWhileWaiting(op) && !IdleBus(ctl, &idleUs)) return EndWait(WaitEnd::kFailed);
  }
}

bool SFPRG::EndWait(WaitEnd end) {
  lastWait.end = end;
  return false;
}

bool SFPRG::IdleBus(SPICTL* ctl, uint64_t* idleUs) {
  const uint32_t hz = ctl->GetSpeed() != 0 ? ctl->GetSpeed() : kFallbackHz;
  const uint32_t count = std::max<uint32_t>(1, static_cast<uint32_t>(uint64_t{hz} * kIdleUs / 8000000));
  if (idleBytes.size() < count) idleBytes.resize(count, kIdleFill);
  *idleUs += uint64_t{count} * 8000000 / hz;
  // Chip select stays released: a PutSelect that keeps the line high, or a
  // Put outside any select period.
  if (ctl->SelectsInOneCall()) {
    return ctl->PutSelect(static_cast<int32_t>(count), 1, 1, idleBytes.data(), nullptr, &spiError);
  }
  return ctl->Put(static_cast<int32_t>(count), idleBytes.data(), nullptr, &spiError);
}

int32_t SFPRG::LengthInsideDevice(uint32_t start, int32_t length) const {
  if (length <= 0 || start >= device.size) return 0;
  return static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(length), device.size - start));
}

bool SFPRG::InsideOnePage(uint32_t address, int32_t count) const {
  const uint32_t room = device.pageSize - address % device.pageSize;
  return count > 0 && static_cast<uint32_t>(count) <= room && LengthInsideDevice(address, count) == count;
}

bool SFPRG::WriteInPages(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source) {
  length = LengthInsideDevice(start, length);
  while (length > 0) {
    const uint32_t room = device.pageSize - start % device.pageSize;
    const int32_t piece = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(length), room));
    if (!ProgramPage(ctl, start, piece, source)) return false;
    start += static_cast<uint32_t>(piece);
    source += piece;
    length -= piece;
  }
  return true;
}

bool SFPRG::ReadInCommands(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination, uint8_t fill,
                           const std::function<AddressedCommand(uint32_t)>& command) {
  length = LengthInsideDevice(start, length);
  // A controller that sends a select period whole limits the data of each
  // read command; a longer read goes out as several commands.
  const uint32_t window = ctl->LargestWholeTransfer();
  while (length > 0) {
    const AddressedCommand header = command(start);
    if (header.length == 0 || header.length > SPICTL::kLongestReadCommand) return false;
    uint32_t most = device.readMax;
    if (window != 0) most = std::min(most, window);
    const int32_t n = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(length), most));
    if (!Start(ctl, {Send(header.length, header.bytes.data()), Receive(n, fill, destination)})) return false;
    start += static_cast<uint32_t>(n);
    destination += n;
    length -= n;
  }
  return true;
}
