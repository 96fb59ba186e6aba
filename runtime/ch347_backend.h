// SPDX-License-Identifier: MIT
// Ch347Backend: a CH347T or CH347F USB programmer (USB 1a86:55db, 1a86:55de)
// as a backend (`ch347:` names), driven through libusb with its SPI commands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/ch347_poll_planner.h"
#include "runtime/ch347_scheme.h"
#include "runtime/ch347_stream.h"
#include "runtime/poll_batcher.h"
#include "runtime/trace_writer.h"
#include "runtime/usb_exchange.h"
#include "runtime/usb_library.h"

/// A USB round trip costs 125 µs or more on this high-speed device, and
/// every command some 23 µs of its own besides its bytes on the bus, so the
/// backend writes as seldom as it can:
/// - what needs no reply the program waits for (chip select, write enable,
///   page program, erase commands, settings) is queued and goes in one USB
///   write with the next transfer that needs a reply, or at the latest when
///   the port is disabled or the device closes: a page program and its write
///   enable are six commands (select, data, release each), sent with the
///   first status batch in one round trip;
/// - each command is a USB transfer of its own, as every public driver sends
///   them, kept in flight; the replies come back through IN transfers kept
///   waiting;
/// - a read is one C3 command for the whole select window, whose replies
///   stream back 507 bytes each; the byte it clocks out is the settings'
///   default, which is set to the program's fill before the window;
/// - status polls are answered from batches of samples (PollBatcher, placed
///   by Ch347PollPlanner), the two read-only status reads 05 and D7 with
///   one byte after recognised as the CH341A backend does.
/// Chip select is CS0 or CS1, by the name's `cs=` or by the program's port;
/// a select window costs nothing until its first byte. Idle clocks with chip
/// select released are clocked with chip select high. After a failed USB
/// write the replies can no longer be matched to what asked for them, so
/// every later bus call fails (without repeating the reason); closing still
/// tries to release chip select and the reset line.
class Ch347Backend : public Backend {
 public:
  /// A CH347 on the bus.
  struct Found {
    UsbDevicePlace place;
    const ch347::Model* model;
  };
  /// Every CH347T and CH347F, in the order of bus and address; false, with
  /// the reason in `error`, when the bus cannot be listed.
  static bool Find(UsbLibrary& usb, std::vector<Found>* found, std::string* error);

  /// Opens the CH347 the request names through `usb` and sets up its SPI
  /// engine; null, with the reason in `error`, when it cannot be used.
  static std::unique_ptr<Ch347Backend> Open(const Ch347DeviceRequest& request, std::unique_ptr<UsbLibrary> usb,
                                            TraceWriter& trace, std::string* error);
  ~Ch347Backend() override;

  bool EnablePort(int32_t port) override;
  bool DisablePort() override;
  bool SetMode(uint32_t mode, bool lsbFirst) override;
  bool SetClock(uint32_t hz, uint32_t* granted) override;
  uint32_t Clock() const override { return ch347::ClockHz(settings_.divider); }
  bool Select(bool asserted) override;
  bool Transfer(const BusTransfer& transfer) override;
  bool OffersConfigReset() const override { return request_.resetPin.has_value(); }
  bool ConfigReset(bool asserted) override;
  bool Close() override;
  std::string Summary() const override;

 private:
  Ch347Backend(const Ch347DeviceRequest& request, std::unique_ptr<UsbLibrary> usb, TraceWriter& trace);
  bool OpenDevice(std::string* error);
  /// Opens the device at `found` and claims its SPI interface.
  bool Claim(const Found& found, std::string* error);
  /// Opens the first device, from request.index on, whose serial number is
  /// the one asked for.
  bool OpenBySerial(const std::vector<Found>& found, std::string* error);
  std::string Denied(const Found& found) const;
  bool SetUp(std::string* error);

  /// Queues chip select driven to `selected` on the wire, if it is not.
  void DriveSelect(bool selected);
  void BeginWindowBytes(const BusTransfer& t);
  void EndWindow();
  /// Queues the commands that clock `t`.
  void Clock(const BusTransfer& t);
  /// Bytes clocked in while `fill` goes out.
  void ReadWithFill(uint8_t fill, uint8_t* rx, size_t count);
  bool IdleClocks(const BusTransfer& t);
  bool StatusRead(const BusTransfer& t);
  bool StatusFromStock(const BusTransfer& t);
  /// Sends what is queued and waits for its replies: one round trip.
  bool Flush();
  /// Releases chip select (and the reset line, `closing`).
  bool ReleasePins(bool closing);
  void DriveReset(bool asserted);

  const Ch347DeviceRequest request_;
  std::unique_ptr<UsbLibrary> usb_;
  TraceWriter& trace_;
  UsbExchange exchange_;
  Ch347Stream stream_;
  Ch347PollPlanner pollPlanner_;
  PollBatcher batcher_{pollPlanner_};  // after its planner
  const ch347::Model* model_ = nullptr;
  std::string name_;    // "CH347T at bus 1, address 7"
  std::string serial_;  // its serial number, when it was read
  bool claimed_ = false;
  ch347::SpiSettings settings_;
  int chipSelect_ = 0;
  bool resetDriven_ = false;

  bool windowOpen_ = false;    // the program's select window
  size_t windowBytes_ = 0;     // bytes clocked in it so far
  uint8_t windowFirst_ = 0;    // its first byte
  bool windowReads_ = false;   // it has a C3 read queued
  size_t windowStart_ = 0;     // where its select command is in the stream
  bool windowQueued_ = false;  // ... while it is still there
  bool wireSelected_ = false;  // chip select as the queued commands leave it
  // A status read answered from a batch ended its select period on the wire
  // before the program released the window.
  bool windowEndedEarly_ = false;
  bool broken_ = false;
  std::vector<std::array<uint8_t, 2>> samples_;

  uint64_t writes_ = 0;
  uint64_t commands_ = 0;
  uint64_t replies_ = 0;
  uint64_t spiBytes_ = 0;
  uint64_t windows_ = 0;
  uint64_t statusReads_ = 0;
  uint64_t fromBatches_ = 0;
};
