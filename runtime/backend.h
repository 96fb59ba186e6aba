// SPDX-License-Identifier: MIT
// Backend: one kind of interface device (the simulator, a Linux spidev
// node, ...) as the runtime drives it, moving the bytes of the select windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

/// One transfer an entry point asks for, with what it does to chip select.
/// A select window runs from the transfer or Select(true) that asserts chip
/// select to the one that releases it; the backend sees all of it, so it can
/// batch: a transfer whose reply nobody needs (`rx` null) may be held back
/// and sent with a later transfer that needs one (of the same window or of a
/// later one), at the window's end, or at the latest when the device closes.
/// A failure to send it is then the failure of the call that sent it. The
/// bytes of a transfer that needs a reply are in `rx` when Transfer returns.
struct BusTransfer {
  bool selectedDuring;  // chip select asserted while the bytes are clocked
  bool selectedAfter;   // still asserted afterwards; false ends the window
  const uint8_t* tx;    // bytes to clock out; null: `count` copies of `fill`
  uint8_t fill;
  uint8_t* rx;  // where the bytes clocked in go; null: nobody needs them
  size_t count;
};

/// Every operation returns true for success. A failure leaves its reason in
/// TakeReason(), empty when there is nothing to add (an injected fault).
/// A backend that models time says so in its Summary().
class Backend {
 public:
  virtual ~Backend() = default;

  virtual bool EnablePort(int32_t port) = 0;
  virtual bool DisablePort() = 0;
  /// SPI mode 0-3 (bit 1 clock polarity, bit 0 clock phase).
  virtual bool SetMode(uint32_t mode, bool lsbFirst) = 0;
  /// Asks for `hz`; `granted` gets the clock the device runs at, or where it
  /// cannot tell, the one asked for.
  virtual bool SetClock(uint32_t hz, uint32_t* granted) = 0;
  virtual uint32_t Clock() const = 0;
  /// Asserts (true) or releases (false) chip select.
  virtual bool Select(bool asserted) = 0;
  virtual bool Transfer(const BusTransfer& transfer) = 0;
  /// The longest reply one select window may carry whole after a command of
  /// up to RT_READ_COMMAND_MAX bytes sent (a read command); 0 for no limit.
  /// A longer window fails.
  virtual uint32_t WindowLimit() const { return 0; }
  virtual bool OffersConfigReset() const = 0;
  virtual bool ConfigReset(bool asserted) = 0;
  /// Ends the session; false when something could not be finished (the
  /// chip's contents saved, chip select released).
  virtual bool Close() = 0;
  /// The backend's fields of the run's summary line ("bytes=... selects=...").
  virtual std::string Summary() const = 0;

  std::string TakeReason() { return std::exchange(reason_, {}); }

 protected:
  /// Records why the operation failed and returns false.
  bool Fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }

 private:
  std::string reason_;
};
