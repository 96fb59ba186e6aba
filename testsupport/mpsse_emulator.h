// SPDX-License-Identifier: MIT
// MpsseEmulator: FTDI chips on the USB as libftdi1 shows them to the ftdi
// backend, with the MPSSE command processor of the opened channel wired to a
// simulated flash chip, the channel's buffers, and the time USB takes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/ftdi_scheme.h"
#include "runtime/ftdi_usb.h"
#include "sim/sim_interface.h"

namespace testsupport {

struct MpsseEmulatorConfig {
  SimConfig sim;                // the chip; its latency is not used (the emulator charges the USB's)
  std::string type = "FT232H";  // FT232H (0403:6014), FT2232H (6010), FT4232H (6011) or FT2232D (6010)
  uint32_t devices = 1;         // chips of that type on the USB
  bool serials = true;          // they have serial numbers RW000001, RW000002...
  FtdiPin cs;                   // the board's wiring: the chip's select pin (ADBUS3)
  std::optional<FtdiPin> reset;  // the configuration reset line the board has
  bool resetActiveHigh = false;
  // The reset net is open drain: a pull-up holds it high, and whatever drives
  // it may only pull it low. `resetHeld`: a supervisor, a button or an FPGA
  // pulls it low now, so a pin that drives it high shorts the two.
  bool resetOpenDrainNet = false;
  bool resetHeld = false;
  // A USB write and the read of its reply: one high-speed microframe each
  // way. Measured: about 120 µs between two I2C bytes on an FT232H, each
  // waiting for the last one's acknowledge to come back (pyftdi issue #193).
  uint32_t roundTripUs = 125;
  bool deny = false;           // the device node may not be opened
  bool busy = false;           // another program holds the channel
  uint64_t unplugAt = 0;       // the USB transfer (from 1) from which on the device is gone; 0 never
  uint64_t shortAt = 0;        // the read (from 1) that loses its last byte
  uint64_t garbleAt = 0;       // the write (from 1) whose reply starts with a stray byte
  uint32_t staleBytes = 0;     // bytes the chip still holds for the host after the switch to MPSSE
  std::string report;          // a file that receives the counts when the channel closes
  bool keepLog = true;         // record pin changes (not for long runs)
};

/// The rules, as the chips keep them:
/// - Opcodes executed: 11 (bytes out on the falling edge, most significant
///   bit first), 20 (bytes in on the rising edge), 31 (both), each with a
///   16-bit length n for n + 1 bytes; 80 and 82 (levels and directions of the
///   low and high pin bytes); 86 (clock divisor: SK = 60 MHz / ((1 + d) * 2),
///   or 12 MHz / ... with divide-by-5 on); 8A/8B divide-by-5 off/on; 8C/8D
///   three-phase clocking on/off (a byte then takes 1.5 times as long);
///   96/97 adaptive clocking on/off; 84/85 loopback on/off (what goes out
///   comes back in, the chip hears nothing); 87 send immediate; 8E n (n + 1
///   clock cycles without data) and 8F n (n + 1 bytes' worth). Any other
///   opcode is answered FA and the opcode.
///   The FT2232D has none of 8A-8F, 96 and 97 (AN_108 lists them for the
///   FT232H, FT2232H and FT4232H only): it answers them as unknown, and its
///   clock is always 6 MHz / (1 + d).
/// - Pins: ADBUS0 SK, ADBUS1 DO, ADBUS2 DI; chip select and the reset line on
///   the pins of the configuration. A pin that is an input reads as the
///   board pulls it: chip select high, the reset line inactive (an open
///   drain reset net: high, or low while another device holds it). Shifting
///   data with SK or DO not an output, or DI an output, reaches no chip and is a
///   violation; so is adaptive clocking, which waits for a clock nothing
///   returns, and shifting with SK idling high: out on the falling edge and
///   in on the rising one that is SPI mode 3, which the engine does not keep
///   (FTDI's AN_114: "FTDI device can only support mode 0 and mode 2"). A
///   pin driven high on an open-drain reset net that another device holds
///   low is a violation too.
/// - Buffers (to the host / from the host, the datasheets' TX and RX
///   buffers): FT232H 1 KiB / 1 KiB; a channel of the FT2232H 4 KiB / 4 KiB,
///   of the FT4232H 2 KiB / 2 KiB, of the FT2232D 128 / 384 bytes. The engine shifts a
///   read's bytes only while the buffer to the host has room: with it full
///   and unread, it stops, mid-command, and the chip takes no more USB data
///   than its buffer from the host holds. A write whose rest does not fit
///   behind a stopped engine is a violation and fails as libftdi's 5 s write
///   timeout would. Data a command shifts out is shifted as it comes.
/// - Time: each write costs a round trip, and the bus work runs on the
///   chip's virtual clock; reply bytes come at once after a send immediate,
///   in whole packets (510 bytes high speed, 62 full speed), or else after
///   the latency timer, which an empty read also costs. Bytes the chip
///   still holds when it enters MPSSE mode (`staleBytes`) come first.
/// A chip-select period whose command the chip did not take whole is a
/// violation too. Violations are recorded and written to standard error.
class MpsseEmulator : public FtdiUsb {
 public:
  /// Null, with the reason in `error`, for a chip the simulator lacks or an
  /// unknown type.
  static std::unique_ptr<MpsseEmulator> Create(const MpsseEmulatorConfig& config, std::string* error);
  /// The same, keeping no log, from a description such as
  /// "chip=N25Q128,image=chip.bin,type=FT2232H", the form ROMWICK_TEST_FTDI
  /// takes. Keys: chip, image, nochip, stuck, type, devices, noserial, cs,
  /// reset=<pin>[:active-high][:open-drain], held, rtt (µs), deny, busy,
  /// unplug, short, garble, stale=<n>, report.
  static std::unique_ptr<MpsseEmulator> FromDescription(const std::string& text, std::string* error);
  ~MpsseEmulator() override;

