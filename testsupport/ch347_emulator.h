// SPDX-License-Identifier: MIT
// Ch347Emulator: a CH347T or CH347F as libusb shows it: its SPI commands,
// chip selects and GPIO pins, its USB packets and their timing, with a
// simulated flash chip on one of its chip selects.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/usb_library.h"
#include "sim/sim_interface.h"
#include "testsupport/select_period_log.h"

namespace testsupport {

struct Ch347EmulatorConfig {
  // The chip; the emulator charges the USB time itself, and the device
  // clocks up to 60 MHz.
  SimConfig sim{.latencyUs = 0, .topClockHz = 60'000'000};
  uint32_t devices = 1;  // CH347s on the bus; each index opens the same one
  char model = 'T';      // 'T': 1a86:55db, interface 2; 'F': 1a86:55de, interface 4
  std::vector<std::string> serials;  // the devices' serial numbers, in order; missing ones: none
  uint32_t roundTripUs = 125;        // a round trip: the next high-speed microframe (about 120 µs
                                     // measured on another high-speed bridge, pyftdi issue #193)
  uint32_t packetNs = 23'000;        // the device's own time for each packet, each way
  int openError = 0;                 // libusb's error for Open (kUsbErrorAccess: no permission)
  int claimError = 0;                // ... for ClaimInterface (kUsbErrorBusy: held elsewhere)
  bool kernelDriver = false;         // a kernel driver holds the interface
  uint32_t chipSelect = 0;           // the chip's S# is on CS0 or CS1
  std::optional<uint32_t> resetGpio;  // the GPIO wired to the board's reset line
  bool resetActiveHigh = false;
  uint64_t unplugAfter = 0;  // gone after taking this many commands; 0 never
  uint64_t muteAfter = 0;    // takes no command and answers nothing after this many
  uint64_t shortReply = 0;   // this reply (from 1) lacks its last byte
  uint64_t longReply = 0;    // this reply has a byte too many
  uint64_t strangeReply = 0;  // this reply is of another command (CA), as a device that is no CH347's SPI engine
  uint32_t replyCapacity = 4;  // replies held that no IN transfer took
  std::string report;          // a file that receives Summary() when the device closes
  bool keepLog = true;         // record commands and chip-select periods (not for long runs)
};

/// The device's rules, as the emulator keeps them:
/// - each OUT transfer is one command, as every public driver sends them:
///   its command byte, its payload's length (16 bits, little endian) and
///   the payload, the transfer exactly that long;
/// - C0 (26 bytes) sets the SPI engine: mode, bit order, the clock (60 MHz
///   divided by 2 to the power of bits 5-3 of byte 12), the byte C3 clocks
///   out; answered C0 01 00 00, or a non-zero status for settings it does
///   not take (a slave, 16-bit words, hardware chip select, a chip select
///   active high), which the Linux driver of Seeed Studio checks for;
/// - C1 (10 bytes): an entry of 5 for CS0 and for CS1; bit 7 of its first
///   byte changes the line, bit 6 releases it. No reply. The entries' delays
///   and automatic release are not modelled;
/// - C2 (1 to 507 bytes): clocked out while as many are clocked in, which
///   come back as C2 <length> <bytes>. Longer exchanges exist, but how their
///   reply is cut is not public;
/// - C3 (4 bytes, a count): clocks in that many bytes, the default byte
///   going out, sent back as C3 <length> <up to 507 bytes> replies;
/// - C4 (1 to 4096 bytes: spi-nand-prog spi-mem/ch347/ch347.h
///   CH347_SPI_MAX_TRX): clocked out, answered C4 01 00 00;
/// - CC (8 bytes): a byte for each GPIO pin: bits 7-6 change it, 5-4 make
///   it an output, bit 3 its level; answered CC 08 00 and the 8 pins (bit 7
///   output, bit 6 level);
/// - the SPI commands need the settings first; the chip's S# follows its
///   chip select; released, or with the device gone, it is high;
/// - the device holds at most `replyCapacity` replies that no IN transfer
///   has taken, and takes no further command (nor reads further for a C3)
///   until one is; an IN transfer ends with the first (short) reply, and a
///   reply longer than it is an overflow;
/// - time: a round trip whenever the host submits with nothing in flight;
///   every USB packet (up to 512 bytes) at 480 Mbit/s with 30 bytes of
///   bulk protocol, plus `packetNs` of the device's own; every SPI byte at
///   the clock set. 23 µs a packet makes a read at 60 MHz come to the
///   4,950 KB/s measured with ch347-nor-prog (981213/ch347-nor-prog,
///   README.md): 507 bytes in 100 µs;
/// - unplugged, the device answers nothing again and every transfer ends
///   with no device.
/// Anything else it is sent (another command, a wrong length, a transfer
/// that is not one whole command) is a violation: recorded and written to
/// standard error, the command dropped without a reply, so that a host
/// waiting for one times out, as it would on a device that ignores it.
class Ch347Emulator : public UsbLibrary {
 public:
  /// Null, with the reason in `error`, for a chip the simulator lacks.
  static std::unique_ptr<Ch347Emulator> Create(const Ch347EmulatorConfig& config, std::string* error);
  /// The same, keeping no log, from a description such as
  /// "chip=N25Q128,image=chip.bin", the form ROMWICK_TEST_CH347 takes.
  /// Keys: chip, image, devices=<n>, model=T|F, serials=<s>[/<s>]...,
  /// latency=<round trip, µs>, deny, busy, driver, cs=<0|1>,
  /// reset=<gpio>[:active-high], unplug=<n>, mute=<n>, short=<n>, long=<n>,
  /// strange=<n>, capacity=<n>, report=<file>.
  static std::unique_ptr<Ch347Emulator> FromDescription(const std::string& text, std::string* error);
  ~Ch347Emulator() override;

