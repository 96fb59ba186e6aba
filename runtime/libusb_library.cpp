// SPDX-License-Identifier: MIT
// The USB backends' calls through libusb-1.0.
#include "runtime/libusb_library.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>

static_assert(kUsbErrorIo == LIBUSB_ERROR_IO && kUsbErrorAccess == LIBUSB_ERROR_ACCESS &&
              kUsbErrorNoDevice == LIBUSB_ERROR_NO_DEVICE && kUsbErrorNotFound == LIBUSB_ERROR_NOT_FOUND &&
              kUsbErrorBusy == LIBUSB_ERROR_BUSY && kUsbErrorNotSupported == LIBUSB_ERROR_NOT_SUPPORTED);

namespace {

UsbTransferStatus StatusOf(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return UsbTransferStatus::kCompleted;
    case LIBUSB_TRANSFER_TIMED_OUT: return UsbTransferStatus::kTimedOut;
    case LIBUSB_TRANSFER_CANCELLED: return UsbTransferStatus::kCancelled;
    case LIBUSB_TRANSFER_STALL: return UsbTransferStatus::kStall;
    case LIBUSB_TRANSFER_NO_DEVICE: return UsbTransferStatus::kNoDevice;
    case LIBUSB_TRANSFER_OVERFLOW: return UsbTransferStatus::kOverflow;
    case LIBUSB_TRANSFER_ERROR: break;
  }
  return UsbTransferStatus::kError;
}

// libusb frees its transfer after this (LIBUSB_TRANSFER_FREE_TRANSFER).
void LIBUSB_CALL Completed(libusb_transfer* done) {
  auto* transfer = static_cast<UsbTransfer*>(done->user_data);
  transfer->status = StatusOf(done->status);
  transfer->actualLength = done->actual_length;
  transfer->libraryData = nullptr;
  transfer->active = false;
}

}  // namespace

std::unique_ptr<LibusbLibrary> LibusbLibrary::Create(std::string* error) {
  libusb_context* context = nullptr;
  const int result = libusb_init(&context);
  if (result != 0) {
    *error = std::string("libusb cannot start: ") + libusb_error_name(result);
    return nullptr;
  }
  return std::unique_ptr<LibusbLibrary>(new LibusbLibrary(context));
}

LibusbLibrary::~LibusbLibrary() {
  Close();
  libusb_exit(context_);
}

int LibusbLibrary::Find(uint16_t vendor, uint16_t product, std::vector<UsbDevicePlace>* devices) {
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) return static_cast<int>(count);
  devices->clear();
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
    if (descriptor.idVendor != vendor || descriptor.idProduct != product) continue;
    devices->push_back({libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])});
  }
  libusb_free_device_list(list, 1);
  std::sort(devices->begin(), devices->end(), [](const UsbDevicePlace& a, const UsbDevicePlace& b) {
    return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
  });
  return 0;
}

int LibusbLibrary::Open(const UsbDevicePlace& place) {
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) return static_cast<int>(count);
  int result = kUsbErrorNoDevice;
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list[i]) == place.bus && libusb_get_device_address(list[i]) == place.address) {
      result = libusb_open(list[i], &handle_);
      break;
    }
  }
  libusb_free_device_list(list, 1);
  return result;
}

int LibusbLibrary::SerialNumber(std::string* serial) {
  libusb_device_descriptor descriptor{};
  const int result = libusb_get_device_descriptor(libusb_get_device(handle_), &descriptor);
  if (result != 0) return result;
  serial->clear();
  if (descriptor.iSerialNumber == 0) return 0;
  unsigned char text[256];
  const int length = libusb_get_string_descriptor_ascii(handle_, descriptor.iSerialNumber, text, sizeof text);
  if (length < 0) return length;
  serial->assign(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
  return 0;
}

int LibusbLibrary::KernelDriverActive(int interface) { return libusb_kernel_driver_active(handle_, interface); }

int LibusbLibrary::SetAutoDetachKernelDriver(bool enable) {
  return libusb_set_auto_detach_kernel_driver(handle_, enable ? 1 : 0);
}

int LibusbLibrary::ClaimInterface(int interface) { return libusb_claim_interface(handle_, interface); }

void LibusbLibrary::ReleaseInterface(int interface) { libusb_release_interface(handle_, interface); }

void LibusbLibrary::Close() {
  if (handle_) libusb_close(handle_);
  handle_ = nullptr;
}

int LibusbLibrary::Submit(UsbTransfer* transfer) {
  libusb_transfer* t = libusb_alloc_transfer(0);
  if (!t) return LIBUSB_ERROR_NO_MEM;
  libusb_fill_bulk_transfer(t, handle_, transfer->endpoint, transfer->buffer, transfer->length, Completed, transfer,
                            transfer->timeoutMs);
  t->flags = LIBUSB_TRANSFER_FREE_TRANSFER;
  transfer->active = true;
  transfer->libraryData = t;
  const int result = libusb_submit_transfer(t);
  if (result != 0) {
    transfer->active = false;
    transfer->libraryData = nullptr;
    libusb_free_transfer(t);
  }
  return result;
}

int LibusbLibrary::Cancel(UsbTransfer* transfer) {
  if (!transfer->active || !transfer->libraryData) return LIBUSB_ERROR_NOT_FOUND;
  return libusb_cancel_transfer(static_cast<libusb_transfer*>(transfer->libraryData));
}

int LibusbLibrary::HandleEvents(uint32_t timeoutMs) {
  timeval timeout{.tv_sec = static_cast<time_t>(timeoutMs / 1000),
                  .tv_usec = static_cast<suseconds_t>(timeoutMs % 1000 * 1000)};
  return libusb_handle_events_timeout_completed(context_, &timeout, nullptr);
}

uint64_t LibusbLibrary::NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::string LibusbLibrary::ErrorName(int error) { return libusb_error_name(error); }
