// SPDX-License-Identifier: MIT
// FtdiUsb: the calls of libftdi1 through which the ftdi backend finds an FTDI
// chip on the USB, opens one of its channels in MPSSE mode and moves bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// One FTDI chip on the USB.
struct FtdiUsbDevice {
  uint16_t vid = 0;
  uint16_t pid = 0;
  uint16_t bcdDevice = 0;  // the release number, which tells the chip (0x0900 FT232H...)
  uint8_t bus = 0;
  uint8_t address = 0;
  std::string serial;  // empty: it has none, or it could not be read
};

/// Why an open failed.
enum class FtdiOpenFailure {
  kOther,
  kPermission,  // the device node may not be opened by this user
  kBusy,        // another program holds the channel
};

/// Abstract so that tests can put an emulator in its place; the real one is
/// LibftdiUsb. One object drives at most one open channel. Failures give
/// the library's error text in `error`.
class FtdiUsb {
 public:
  virtual ~FtdiUsb() = default;

  /// The chips with this vendor and product id, in the library's order.
  virtual bool Find(uint16_t vid, uint16_t pid, std::vector<FtdiUsbDevice>* found, std::string* error) = 0;
  /// Opens channel `channel` (1 for A to 4 for D) of the chip at `bus` and
  /// `address`, detaching the kernel's serial driver from it.
  virtual bool Open(uint8_t bus, uint8_t address, int channel, FtdiOpenFailure* failure, std::string* error) = 0;
  virtual bool SetLatencyTimer(uint8_t ms, std::string* error) = 0;
  /// ftdi_set_bitmode: `mode` 0x02 is MPSSE, 0x00 back to the chip's reset state.
  virtual bool SetBitMode(uint8_t outputs, uint8_t mode, std::string* error) = 0;
  /// Drops what either direction of the chip still holds.
  virtual bool Purge(std::string* error) = 0;
  /// Writes all of `data` or fails (a timeout included).
  virtual bool Write(const uint8_t* data, size_t size, std::string* error) = 0;
  /// Reads what the chip has sent, up to `size` bytes: the count, 0 when
  /// nothing has come yet, -1 on failure.
  virtual int Read(uint8_t* data, size_t size, std::string* error) = 0;
  virtual void Close() = 0;
  /// Microseconds on a clock that moves on its own: the time that deadlines
  /// are measured in.
  virtual uint64_t NowUs() = 0;
};
