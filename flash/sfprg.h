// SPDX-License-Identifier: MIT
// SFPRG: the flash programmer. The base class itself is the generic
// programmer, which can only read the identification code and the SFDP
// space; SFPA and SFPB drive the two command sets.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "flash/flashdev.h"
#include "flash/wait_observer.h"
#include "flash/write_protection.h"

class SPICTL;

/// Every operation is handed the controller to use; a programmer never owns
/// it. Counts of zero or less mean there is nothing to do. Boolean results
/// are true on success; the controller's code of the last call is in spiError.
/// No address at or past the device size is ever sent to the chip: the chips
/// ignore the address bits above their size, so it would land at the start.
///
/// Every status wait is bounded by twice its operation's datasheet maximum
/// plus 100 ms. Waits that typically last long (erases, the status register
/// write) clock the bus idle for about a millisecond after each busy status
/// read, with chip select released, instead of polling back to back: on real
/// hardware that is idle time, and against a simulated chip it is the time
/// that lets the chip finish. The idle time counts towards the bound as well
/// as the time that really passed.
class SFPRG {
 public:
  /// How the last status wait ended.
  enum class WaitEnd : uint8_t { kReady, kTimedOut, kGivenUp, kFailed };
  struct WaitRecord {
    FlashOp op = FlashOp::kPageProgram;
    uint32_t boundMs = 0;
    WaitEnd end = WaitEnd::kReady;
  };

  SFPRG();
  virtual ~SFPRG() = default;

