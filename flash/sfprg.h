// SFPRG: the flash programmer. The base class itself is the generic
// programmer, which can only read the identification code; SFPA and SFPB
// drive the two command sets.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "flash/flashdev.h"

class SPICTL;

/// Every operation is handed the controller to use; a programmer never owns
/// it. Counts of zero or less mean there is nothing to do. Boolean results
/// are true on success; the controller's code of the last call is in spiError.
/// No address at or past the device size is ever sent to the chip: the chips
/// ignore the address bits above their size, so it would land at the start.
class SFPRG {
 public:
  /// How long a status poll waits for the chip, per kind of operation, in
  /// milliseconds. Each is well above the datasheet maximum of the slowest
  /// chip in the table.
  struct WaitLimits {
    uint32_t pageProgramMs;   // 5 ms sector-erase parts, 40 ms DataFlash erase+program
    uint32_t sectorEraseMs;   // 3 s
    uint32_t chipEraseMs;     // up to 250 s for the 16 MB parts
    uint32_t pageTransferMs;  // DataFlash page to buffer, well under 1 ms
  };
  static constexpr WaitLimits kDefaultWaitLimits = {500, 15000, 600000, 100};

  /// Replaces the limits of every programmer (tests shorten them).
  static void SetWaitLimits(const WaitLimits& limits);
  static const WaitLimits& GetWaitLimits();

  SFPRG();
  virtual ~SFPRG() = default;

  virtual bool ProgramPage(SPICTL* ctl, uint32_t address, int32_t count, const uint8_t* source);
  /// Polls the status back to back until the device reports ready, for at
  /// most the whole-chip erase limit; false when a status read fails or the
  /// device is still busy at the first read begun after the limit.
  virtual bool WaitReady(SPICTL* ctl);
  virtual bool Init();
  virtual void Term();
  virtual void SetDevice(const FLASHDEV& row);
  /// Reads the three identification bytes; `id` is written only on success.
  virtual bool ReadId(SPICTL* ctl, uint8_t id[3]);
  virtual bool ReadStatus(SPICTL* ctl, uint8_t* status);
  virtual bool EraseSector(SPICTL* ctl, uint32_t address);
  virtual bool EraseAll(SPICTL* ctl);
  virtual bool EraseRange(SPICTL* ctl, uint32_t start, int32_t length);
  virtual bool Read(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination);
  virtual bool BeginWrite(SPICTL* ctl);
  virtual bool Write(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source);
  virtual bool EndWrite(SPICTL* ctl);
  virtual uint32_t GetSize();

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

  /// One chip-select period in the general form: select, the transfers in
  /// order, release. A failed step skips the transfers after it; the release
  /// is issued in every case. True only when every step succeeded; spiError
  /// then holds the code of the step that failed.
  bool Transaction(SPICTL* ctl, std::initializer_list<Transfer> transfers);
  /// One Put as a whole transaction: with `oneCall` and a controller of kind
  /// SPIKIND_RT2 a single PutSelect, otherwise the general form.
  bool Command(SPICTL* ctl, int32_t count, const uint8_t* tx, uint8_t* rx, bool oneCall);

  /// WaitReady giving up after `limitMs` milliseconds.
  bool WaitReadyWithin(SPICTL* ctl, uint32_t limitMs);

  /// How much of [start, start + length) lies inside the device; 0 when
  /// nothing does.
  int32_t LengthInsideDevice(uint32_t start, int32_t length) const;
  /// True when the `count` bytes from `address` lie inside the device and
  /// inside one page: a page program that ran past its page would wrap to
  /// the start of that page.
  bool InsideOnePage(uint32_t address, int32_t count) const;

  /// Write's work for both command sets: the clipped range in ProgramPage
  /// pieces that never cross a page boundary.
  bool WriteInPages(SPICTL* ctl, uint32_t start, int32_t length, const uint8_t* source);
  /// Read's work for both command sets: the clipped range in read commands
  /// (03, the chip address of the first byte, `fill` clocked out per byte)
  /// of at most readMax bytes.
  bool ReadInCommands(SPICTL* ctl, uint32_t start, int32_t length, uint8_t* destination, uint8_t fill,
                      const std::function<uint32_t(uint32_t)>& chipAddress);

  int32_t spiError = 0;
  FLASHDEV device;
};
