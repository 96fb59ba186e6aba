// SPDX-License-Identifier: MIT
// UsbLibrary: the libusb-1.0 calls through which the CH341A and CH347
// backends reach their devices: finding one, opening and claiming it, and
// asynchronous bulk transfers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// libusb's error codes, as its calls return them (negative; 0 is success).
constexpr int kUsbErrorIo = -1;
constexpr int kUsbErrorAccess = -3;
constexpr int kUsbErrorNoDevice = -4;
constexpr int kUsbErrorNotFound = -5;
constexpr int kUsbErrorBusy = -6;
constexpr int kUsbErrorNotSupported = -12;

/// How an asynchronous transfer ended, as libusb tells it.
enum class UsbTransferStatus { kCompleted, kError, kTimedOut, kCancelled, kStall, kNoDevice, kOverflow };

/// A device on the bus with the identifiers asked for.
struct UsbDevicePlace {
  uint8_t bus = 0;
  uint8_t address = 0;

  bool operator==(const UsbDevicePlace&) const = default;
};

/// One asynchronous bulk transfer. Its owner keeps it, and its buffer, in
/// place from Submit until `active` turns false, which only HandleEvents does.
struct UsbTransfer {
  uint8_t endpoint = 0;  // 0x80 set: device to host
  uint8_t* buffer = nullptr;
  int length = 0;
  uint32_t timeoutMs = 0;  // from the submission; libusb then ends it as timed out
  bool active = false;
  UsbTransferStatus status = UsbTransferStatus::kCompleted;
  int actualLength = 0;
  void* libraryData = nullptr;  // the library's own record of it while active
};

/// Abstract so that tests can put a device emulator in its place; the real
/// one is LibusbLibrary. One object reaches at most one open device.
/// Functions returning int give 0 or one of libusb's error codes.
class UsbLibrary {
 public:
  virtual ~UsbLibrary() = default;

  /// Every device with `vendor`:`product`, in the order of bus and address.
  virtual int Find(uint16_t vendor, uint16_t product, std::vector<UsbDevicePlace>* devices) = 0;
  virtual int Open(const UsbDevicePlace& place) = 0;
  /// The open device's serial number (its string descriptor); "" when it
  /// has none.
  virtual int SerialNumber(std::string* serial) {
    (void)serial;
    return kUsbErrorNotSupported;
  }
  /// 1 when a kernel driver holds `interface`, 0 when none does, or an error.
  virtual int KernelDriverActive(int interface) = 0;
  /// Lets claiming detach a kernel driver, which releasing gives back.
  virtual int SetAutoDetachKernelDriver(bool enable) = 0;
  virtual int ClaimInterface(int interface) = 0;
  virtual void ReleaseInterface(int interface) = 0;
  virtual void Close() = 0;

  virtual int Submit(UsbTransfer* transfer) = 0;
  /// Asks for an active transfer's end; HandleEvents then reports it cancelled.
  virtual int Cancel(UsbTransfer* transfer) = 0;
  /// Waits up to `timeoutMs` for transfers to end and records how each did.
  virtual int HandleEvents(uint32_t timeoutMs) = 0;
  /// A millisecond clock for deadlines: the system's, or an emulator's own.
  virtual uint64_t NowMs() = 0;

  virtual std::string ErrorName(int error) = 0;
  /// What the library adds to the run's summary line: an emulator's
  /// modelled time; nothing for the real one.
  virtual std::string Summary() const { return ""; }
};