  /// A seam that forwards to this emulator, for a backend to own while the test keeps it.
  std::unique_ptr<FtdiUsb> Seam();

  bool Find(uint16_t vid, uint16_t pid, std::vector<FtdiUsbDevice>* found, std::string* error) override;
  bool Open(uint8_t bus, uint8_t address, int channel, FtdiOpenFailure* failure, std::string* error) override;
  bool SetLatencyTimer(uint8_t ms, std::string* error) override;
  bool SetBitMode(uint8_t outputs, uint8_t mode, std::string* error) override;
  bool Purge(std::string* error) override;
  bool Write(const uint8_t* data, size_t size, std::string* error) override;
  int Read(uint8_t* data, size_t size, std::string* error) override;
  void Close() override;
  uint64_t NowUs() override { return sim_->NowNs() / 1000; }

  /// Levels and directions of the low and high pin bytes.
  uint8_t Low() const { return low_; }
  uint8_t LowOutputs() const { return lowOutputs_; }
  uint8_t High() const { return high_; }
  uint8_t HighOutputs() const { return highOutputs_; }
  bool ChipSelected() const { return selected_; }
  bool ResetAsserted() const { return resetAsserted_; }
  /// Each USB write, in hex ("8A 97 ...").
  const std::vector<std::string>& WriteLog() const { return writeLog_; }
  void ClearLog() { writeLog_.clear(); }
  /// Each change of the reset line: "asserted", "released".
  const std::vector<std::string>& ResetLog() const { return resetLog_; }
  /// Chip-select periods begun while the reset line was asserted, and the others.
  uint64_t SelectsInReset() const { return selectsInReset_; }
  uint64_t SelectsOutOfReset() const { return selectsOutOfReset_; }
  uint64_t Writes() const { return writes_; }
  uint64_t Reads() const { return reads_; }
  /// SK as the divisor sets it (the simulated bus runs no slower than 915 Hz).
  uint32_t ClockHz() const { return clockHz_; }
  bool InMpsseMode() const { return mpsse_; }
  bool IsOpen() const { return open_; }
  /// The USB address of the device opened last.
  uint8_t OpenedAddress() const { return openedAddress_; }
  const std::vector<std::string>& Violations() const { return violations_; }
  SimInterface& Sim() { return *sim_; }

 private:
  explicit MpsseEmulator(const MpsseEmulatorConfig& config);
  /// Executes whole commands while the reply buffer has room.
  void Run();
  /// Bytes a command starting at `at` of the input takes, 0 while incomplete.
  size_t CommandSize(size_t at) const;
  void Execute(const uint8_t* command);
  /// Goes on with the shift under way as far as its data and the buffer to
  /// the host allow; the input bytes it took, or 0 when it could not move.
  size_t ContinueShift(size_t at);
  void Shift(const uint8_t* tx, size_t n, bool read);
  void SetPins(bool highByte, uint8_t levels, uint8_t outputs);
  void ApplyLines();
  bool PinLevel(const FtdiPin& pin, bool pulled) const;
  /// The reset net's level, as the pin and whatever else is on the net make it.
  bool ResetNetLevel();
  void Reply(uint8_t byte);
  size_t Deliverable() const;
  /// Counts a USB transfer; true, with `failure` in `error`, once the device is gone.
  bool Gone(std::string* error, const char* failure);
  void Violation(const std::string& what);
  void WriteReport() const;

  const MpsseEmulatorConfig config_;
  std::unique_ptr<SimInterface> sim_;
  uint16_t pid_ = 0;
  uint16_t bcdDevice_ = 0;
  size_t toHost_ = 0;    // reply bytes the chip holds at most
  size_t fromHost_ = 0;  // command bytes it holds at most that the engine has not taken
  size_t packetData_ = 0;
  bool hOnlyCommands_ = false;
  bool open_ = false;
  bool gone_ = false;
  uint8_t openedAddress_ = 0;
  bool mpsse_ = false;
  uint8_t latencyMs_ = 16;
  std::vector<uint8_t> in_;    // commands not yet executed
  uint8_t shiftOp_ = 0;        // the shifting command under way, 0 for none
  size_t shiftLeft_ = 0;       // its bytes still to shift
  std::vector<uint8_t> out_;   // reply bytes not yet read
  size_t flushed_ = 0;         // of out_, the bytes a send immediate released
  uint8_t low_ = 0, lowOutputs_ = 0, high_ = 0, highOutputs_ = 0;
  bool divideBy5_ = true, threePhase_ = false, adaptive_ = false, loopback_ = false;
  uint32_t divisor_ = 0;
  uint32_t clockHz_ = 6'000'000;
  void ApplyClock();
  bool selected_ = false;
  bool skHighSeen_ = false;
  bool resetFight_ = false;
  bool resetAsserted_ = false;
  uint8_t dataOutLevel_ = 0;
  uint64_t ignoredBefore_ = 0;
  uint64_t transfers_ = 0;
  uint64_t writes_ = 0;
  uint64_t reads_ = 0;
  uint64_t latencyWaits_ = 0;
  uint64_t selectsInReset_ = 0;
  uint64_t selectsOutOfReset_ = 0;
  std::vector<std::string> writeLog_;
  std::vector<std::string> resetLog_;
  std::vector<std::string> violations_;
};

}  // namespace testsupport
