// SPDX-License-Identifier: MIT
// SpidevBackend: a Linux spidev node, one SPI bus and chip select, as a
// backend (`spidev:` names), driven through the kernel's spidev ioctls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/gpio_line.h"
#include "runtime/spidev_scheme.h"
#include "runtime/spidev_system.h"
#include "runtime/trace_writer.h"

struct spi_ioc_transfer;

/// One select window is one chip-select period on the wire, never more: a
/// chip latches a program or erase command when chip select rises, so a
/// stray rise inside a window would corrupt it. spidev asserts chip select
/// for each message and holds it after one only when the message's last
/// transfer asks for it (cs_change), so:
/// - what a window puts without needing a reply is queued, and goes in one
///   message with the window's next transfer that needs a reply, or with its
///   release;
/// - while the window is open, each message holds chip select; what does
///   not fit one message (the driver's buffer size each way, 511 transfers,
///   `xfer=` bytes a transfer) goes in several, chip select held between;
/// - a release with something queued sends it in a message that ends by
///   releasing chip select; a release with nothing queued (the window's last
///   transfer needed a reply and has gone) costs no system call: the next
///   message begins with an empty transfer that raises chip select before
///   its first byte, and a second release, disabling the port or closing
///   raises it at once.
/// A get clocks out zeros (a transfer without transmit data), whatever its
/// fill byte: flash chips ignore their data input while they shift data out,
/// and fill bytes would take as much of the driver's transmit buffer as the
/// data, one message more for every 64 KiB read.
class SpidevBackend : public Backend {
 public:
  /// Opens request.node through `system`; `resetLine` drives the
  /// configuration reset and is given exactly when the request names one.
  /// Null, with the reason in `error`, when the node cannot be used.
  static std::unique_ptr<SpidevBackend> Open(const SpidevDeviceRequest& request,
                                             std::unique_ptr<SpidevSystem> system,
                                             std::unique_ptr<GpioLine> resetLine, TraceWriter& trace,
                                             std::string* error);
  ~SpidevBackend() override;

  bool EnablePort(int32_t port) override;
  bool DisablePort() override;
  bool SetMode(uint32_t mode, bool lsbFirst) override;
  bool SetClock(uint32_t hz, uint32_t* granted) override;
  uint32_t Clock() const override { return clockHz_; }
  bool Select(bool asserted) override;
  /// A transfer with chip select released is a pause the program asks for
  /// while a chip works (an idle gap): no message, the time passes.
  bool Transfer(const BusTransfer& transfer) override;
  bool OffersConfigReset() const override { return resetLine_ != nullptr; }
  bool ConfigReset(bool asserted) override;
  bool Close() override;
  std::string Summary() const override;

 private:
  // A queued transfer: its transmit bytes are in txBytes_ from txAt.
  struct Piece {
    size_t txAt;
    bool tx;
    uint8_t* rx;
    uint32_t length;
  };

  SpidevBackend(const SpidevDeviceRequest& request, std::unique_ptr<SpidevSystem> system,
                std::unique_ptr<GpioLine> resetLine, TraceWriter& trace);
  bool OpenNode(const SpidevDeviceRequest& request, std::string* error);
  std::string OpenFailure(int err);

  bool IdleGap(const BusTransfer& t);
  void OpenWindow();
  bool EndWindow();
  /// Queues `t` in pieces, sending each message that fills up.
  bool Queue(const BusTransfer& t);
  /// Bytes the next piece may carry in the message being built.
  size_t Room(bool tx, bool rx) const;
  /// Sends the queue as one message; `hold` keeps chip select asserted after it.
  bool Send(bool hold);
  /// Raises chip select that a message held, in a message of its own.
  bool RaiseSelect();
  bool Message(std::vector<spi_ioc_transfer>& transfers);
  /// A settings ioctl; the kernel releases chip select on every one.
  bool Setting(unsigned long request, const char* name, void* value, uint32_t shown);
  bool IoctlFailed(const char* name, int err);

  std::unique_ptr<SpidevSystem> system_;
  std::unique_ptr<GpioLine> resetLine_;
  TraceWriter& trace_;
  const std::string node_;
  const std::string resetName_;
  const uint32_t speedCap_;
  const uint32_t xferCap_;
  int fd_ = -1;
  uint32_t bufferSize_ = 0;
  uint32_t alignment_ = 0;
  uint32_t clockHz_ = 0;

  bool windowOpen_ = false;
  bool csHeld_ = false;      // the last message left chip select asserted
  bool raiseFirst_ = false;  // ... for a window that has ended since
  std::vector<Piece> queue_;
  std::vector<uint8_t> txBytes_;
  size_t txUsed_ = 0;  // of the driver's buffers, as it counts them
  size_t rxUsed_ = 0;

  uint64_t ioctls_ = 0;
  uint64_t messages_ = 0;
  uint64_t bytes_ = 0;
  uint64_t windows_ = 0;
  uint64_t idleNs_ = 0;
};
