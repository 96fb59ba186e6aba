// SPDX-License-Identifier: MIT
// The ftdi backend's USB calls through libftdi1 (and libusb underneath it).
#include "runtime/libftdi_usb.h"

#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>

namespace {

// libftdi reads and writes in pieces of this size: large enough for a whole
// 64 KiB read command in one piece each way.
constexpr unsigned kChunkSize = 65536;
// libftdi_usb_open_dev's result when the channel cannot be claimed.
constexpr int kClaimFailed = -5;
constexpr size_t kSerialSize = 128;

// The node of the USB device: libusb opens it for read and write, and
// libftdi says only that the open failed, not why.
bool NodeDenied(uint8_t bus, uint8_t address) {
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus, address);
  return ::access(node, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

}  // namespace

LibftdiUsb::LibftdiUsb() = default;

LibftdiUsb::~LibftdiUsb() {
  Close();
  if (ftdi_) ftdi_free(ftdi_);
}

bool LibftdiUsb::NewContext(std::string* error) {
  if (ftdi_) ftdi_free(ftdi_);
  ftdi_ = ftdi_new();
  if (!ftdi_) *error = "libftdi cannot start (ftdi_new: libusb cannot be initialised)";
  return ftdi_ != nullptr;
}

std::string LibftdiUsb::LibraryError(const char* call, int result) const {
  const char* text = ftdi_get_error_string(ftdi_);
  return std::string(call) + " failed (" + std::to_string(result) + ": " + (text ? text : "no reason given") + ")";
}

bool LibftdiUsb::Find(uint16_t vid, uint16_t pid, std::vector<FtdiUsbDevice>* found, std::string* error) {
  // A context of its own: reading a device's strings closes the device the
  // context holds open.
  ftdi_context* ftdi = ftdi_new();
  if (!ftdi) {
    *error = "libftdi cannot start (ftdi_new: libusb cannot be initialised)";
    return false;
  }
  ftdi_device_list* list = nullptr;
  const int count = ftdi_usb_find_all(ftdi, &list, vid, pid);
  if (count < 0) {
    *error = "ftdi_usb_find_all failed (" + std::to_string(count) + ": " + ftdi_get_error_string(ftdi) + ")";
    ftdi_free(ftdi);
    return false;
  }
  for (ftdi_device_list* entry = list; entry; entry = entry->next) {
    libusb_device_descriptor descriptor{};
    const uint16_t release = libusb_get_device_descriptor(entry->dev, &descriptor) == 0 ? descriptor.bcdDevice : 0;
    FtdiUsbDevice device{.vid = vid,
                         .pid = pid,
                         .bcdDevice = release,
                         .bus = libusb_get_bus_number(entry->dev),
                         .address = libusb_get_device_address(entry->dev),
                         .serial = {}};
    // Reading the serial number opens the device: without permission it
    // stays unknown, and the device is named by its index.
    char serial[kSerialSize] = {};
    if (ftdi_usb_get_strings(ftdi, entry->dev, nullptr, 0, nullptr, 0, serial, sizeof serial) == 0) {
      device.serial = serial;
    }
    found->push_back(device);
  }
  ftdi_list_free(&list);
  ftdi_free(ftdi);
  return true;
}

bool LibftdiUsb::Open(uint8_t bus, uint8_t address, int channel, FtdiOpenFailure* failure, std::string* error) {
  *failure = FtdiOpenFailure::kOther;
  if (!NewContext(error)) return false;
  // The serial port driver comes back when the channel is closed: the
  // board is left as it was found.
  ftdi_->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
  int result = ftdi_set_interface(ftdi_, static_cast<ftdi_interface>(channel));
  if (result < 0) {
    *error = LibraryError("ftdi_set_interface", result);
    return false;
  }
  result = ftdi_usb_open_bus_addr(ftdi_, bus, address);
  if (result < 0) {
    if (result == kClaimFailed) *failure = FtdiOpenFailure::kBusy;
    if (NodeDenied(bus, address)) *failure = FtdiOpenFailure::kPermission;
    *error = LibraryError("ftdi_usb_open_bus_addr", result);
    return false;
  }
  open_ = true;
  if ((result = ftdi_read_data_set_chunksize(ftdi_, kChunkSize)) < 0 ||
      (result = ftdi_write_data_set_chunksize(ftdi_, kChunkSize)) < 0) {
    *error = LibraryError("setting the chunk size", result);
    return false;
  }
  return true;
}

bool LibftdiUsb::SetLatencyTimer(uint8_t ms, std::string* error) {
  const int result = ftdi_set_latency_timer(ftdi_, ms);
  if (result < 0) *error = LibraryError("ftdi_set_latency_timer", result);
  return result >= 0;
}

bool LibftdiUsb::SetBitMode(uint8_t outputs, uint8_t mode, std::string* error) {
  const int result = ftdi_set_bitmode(ftdi_, outputs, mode);
  if (result < 0) *error = LibraryError("ftdi_set_bitmode", result);
  return result >= 0;
}

bool LibftdiUsb::Purge(std::string* error) {
  const int result = ftdi_tcioflush(ftdi_);
  if (result < 0) *error = LibraryError("ftdi_tcioflush", result);
  return result >= 0;
}

bool LibftdiUsb::Write(const uint8_t* data, size_t size, std::string* error) {
  for (size_t done = 0; done < size;) {
    const int piece = static_cast<int>(std::min<size_t>(size - done, INT_MAX));
    const int result = ftdi_write_data(ftdi_, data + done, piece);
    if (result <= 0) {
      *error = LibraryError("ftdi_write_data", result);
      return false;
    }
    done += static_cast<size_t>(result);
  }
  return true;
}

int LibftdiUsb::Read(uint8_t* data, size_t size, std::string* error) {
  const int result = ftdi_read_data(ftdi_, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (result < 0) *error = LibraryError("ftdi_read_data", result);
  return result < 0 ? -1 : result;
}

void LibftdiUsb::Close() {
  if (!open_) return;
  ftdi_usb_close(ftdi_);
  open_ = false;
}

uint64_t LibftdiUsb::NowUs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}
