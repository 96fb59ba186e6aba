// SPDX-License-Identifier: MIT
// UsbExchange: one USB write to a device and the reply packets it brings
// back, with several bulk transfers in flight each way.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/usb_library.h"

/// A device that answers each command packet with a packet of its own (the
/// CH341A, the CH347) ends every reply with a short packet, and a short packet ends an
/// IN transfer: so each reply takes an IN transfer, and the replies come as
/// fast as the device sends them only when many are waiting at once. The
/// OUT transfers are kept in flight too, so that the device never waits for
/// the host between them. Every transfer has a time-out; the exchange also
/// gives up when the library reports nothing for as long.
class UsbExchange {
 public:
  static constexpr uint32_t kTimeoutMs = 1000;

  /// `device` names it in reasons ("CH341A").
  UsbExchange(UsbLibrary& usb, std::string device, uint8_t outEndpoint, uint8_t inEndpoint);

  /// Sends `transfers` and receives one reply packet of each length in
  /// `replyLengths`, handing each to `take` in order. False, with the reason
  /// in `error`, at the first transfer that fails; the rest are cancelled.
  [[nodiscard]] bool Run(const std::vector<std::vector<uint8_t>>& transfers, const std::vector<uint16_t>& replyLengths,
                         const std::function<void(const uint8_t*, size_t)>& take, std::string* error);
  /// The same for a device whose replies are at most 255 bytes (the CH341A's 31).
  [[nodiscard]] bool Run(const std::vector<std::vector<uint8_t>>& transfers, const std::vector<uint8_t>& replyLengths,
                         const std::function<void(const uint8_t*, size_t)>& take, std::string* error) {
    return Run(transfers, std::vector<uint16_t>(replyLengths.begin(), replyLengths.end()), take, error);
  }
  /// The device has gone (unplugged) in an exchange.
  bool Gone() const { return gone_; }

 private:
  static constexpr size_t kOutInFlight = 4;
  static constexpr size_t kInInFlight = 32;
  static constexpr uint32_t kEventWaitMs = 100;

  struct Slot {
    UsbTransfer transfer;
    std::vector<uint8_t> buffer;
  };

  bool SubmitOut(const std::vector<uint8_t>& bytes, std::string* error);
  bool SubmitIn(uint16_t length, std::string* error);
  bool Submitted(int result, UsbTransfer& transfer, std::string* error);
  /// Checks how a transfer ended; `expected` bytes were due.
  bool Ended(const UsbTransfer& transfer, int expected, std::string* error);
  void CancelAndDrain();
  bool AnyActive() const;

  UsbLibrary& usb_;
  const std::string device_;
  const uint8_t outEndpoint_;
  const uint8_t inEndpoint_;
  // Rings: transfer n of a direction uses slot n modulo the ring's size.
  std::array<Slot, kOutInFlight> outs_;
  std::array<Slot, kInInFlight> ins_;
  size_t outSubmitted_ = 0;
  size_t inSubmitted_ = 0;
  bool gone_ = false;
};
