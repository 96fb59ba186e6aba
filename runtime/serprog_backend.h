// SPDX-License-Identifier: MIT
// SerprogBackend: a device that speaks flashrom's serprog protocol (a
// Raspberry Pi Pico with pico-serprog, an STM32 with stm32-vserprog, an
// Arduino), on a serial port or over TCP, as a backend (`serprog:` names).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/serial_system.h"
#include "runtime/serprog_link.h"
#include "runtime/serprog_scheme.h"
#include "runtime/trace_writer.h"

/// One select window is one S_CMD_O_SPIOP, the protocol's one SPI command:
/// the device asserts chip select, clocks out the command's bytes, then
/// clocks in the bytes asked for (sending zeros), and releases chip select.
/// So:
/// - what a window puts without needing a reply is collected; a window that
///   needs none is queued as one S_CMD_O_SPIOP and goes with the next
///   command whose answer is needed (SerprogLink);
/// - a transfer that needs its reply is sent at once with what the window
///   holds: a put as its command, up to its last non-zero byte, and the rest
///   read, a get read whole (zeros clocked, whatever its fill byte: flash
///   chips ignore their input while they shift data out); the bytes clocked
///   in while the command went out read FF, as the chip does not drive its
///   output then;
/// - a transfer after the reply in the same window, or a window longer
///   than the device carries whole (S_CMD_Q_WRNMAXLEN bytes out,
///   S_CMD_Q_RDNMAXLEN back), is refused with its reason, never split:
///   WindowLimit() tells the programs how long a read command's reply may be.
/// A transfer with chip select released is a pause the program asks for
/// while a chip works: what is queued is written, and the time passes.
/// Only the commands in the device's command map (S_CMD_Q_CMDMAP) are sent.
class SerprogBackend : public Backend {
 public:
  /// How long a device may take to answer, beyond its commands' SPI time.
  static constexpr uint32_t kTimeoutMs = 1000;

  /// Opens the serial port or the connection of `request` through `system`,
  /// synchronises with the device and reads what it offers; null, with the
  /// reason in `error`, when it cannot be used.
  static std::unique_ptr<SerprogBackend> Open(const SerprogDeviceRequest& request,
                                              std::unique_ptr<SerialSystem> system, TraceWriter& trace,
                                              std::string* error);
  ~SerprogBackend() override;

  bool EnablePort(int32_t port) override;
  bool DisablePort() override;
  bool SetMode(uint32_t mode, bool lsbFirst) override;
  bool SetClock(uint32_t hz, uint32_t* granted) override;
  uint32_t Clock() const override { return clockHz_; }
  bool Select(bool asserted) override;
  bool Transfer(const BusTransfer& transfer) override;
  /// The longest window every split of it into command and reply fits:
  /// the lesser of the device's two maximum lengths.
  uint32_t WindowLimit() const override;
  bool OffersConfigReset() const override { return false; }
  bool ConfigReset(bool) override { return false; }
  bool Close() override;
  std::string Summary() const override;

 private:
  enum class Window {
    kClosed,
    kOpen,
    kSent,     // its S_CMD_O_SPIOP has gone: chip select has risen
    kRefused,  // dropped; what is left of it is dropped too
  };

  SerprogBackend(const SerprogDeviceRequest& request, std::unique_ptr<SerialSystem> system, TraceWriter& trace);
  bool Connect(const SerprogDeviceRequest& request, std::string* error);
  std::string OpenFailure(int err) const;
  /// S_CMD_Q_IFACE, the command map, the bus, the lengths, the buffer, the
  /// name, the output drivers on.
  bool Identify(std::string* error);
  bool Offers(uint8_t opcode) const { return (map_[opcode / 8] >> (opcode % 8) & 1) != 0; }
  /// A query whose answer is `length` bytes, little-endian; false on NAK.
  bool QueryNumber(uint8_t opcode, size_t length, uint32_t* value);

  bool IdleGap(const BusTransfer& t);
  void OpenWindow();
  bool EndWindow();
  bool Refuse(std::string reason);
  bool Take(const BusTransfer& t);
  bool Fits(size_t out, size_t in) const;
  std::string TooLong(size_t out, size_t in) const;
  /// One S_CMD_O_SPIOP of the window's bytes, reading `in` bytes into `rx`
  /// (none: queued, its answer read later).
  bool SpiOp(size_t in, uint8_t* rx);
  /// The modelled bus time of `bytes` at the clock, for deadlines.
  uint64_t BusNs(uint64_t bytes) const;
  bool LinkFailed();

  std::unique_ptr<SerialSystem> system_;
  TraceWriter& trace_;
  const std::string name_;  // the port, or host:port
  const bool tcp_;
  int fd_ = -1;
  std::unique_ptr<SerprogLink> link_;
  std::array<uint8_t, 32> map_{};
  std::string deviceName_;  // S_CMD_Q_PGMNAME's answer
  uint32_t maxOut_ = 0;
  uint32_t maxIn_ = 0;
  uint32_t clockHz_ = 0;  // 0: not known yet
  bool driversOn_ = false;

  Window window_ = Window::kClosed;
  std::vector<uint8_t> put_;

  uint64_t spiOps_ = 0;
  uint64_t windows_ = 0;
  uint64_t idleNs_ = 0;
};
