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

/// One select window is one SPI_IOC_MESSAGE, which ends with chip select
/// released, and so one chip-select period on the wire. The kernel drives
/// only this device's chip select and takes no bus lock between ioctls:
/// chip select held after one would let another device's traffic run while
/// the flash still drives MISO, and a controller driver that skips
/// transfers without buffers would drop the empty transfer meant to raise
/// it, joining the next command to the held period. So:
/// - what a window puts without needing a reply is queued, and goes in one
///   message with the window's transfer that needs a reply, or at its
///   release;
/// - in every command the programs send, a transfer that needs a reply is
///   the last of its window: its message ends the window at the kernel, and
///   the release that follows changes nothing on the wire;
/// - a transfer after that reply in the same window, or a window longer
///   than one message carries (the driver's buffer size each way, each
///   transfer rounded up to the kernel's alignment; the request's transfer
///   count; `xfer=` bytes a transfer), is refused with its reason, never
///   split across ioctls. WindowLimit() tells the programs how long a
///   read command's reply may be.
/// A get clocks out zeros (a transfer without transmit data), whatever its
/// fill byte: flash chips ignore their data input while they shift data out,
/// and fill bytes would take as much of the driver's transmit buffer as the
/// data. On a half-duplex controller (the kernel refuses a transfer with
/// both buffers: EINVAL) a put that needs its reply goes as the command, up
/// to its last non-zero byte, then the answer clocked with zeros; the
/// backend retries the message in that shape and keeps it.
/// The node's mode is read whole at open (the device tree may have set
/// SPI_CS_HIGH, SPI_3WIRE, dual or quad bits); only the clock phase and
/// polarity change, and the mode is restored at close.
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
  /// The most bytes a window of up to three transfers (a command, address
  /// or dummy bytes, data) carries in one message, however their lengths
  /// and directions fall.
  uint32_t WindowLimit() const override;
  bool OffersConfigReset() const override { return resetLine_ != nullptr; }
  bool ConfigReset(bool asserted) override;
  bool Close() override;
  std::string Summary() const override;

 private:
  // A transfer of the open window: its transmit bytes are in txBytes_ from
  // txAt, or it has none and clocks zeros.
  struct Segment {
    size_t txAt;
    bool tx;
    uint8_t* rx;
    size_t length;
  };
  enum class Window {
    kClosed,
    kOpen,
    kSent,     // its reply has gone: the window has ended at the kernel
    kRefused,  // dropped; what is left of it is dropped too
  };

  SpidevBackend(const SpidevDeviceRequest& request, std::unique_ptr<SpidevSystem> system,
                std::unique_ptr<GpioLine> resetLine, TraceWriter& trace);
  bool OpenNode(const SpidevDeviceRequest& request, std::string* error);
  std::string OpenFailure(int err);

  bool IdleGap(const BusTransfer& t);
  void OpenWindow();
  /// Sends what is queued, and closes the window.
  bool EndWindow();
  void DropWindow();
  /// Drops the window and what is left of it, failing with `reason`.
  bool Refuse(std::string reason);
  /// Adds `t` to the window; false, dropping the window, when nothing may
  /// follow in it or the window no longer fits one message.
  bool Queue(const BusTransfer& t);
  /// Calls add(tx, rx, length) for each part of the window in the shape the
  /// controller takes: a half-duplex one gets a put that needs its reply
  /// as its command, then its answer.
  template <typename AddPart>
  void ForEachPart(AddPart add) const;
  /// The window as one message's transfers, each part cut at `xfer=`.
  std::vector<spi_ioc_transfer> Build() const;
  /// The part of a put, needing its reply, that a half-duplex controller
  /// sends: up to its last non-zero byte.
  size_t CommandLength(const Segment& s) const;
  /// The window fits one message: the request's transfers, the driver's buffers.
  bool Fits() const;
  std::string TooLong() const;
  /// Sends the window as one message, which releases chip select.
  bool Send();
  /// SPI_IOC_MESSAGE: its result, or -1 with `err`.
  int Message(std::vector<spi_ioc_transfer>& transfers, int* err);
  /// A settings ioctl; the kernel releases chip select on every one.
  bool Setting(unsigned long request, const char* name, void* value, uint32_t shown);
  bool RestoreMode();
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
  uint32_t nodeMode_ = 0;  // as the node was found; restored at close
  uint32_t mode_ = 0;      // as last written
  bool halfDuplex_ = false;

  Window window_ = Window::kClosed;
  std::vector<Segment> segments_;
  std::vector<uint8_t> txBytes_;

  uint64_t ioctls_ = 0;
  uint64_t messages_ = 0;
  uint64_t bytes_ = 0;
  uint64_t windows_ = 0;
  uint64_t idleNs_ = 0;
};
