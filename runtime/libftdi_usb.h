// SPDX-License-Identifier: MIT
// LibftdiUsb: the ftdi backend's USB calls, made through libftdi1.
#pragma once

#include "runtime/ftdi_usb.h"

struct ftdi_context;

class LibftdiUsb : public FtdiUsb {
 public:
  LibftdiUsb();
  ~LibftdiUsb() override;
  LibftdiUsb(const LibftdiUsb&) = delete;
  LibftdiUsb& operator=(const LibftdiUsb&) = delete;

  bool Find(uint16_t vid, uint16_t pid, std::vector<FtdiUsbDevice>* found, std::string* error) override;
  bool Open(uint8_t bus, uint8_t address, int channel, FtdiOpenFailure* failure, std::string* error) override;
  bool SetLatencyTimer(uint8_t ms, std::string* error) override;
  bool SetBitMode(uint8_t outputs, uint8_t mode, std::string* error) override;
  bool Purge(std::string* error) override;
  bool Write(const uint8_t* data, size_t size, std::string* error) override;
  int Read(uint8_t* data, size_t size, std::string* error) override;
  void Close() override;
  uint64_t NowUs() override;

 private:
  /// A fresh context for each open: libftdi keeps a channel's settings in it.
  bool NewContext(std::string* error);
  /// The library's text for the last failure of `call`.
  std::string LibraryError(const char* call, int result) const;

  ftdi_context* ftdi_ = nullptr;
  bool open_ = false;
};