  /// A library that forwards to this one, for a backend to own while the
  /// test keeps the emulator.
  std::unique_ptr<UsbLibrary> Seam();

  int Find(uint16_t vendor, uint16_t product, std::vector<UsbDevicePlace>* devices) override;
  int Open(const UsbDevicePlace& place) override;
  int SerialNumber(std::string* serial) override;
  int KernelDriverActive(int interface) override;
  int SetAutoDetachKernelDriver(bool enable) override;
  int ClaimInterface(int interface) override;
  void ReleaseInterface(int interface) override;
  void Close() override;
  int Submit(UsbTransfer* transfer) override;
  int Cancel(UsbTransfer* transfer) override;
  int HandleEvents(uint32_t timeoutMs) override;
  uint64_t NowMs() override;
  std::string ErrorName(int error) override;
  /// "modelled=<s> round-trips=<n> chip-selects=<n> selects-in-reset=<n>
  /// ops: ...", the chip-select periods begun while the reset line was
  /// asserted counted apart.
  std::string Summary() const override;

  /// Every command the device took: its first 8 bytes in hex, then "+N"
  /// for the rest ("C4 04 00 02 00 01 00 +254").
  const std::vector<std::string>& Commands() const { return commands_; }
  /// Each chip-select period the chip saw (SelectPeriodLog).
  std::vector<std::string> SelectPeriods() const;
  const std::vector<std::string>& Violations() const { return violations_; }
  /// Each change of the reset line: "asserted", "released".
  const std::vector<std::string>& ResetLog() const { return resetLog_; }
  void ClearLog();
  uint64_t RoundTrips() const { return roundTrips_; }
  bool Claimed() const { return claimed_; }
  /// The SPI clock the settings set; 0 before them.
  uint32_t ClockHz() const { return clockHz_; }
  SimInterface& Sim() { return *sim_; }

 private:
  struct Pending {
    UsbTransfer* transfer;
    uint64_t deadlineNs;
  };

  explicit Ch347Emulator(const Ch347EmulatorConfig& config);
  uint16_t Product() const;
  int Interface() const;
  /// Runs the device until a transfer ends or nothing can move; false when
  /// nothing moved.
  bool Run();
  /// False when the device takes nothing (it has gone mute).
  bool TakeCommand(Pending& out);
  void Execute(const uint8_t* command, size_t n);
  void Settings(const uint8_t* payload);
  void Selects(const uint8_t* payload);
  void Gpio(const uint8_t* payload);
  /// Clocks `n` bytes through the chip as the settings have it on the wire.
  void Shift(const uint8_t* tx, uint8_t* rx, size_t n);
  void ReadChunk();
  void Reply(uint8_t command, std::vector<uint8_t> payload);
  void ApplySelect();
  void GiveReply(Pending& in);
  void End(Pending& pending, UsbTransferStatus status, int actual);
  void TimeOut(uint64_t nowNs);
  void Unplug();
  /// `bytes` carried on the bus in packets of up to 512, each with the
  /// device's own time.
  void ChargePackets(size_t bytes);
  void Violation(const std::string& what);

  const Ch347EmulatorConfig config_;
  std::unique_ptr<SimInterface> sim_;
  bool open_ = false;
  uint32_t openIndex_ = 0;
  bool claimed_ = false;
  bool used_ = false;  // claimed since it was opened
  bool autoDetach_ = false;
  bool gone_ = false;
  bool mute_ = false;
  bool roundTripDue_ = false;
  bool configured_ = false;
  uint32_t clockHz_ = 0;
  uint8_t mode_ = 0;
  bool lsbFirst_ = false;
  uint8_t outDefault_ = 0;
  bool released_[2] = {true, true};  // CS0, CS1
  bool selected_ = false;            // the chip's S# low
  uint8_t gpioOutputs_ = 0;
  uint8_t gpioLevels_ = 0;
  bool resetAsserted_ = false;
  uint64_t readLeft_ = 0;  // bytes a C3 still has to read
  std::deque<Pending> outs_;
  std::deque<Pending> ins_;
  std::deque<std::vector<uint8_t>> replies_;
  uint64_t commandsTaken_ = 0;
  uint64_t repliesMade_ = 0;
  uint64_t roundTrips_ = 0;
  uint64_t chipSelects_ = 0;
  uint64_t selectsInReset_ = 0;
  std::vector<std::string> commands_;
  SelectPeriodLog periods_{config_.keepLog};
  std::vector<std::string> violations_;
  std::vector<std::string> resetLog_;
};

}  // namespace testsupport
