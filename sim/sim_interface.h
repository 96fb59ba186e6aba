// SPDX-License-Identifier: MIT
// SimInterface: a simulated SPI interface device with a modelled flash chip
// on its bus, the device a runtime hosts in place of real hardware.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/chip_model.h"
#include "sim/sim_chip_facts.h"
#include "sim/sim_stats.h"
#include "sim/virtual_clock.h"

struct SimConfig {
  std::string chip{};   // part name, letter case ignored; unused with noChip
  std::string image{};  // raw image file holding the contents; empty: start erased, keep nothing
  std::optional<std::array<uint8_t, 3>> id{};  // identification code answered instead
  bool noChip = false;     // nothing on the bus: every byte clocked out reads FF
  bool stuck = false;      // busy for ever after the first program or erase
  bool idGlitch = false;   // the second identification read drops a bit
  std::optional<uint32_t> readGlitch{};  // the second read of this array byte drops a bit
  uint32_t failCall = 0;   // the runtime call (1-based) that fails; 0 none
  uint32_t holdCall = 0;   // the runtime call (1-based) that first waits for a signal; 0 none
  bool protect = false;    // every sector protected; wins over protectBits
  // The protection the chip starts with: a sector-erase chip's status
  // register bits SRWD, BP3 (N25Q), TB (N25Q), BP2..BP0 as they read (0x9C
  // at most on an M25P, 0xFC on the N25Q128); on the DataFlash, a mask of
  // the sectors to protect (bit n: sector n, 0xFFFF at most), its sector
  // protection then enabled even for a mask of 0.
  std::optional<uint32_t> protectBits{};
  bool writeProtectPin = false;  // W# (DataFlash: WP) held low
  bool quadEnable = false;       // serial NOR: QE set at power-up
  bool noSfdp = false;           // serial NOR: 5Ah goes unanswered
  std::string sfdpFile{};        // serial NOR: its bytes answer 5Ah; empty: the part's tables
  // Array addresses (linear, as Contents()) that a program covering them
  // leaves different from what it sent; see ChipModel::DroppedBits.
  std::vector<uint32_t> flips{};
  uint32_t latencyUs = 100;  // charged per runtime call: a USB round trip
  uint32_t topClockHz = 30'000'000;  // the fastest SPI clock the device grants
};

/// One interface device and its chip. A runtime maps each entry point onto
/// BeginCall followed by the bus operations it needs.
class SimInterface {
 public:
  /// Builds the device; null, with the reason in `error`, for an unknown chip,
  /// protection, flip addresses, a quad-enable bit or SFDP the chip does not
  /// have, an SFDP file that cannot be read, or an image file that cannot be
  /// used. A missing image file is created erased; one of another size than
  /// the chip is refused.
  static std::unique_ptr<SimInterface> Create(const SimConfig& config, std::string* error);

  /// Every runtime call starts here: it is counted and its latency charged.
  /// False for the call that the configuration makes fail; the caller then
  /// reports failure and touches nothing. The call the configuration holds
  /// says so on standard error and waits until the process receives a signal
  /// (its handler has run), then goes on: a test's moment to interrupt a run.
  bool BeginCall();
  /// Drives chip select: `high` false selects the chip.
  void SetSelectLine(bool high);
  /// Sets the SPI clock and returns the one granted: the fastest B / d (d a
  /// whole number from 2 to 65536) not above `hz`, where the base clock B is
  /// twice the top clock of the configuration (60 MHz by default); so at most
  /// the top clock (30 MHz), and the slowest, B / 65536 (about 916 Hz), for
  /// anything below it.
  uint32_t SetClock(uint32_t hz);
  uint32_t GetClock() const { return clockHz_; }
  /// Full-duplex transfer of `n` bytes from `tx`; what is clocked in goes to
  /// `rx` unless it is null.
  void Transfer(const uint8_t* tx, uint8_t* rx, size_t n);
  /// Like Transfer, clocking out `n` copies of `fill`.
  void TransferFill(uint8_t fill, uint8_t* rx, size_t n);
  /// Lets `ns` of the chip's time pass with the bus idle.
  void Wait(uint64_t ns) { clock_.Advance(ns); }

  SimStats Stats() const;
  /// Writes the contents back to the image file, if there is one: into a new
  /// file beside it, renamed over it once whole, so that the image is always
  /// either the old one or the new one, even when the process is killed
  /// meanwhile. A save that fails leaves the old image and no new file. A
  /// run that sent no command that programs or erases, and let nobody at
  /// the array, leaves the image untouched: a read of a large chip would
  /// otherwise write it all again.
  bool Save(std::string* error) const;

  /// The modelled part; null without a chip.
  const SimChipFacts* Chip() const { return chip_ ? &chip_->Facts() : nullptr; }
  /// The chip's array, linear (empty without a chip); tests look and seed here.
  std::span<uint8_t> Contents();
  uint64_t NowNs() const { return clock_.Now(); }

 private:
  explicit SimInterface(const SimConfig& config);
  void Clock(TxBytes tx, uint8_t* rx, size_t n);

  const SimConfig config_;
  VirtualClock clock_;
  std::unique_ptr<ChipModel> chip_;
  uint32_t clockHz_ = 0;
  bool selectHigh_ = true;
  bool contentsShared_ = false;  // Contents() was handed out: anything may have changed
  uint64_t calls_ = 0;
  uint64_t bytes_ = 0;
  uint64_t selects_ = 0;
};
