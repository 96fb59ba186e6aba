// SPDX-License-Identifier: MIT
// FtdiBackend: one MPSSE channel of an FTDI FT232H, FT2232H or FT4232H as a
// backend (`ftdi:` names), driven through libftdi1.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/ftdi_scheme.h"
#include "runtime/ftdi_poll_planner.h"
#include "runtime/ftdi_usb.h"
#include "runtime/mpsse_commands.h"
#include "runtime/poll_batcher.h"
#include "runtime/trace_writer.h"

/// Every USB round trip costs far more than the bus work it carries (125 µs
/// against 70 µs for a whole page program at 30 MHz), so the backend makes as
/// few as it can:
/// - what needs no reply (chip select, clock and pin changes, transfers whose
///   reply nobody reads) is queued and goes in the USB write of the next
///   transfer that needs a reply, which ends with send-immediate (the chip
///   answers at once instead of after its latency timer) and a bad command,
///   0xAB, whose answer FA AB closes the reply: a reply of the wrong length
///   cannot pass for a right one;
/// - the replies of a write fit the chip's buffer towards the host, but
///   for a read alone (three command bytes) as its last: a long transfer
///   that sends and reads goes in several writes;
/// - replies are read whole, in pieces as large as libftdi takes; a USB
///   write asks for at most the chip's buffer of reply bytes before its last
///   command, so the chip never stalls with a full buffer while the write
///   still waits to be taken;
/// - the configuration reset goes out at once, since the program pauses
///   after asserting it, and disabling the port or closing sends what is left.
///
/// Status polls. The program polls a chip's status register back to back
/// until a program or erase has finished: one round trip per poll would make
/// the polls most of the time a write takes. A poll that is a select window
/// of its own is answered from batches (PollBatcher, `polls=` samples each,
/// placed by FtdiPollPlanner): recognising the two read-only status reads is
/// all the backend knows of flash chips.
class FtdiBackend : public Backend {
 public:
  /// Finds and opens the channel `request` names through `usb` and sets up
  /// its MPSSE engine; null, with the reason in `error`, when it cannot.
  static std::unique_ptr<FtdiBackend> Open(const FtdiDeviceRequest& request, std::unique_ptr<FtdiUsb> usb,
                                           TraceWriter& trace, std::string* error);
  ~FtdiBackend() override;

  bool EnablePort(int32_t port) override;
  bool DisablePort() override;
  bool SetMode(uint32_t mode, bool lsbFirst) override;
  bool SetClock(uint32_t hz, uint32_t* granted) override;
  uint32_t Clock() const override { return clockHz_; }
  bool Select(bool asserted) override;
  bool Transfer(const BusTransfer& transfer) override;
  bool OffersConfigReset() const override { return request_.reset.has_value(); }
  bool ConfigReset(bool asserted) override;
  bool Close() override;
  std::string Summary() const override;

  /// The devices `-list` shows: `ftdi:serial=...`, or `ftdi:index=<n>` for
  /// one whose serial number cannot be read.
  static bool List(FtdiUsb& usb, std::vector<std::string>* names, std::string* error);

 private:
  // Where a run of reply bytes goes.
  struct Reply {
    uint8_t* rx;
    size_t count;
  };

  FtdiBackend(const FtdiDeviceRequest& request, std::unique_ptr<FtdiUsb> usb, TraceWriter& trace);
  bool OpenChannel(std::string* error);
  bool SetUpEngine(std::string* error);

  void DrivePins();
  void SetSelectLine(bool selected);
  /// Sets the reset pin's level and direction for `asserted`.
  void SetResetLine(bool asserted);
  /// Reply bytes the queue may still ask for, the marker's echo kept.
  size_t ReplyRoom() const;
  bool QueueShift(const BusTransfer& t);
  void QueueIdle(uint64_t bytes);
  /// Sends the queue; a queue with replies is read back and checked.
  bool Send();
  /// Sends the queue with the marker and send-immediate, reads the reply,
  /// checks it and hands its bytes out.
  bool Exchange();
  /// The set-up's exchange: the engine's echo of the marker, after whatever
  /// the chip held, shows it runs and is in step.
  bool Synchronize();
  void TraceWrite(const std::vector<uint8_t>& out);
  bool ReadReply(std::vector<uint8_t>& in, uint64_t busBytes);
  bool UsbFailed(const std::string& what);

  bool IsStatusPoll(const BusTransfer& t) const;
  bool Poll(const BusTransfer& t);

  const FtdiDeviceRequest request_;
  std::unique_ptr<FtdiUsb> usb_;
  TraceWriter& trace_;
  FtdiUsbDevice device_;
  std::string name_;  // "FT232H 0403:6014 (bus 1, address 7)", for reasons
  size_t replyBuffer_ = 1024;
  bool open_ = false;

  uint8_t low_ = 0, lowOutputs_ = 0, high_ = 0, highOutputs_ = 0;
  uint8_t sentLow_ = 0, sentLowOutputs_ = 0, sentHigh_ = 0, sentHighOutputs_ = 0;
  bool usesHighByte_ = false;
  bool selected_ = false;
  bool windowStarting_ = false;
  size_t windowStart_ = 0;  // where the open window's commands begin in the queue
  uint32_t clockHz_ = 0;

  MpsseCommands queue_;
  std::vector<Reply> replies_;
  FtdiPollPlanner pollPlanner_;
  PollBatcher batcher_{pollPlanner_};  // after its planner
  std::vector<std::array<uint8_t, 2>> samples_;  // a batch's replies

  uint64_t writes_ = 0;
  uint64_t reads_ = 0;
  uint64_t roundTrips_ = 0;
  uint64_t bytes_ = 0;
  uint64_t windows_ = 0;
  uint64_t polls_ = 0;
  uint64_t pollsFromBatches_ = 0;
};
