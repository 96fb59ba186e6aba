// SPDX-License-Identifier: MIT
// Ch341aEmulator: a CH341A as libusb shows it: its stream processor, its
// pins, its USB packets and their timing, with a simulated flash chip on its
// SPI pins.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/usb_library.h"
#include "sim/sim_interface.h"
#include "testsupport/select_period_log.h"

namespace testsupport {

struct Ch341aEmulatorConfig {
  SimConfig sim{.latencyUs = 0};  // the chip; the emulator charges the USB time itself
  uint32_t devices = 1;           // CH341As on the bus; each index opens the same one
  uint32_t roundTripUs = 1000;    // a round trip: a full-speed device answers in the next 1 ms frame
  int openError = 0;              // libusb's error for Open (kUsbErrorAccess: no permission)
  int claimError = 0;             // ... for ClaimInterface (kUsbErrorBusy: held elsewhere)
  bool kernelDriver = false;      // a kernel driver holds the interface (spi-ch341, Linux 6.10 and later)
  bool noAutoDetach = false;      // libusb cannot detach kernel drivers here (not Linux: NOT_SUPPORTED)
  uint32_t chipSelectPin = 0;     // the chip's S# is on D0, D1 or D2
  uint64_t unplugAfter = 0;       // gone after taking this many OUT packets; 0 never
  uint64_t muteAfter = 0;         // takes no packet and answers nothing after this many
  uint64_t shortReply = 0;        // this reply packet (from 1) lacks its last byte
  uint64_t longReply = 0;         // this reply packet has a byte too many
  uint32_t replyCapacity = 4;     // reply packets held that no IN transfer took
  std::string report;             // a file that receives Summary() when the device closes
  bool keepLog = true;            // record packets and chip-select periods (not for long runs)
};

/// The device's rules, as the emulator keeps them:
/// - an OUT transfer reaches it in packets of 32 bytes (the last may be
///   shorter); each packet is one command, its first byte the stream;
/// - SPI stream (A8): each byte after A8 is clocked out on D5 least
///   significant bit first while D7 is read; the chip sees the byte
///   reversed. The bytes read come back, reversed the same way, as one IN
///   packet of as many bytes. The clock and data pins must be outputs and
///   the stream set to one data line each way;
/// - UIO stream (AB): 80|v sets D0-D5 to v, 40|m makes the pins of m
///   outputs (the others inputs), 20 ends the packet's commands;
/// - I2C stream (AA): 60|s sets the I2C speed (bits 1-0) and the SPI data
///   lines (bit 2: two each way), 00 ends;
/// - the chip's S# follows its pin: its level when the pin is an output,
///   high (a pull-up) when it is an input;
/// - the device holds the replies of at most `replyCapacity` packets that
///   no IN transfer has taken, and takes no further packet until one is;
/// - an IN transfer ends with the first packet; a packet longer than it is
///   an overflow;
/// - time: a round trip whenever the host submits with nothing in flight,
///   every packet (13 bytes of bulk protocol each, plus its payload) at
///   full speed's 12 Mbit/s, every SPI byte at the fixed 1.5 MHz and then
///   the device's own 4.9 µs (from ch341prog's measured read: see the .cpp);
/// - a kernel driver bound to the interface (Linux 6.10 and later bind
///   spi-ch341 to 1a86:5512) makes a claim fail busy unless libusb was told
///   to detach it (libusb_set_auto_detach_kernel_driver); released, the
///   device goes back to the kernel, which binds the driver again;
/// - unplugged, the device answers nothing again, every transfer ends with
///   no device, and its pins float, so the chip's S# rises.
/// Anything else the device is sent (another command or sub-command, an
/// SPI packet without bytes, a UIO packet without its end mark) is a
/// violation: recorded and written to standard error, the packet ignored.
class Ch341aEmulator : public UsbLibrary {
 public:
  /// Null, with the reason in `error`, for a chip the simulator lacks.
  static std::unique_ptr<Ch341aEmulator> Create(const Ch341aEmulatorConfig& config, std::string* error);
  /// The same, keeping no log, from a description such as
  /// "chip=N25Q128,image=chip.bin", the form ROMWICK_TEST_CH341A takes.
  /// Keys: chip, image, devices=<n>, latency=<round trip, µs>, deny, busy,
  /// driver, nodetach, cs=<pin>, unplug=<n>, mute=<n>, short=<n>, long=<n>,
  /// capacity=<n>, report=<file>.
  static std::unique_ptr<Ch341aEmulator> FromDescription(const std::string& text, std::string* error);
  ~Ch341aEmulator() override;

  /// A library that forwards to this one, for a backend to own while the
  /// test keeps the emulator.
  std::unique_ptr<UsbLibrary> Seam();

  int Find(uint16_t vendor, uint16_t product, std::vector<UsbDevicePlace>* devices) override;
  int Open(const UsbDevicePlace& place) override;
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
  /// "modelled=<s> round-trips=<n> chip-selects=<n> ops: ...".
  std::string Summary() const override;

  /// Every OUT packet the device took, in hex ("AB B6 20").
  const std::vector<std::string>& Packets() const { return packets_; }
  /// Each chip-select period the chip saw: the first four bytes it got, in
  /// hex, then "+N" for the rest; the period still open ends in " (held)".
  std::vector<std::string> SelectPeriods() const;
  const std::vector<std::string>& Violations() const { return violations_; }
  void ClearLog();
  uint64_t RoundTrips() const { return roundTrips_; }
  bool Claimed() const { return claimed_; }
  /// D0-D5 as outputs (bit set) and their levels.
  uint8_t Outputs() const { return outputs_; }
  uint8_t Levels() const { return levels_; }
  SimInterface& Sim() { return *sim_; }

 private:
  struct Pending {
    UsbTransfer* transfer;
    int done;  // OUT bytes taken
    uint64_t deadlineNs;
  };

  explicit Ch341aEmulator(const Ch341aEmulatorConfig& config);
  /// Runs the device until a transfer ends or nothing can move; false when
  /// nothing moved.
  bool Run();
  /// True when the packet ended its transfer.
  bool TakePacket(Pending& out);
  void Execute(const uint8_t* packet, size_t n);
  void Spi(const uint8_t* bytes, size_t n);
  void Uio(const uint8_t* packet, size_t n);
  void I2c(const uint8_t* packet, size_t n);
  void ApplySelect();
  void GiveReply(Pending& in);
  void End(Pending& pending, UsbTransferStatus status, int actual);
  void TimeOut(uint64_t nowNs);
  void Unplug();
  /// A packet of `payload` bytes on the bus.
  void ChargePacket(size_t payload);
  void Violation(const std::string& what);

  const Ch341aEmulatorConfig config_;
  std::unique_ptr<SimInterface> sim_;
  bool open_ = false;
  bool claimed_ = false;
  bool autoDetach_ = false;
  bool driverBound_ = false;  // the kernel driver holds the interface now
  bool gone_ = false;
  bool mute_ = false;
  bool roundTripDue_ = false;
  uint8_t outputs_ = 0;
  uint8_t levels_ = 0x3F;
  bool dualData_ = false;
  bool selected_ = false;
  std::deque<Pending> outs_;
  std::deque<Pending> ins_;
  std::deque<std::vector<uint8_t>> replies_;
  uint64_t packetsTaken_ = 0;
  uint64_t repliesMade_ = 0;
  uint64_t roundTrips_ = 0;
  uint64_t chipSelects_ = 0;
  std::vector<std::string> packets_;
  SelectPeriodLog periods_{config_.keepLog};
  std::vector<std::string> violations_;
};

}  // namespace testsupport
