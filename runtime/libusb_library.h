// SPDX-License-Identifier: MIT
// LibusbLibrary: the USB backends' calls, made to libusb-1.0.
#pragma once

#include <memory>
#include <string>

#include "runtime/usb_library.h"

struct libusb_context;
struct libusb_device_handle;

class LibusbLibrary : public UsbLibrary {
 public:
  /// Null, with the reason in `error`, when libusb cannot start.
  static std::unique_ptr<LibusbLibrary> Create(std::string* error);
  ~LibusbLibrary() override;

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

 private:
  explicit LibusbLibrary(libusb_context* context) : context_(context) {}

  libusb_context* context_;
  libusb_device_handle* handle_ = nullptr;
};