  [[nodiscard]] virtual bool ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source);
  /// Polls the status until the device reports ready, bounded as the
  /// longest operation of the device (its whole-chip erase) is; false when a
  /// status read fails, the observer gives the wait up, or the device is
  /// still busy at the first read begun after the bound.
  [[nodiscard]] virtual bool WaitReady(SPICTL* ctl);
  [[nodiscard]] virtual bool Init();
  virtual void Term();
  virtual void SetDevice(const FLASHDEV& row);
  /// Reads the three identification bytes; `id` is written only on success.
  [[nodiscard]] virtual bool ReadId(SPICTL* ctl, uint8_t id[3]);
  /// Reads `length` bytes of the chip's SFDP space at `address` (5Ah, three
  /// address bytes and a dummy byte, whatever mode the chip is in).
  [[nodiscard]] bool ReadSfdpBytes(SPICTL* ctl, uint32_t address, uint8_t* destination, uint32_t length);
  [[nodiscard]] virtual bool ReadStatus(SPICTL* ctl, uint8_t* status);
  [[nodiscard]] virtual bool EraseSector(SPICTL* ctl, uint32_t address);
  [[nodiscard]] virtual bool EraseAll(SPICTL* ctl);
  [[nodiscard]] virtual bool EraseRange(SPICTL* ctl, uint32_t start, int32_t length);
  [[nodiscard]] virtual bool Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination);
  [[nodiscard]] virtual bool BeginWrite(SPICTL* ctl);
  [[nodiscard]] virtual bool Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source);
  [[nodiscard]] virtual bool EndWrite(SPICTL* ctl);
  virtual uint32_t GetSize();

  /// Reads what the chip protects against program and erase.
  [[nodiscard]] virtual bool ReadProtection(SPICTL* ctl, WriteProtection* protection);
  /// Asks the chip to drop every protection; whether it did shows in the
  /// next ReadProtection.
  [[nodiscard]] virtual bool ClearProtection(SPICTL* ctl);
  /// Bytes of the smallest piece the chip erases: a sector, or a DataFlash
  /// page (its page program erases the page first). 0 for the generic programmer.
  virtual uint32_t GetEraseUnit();
  /// Gives the erase unit at `start` (a multiple of GetEraseUnit) the
  /// `contents` of one unit. With `erase` the unit is erased first; without,
  /// programming can only clear bits, and `current` (what the unit holds)
  /// tells which pages need nothing. Pages that would program only the bytes
  /// they already hold are skipped.
  [[nodiscard]] virtual bool RewriteUnit(SPICTL* ctl, uint32_t start, const uint8_t* contents,
                                         const uint8_t* current, bool erase);

  /// One erase command of a plan: the address it carries and the unit it clears.
  struct EraseCommand {
    uint32_t address;    // inside the unit
    uint32_t unitStart;  // the unit's first byte
    uint32_t unitSize;
    bool operator==(const EraseCommand&) const = default;
  };
  /// The erase commands that clear every byte of [start, end) inside the
  /// device and nothing outside the units those bytes lie in, in ascending
  /// order and as few as the part's erase types allow. Here: one command a
  /// sector, the first carrying `start` itself.
  virtual std::vector<EraseCommand> PlanErase(uint32_t start, uint32_t end) const;
  /// Sends one planned erase command, then waits for the chip. Here: an
  /// EraseRange from its address to the end of its unit.
  [[nodiscard]] virtual bool EraseUnit(SPICTL* ctl, const EraseCommand& command);
  /// Reads with the fast read command (its dummy byte after the address)
  /// instead of the plain one: for a clock above the part's plain-read limit.
  void UseFastRead(bool fast) { fastRead = fast; }
  /// Leaves the chip in the addressing mode it powered up in, if the run
  /// changed it. Sent on every path, failed and interrupted runs included.
  [[nodiscard]] virtual bool Finish(SPICTL* ctl);

  /// Tells `observer` (or nobody, when null) about every wait from now on.
  void SetObserver(WaitObserver* observer) { this->observer = observer; }
  const WaitRecord& LastWait() const { return lastWait; }

  const FLASHDEV& GetDevice() const { return device; }
  int32_t GetSpiError() const { return spiError; }

 protected:
  /// One transfer of a transaction: a Put of `count` bytes from `tx`, or,
  /// when `tx` is null, a Get clocking out `count` copies of `fill`. The
  /// bytes clocked in go to `rx`; a Put drops them when `rx` is null.
  struct Transfer {
    int32_t count;
    const uint8_t* tx;
    uint8_t* rx;
    uint8_t fill;
  };
  static Transfer Send(int32_t count, const uint8_t* tx, uint8_t* rx = nullptr) { return {count, tx, rx, 0}; }
  static Transfer Receive(int32_t count, uint8_t fill, uint8_t* rx) { return {count, nullptr, rx, fill}; }

  /// An opcode followed by the low 24 bits of `address`, most significant first.
  static std::array<uint8_t, 4> Header(uint8_t opcode, uint32_t address);

  /// A command's opcode, address and dummy bytes as they go out.
  struct AddressedCommand {
    std::array<uint8_t, 6> bytes{};
    int32_t length = 0;  // 0: no command of the part reaches the address
  };
  /// `opcode` with three address bytes, or, above 16 MiB, `opcode4` with
  /// four (parts with 4-byte opcodes) or `opcode` with four (parts put into
  /// 4-byte mode); `dummies` fill bytes follow. Never a 3-byte address the
  /// chip would wrap to the bottom of the array.
  AddressedCommand Addressed(uint8_t opcode, uint8_t opcode4, uint32_t address, int32_t dummies = 0) const;
  /// The chip takes four address bytes where the part needs them: puts a
  /// part that has only a 4-byte mode into it, once.
  [[nodiscard]] bool ReachWholeArray(SPICTL* ctl);

  /// One chip-select period in the general form: select, the transfers in
  /// order, release. A failed step skips the transfers after it; the release
  /// is issued in every case. True only when every step succeeded; spiError
  /// then holds the code of the step that failed.
  [[nodiscard]] bool Transaction(SPICTL* ctl, std::initializer_list<Transfer> transfers);
  /// One Put as a whole transaction: with `oneCall` and a controller that
  /// selects in one call a single PutSelect, otherwise the general form.
  [[nodiscard]] bool Command(SPICTL* ctl, int32_t count, const uint8_t* tx, uint8_t* rx, bool oneCall);
  /// Transaction and Command for a command that starts new work on the chip
  /// (a write enable, program, erase, read or buffer command, as against the
  /// status reads of a wait): nothing is sent, and the result is false, once
  /// the observer wants the work to end.
  [[nodiscard]] bool Start(SPICTL* ctl, std::initializer_list<Transfer> transfers);
  [[nodiscard]] bool StartCommand(SPICTL* ctl, int32_t count, const uint8_t* tx, uint8_t* rx, bool oneCall);

  /// Waits for the chip to finish `op`, within the bound of its maximum (of
  /// `maxUs` where given).
  [[nodiscard]] bool WaitFor(SPICTL* ctl, FlashOp op, uint32_t maxUs = 0);

  /// How much of [start, start + length) lies inside the device; 0 when
  /// nothing does.
  int32_t LengthInsideDevice(uint32_t start, int32_t length) const;
  /// True when the `count` bytes from `address` lie inside the device and
  /// inside one page: a page program that ran past its page would wrap to
  /// the start of that page.
  [[nodiscard]] bool InsideOnePage(uint32_t address, int32_t count) const;

  /// Write's work for both command sets: the clipped range in ProgramPage
  /// pieces that never cross a page boundary.
  [[nodiscard]] bool WriteInPages(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source);
  /// Read's work for both command sets: the clipped range in read commands
  /// (`command` gives each one's header for its first byte, `fill` is
  /// clocked out per byte) of at most readMax bytes, and no more than the
  /// controller takes in one select period.
  [[nodiscard]] bool ReadInCommands(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination, uint8_t fill,
                                    const std::function<AddressedCommand(uint32_t)>& command);

  int32_t spiError = 0;
  FLASHDEV device;
  bool fastRead = false;
  bool inFourByteMode = false;

 private:
  /// The datasheet maximum of `op` in microseconds.
  uint32_t MaxUs(FlashOp op) const;
  /// Sends the part's command that clears the error bits a failed program
  /// or erase left in its status.
  void ClearErrors(SPICTL* ctl);
  /// Clocks the bus for about a millisecond with chip select released and
  /// adds the time it took at the current clock to `idleUs`.
  [[nodiscard]] bool IdleBus(SPICTL* ctl, uint64_t* idleUs);
  [[nodiscard]] bool EndWait(WaitEnd end);
  /// False, the work given up, when the observer wants it to end.
  [[nodiscard]] bool MayStart();

  WaitObserver* observer = nullptr;
  WaitRecord lastWait;
  std::vector<uint8_t> idleBytes;
};
