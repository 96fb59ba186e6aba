// SPDX-License-Identifier: MIT
// Ch341aBackend: a CH341A USB programmer (USB 1a86:5512) as a backend
// (`ch341a:` names), driven through libusb with its SPI and UIO streams.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/backend.h"
#include "runtime/ch341a_poll_planner.h"
#include "runtime/ch341a_scheme.h"
#include "runtime/ch341a_stream.h"
#include "runtime/poll_batcher.h"
#include "runtime/trace_writer.h"
#include "runtime/usb_exchange.h"
#include "runtime/usb_library.h"

/// Every USB round trip costs about a millisecond on this full-speed
/// device, against some 12 µs a byte on its bus (ch341prog reads 8 MiB in
/// 101.8 s), so the backend writes as
/// seldom as it can:
/// - what needs no reply (chip select, write enable, page program, erase
///   commands, the pin set-up) is queued and goes in one USB write with the
///   next transfer that needs a reply, or at the latest when the port is
///   disabled or the device closes;
/// - that write is sent as OUT transfers kept in flight, its replies read
///   by up to 32 IN transfers in flight (each reply is one short packet,
///   which ends an IN transfer);
/// - status polls are answered from batches of samples (PollBatcher, placed
///   by Ch341aPollPlanner). To know a status poll, the backend recognises
///   the two read-only status reads, 05 and D7 with one byte after: the one
///   piece of flash knowledge it has, and safe, since reading the status
///   ahead of the program changes nothing in the chip.
/// Chip select is the port's pin (port 0-2: CS0-CS2, D0-D2), driven by UIO
/// stream commands queued between the SPI packets; a select window the
/// program opens costs nothing until its first byte. Idle clocks the
/// program asks for with chip select released are clocked with chip select
/// high. After a failed USB write the replies can no longer be matched to
/// what asked for them, so every later bus call fails (without repeating the
/// reason); closing still tries to release the pins.
class Ch341aBackend : public Backend {
 public:
  /// Opens the request.index-th CH341A through `usb`; null, with the reason
  /// in `error`, when it cannot be used.
  static std::unique_ptr<Ch341aBackend> Open(const Ch341aDeviceRequest& request, std::unique_ptr<UsbLibrary> usb,
                                             TraceWriter& trace, std::string* error);
  ~Ch341aBackend() override;

  bool EnablePort(int32_t port) override;
  bool DisablePort() override;
  bool SetMode(uint32_t mode, bool lsbFirst) override;
  bool SetClock(uint32_t hz, uint32_t* granted) override;
  uint32_t Clock() const override { return ch341a::kSpiClockHz; }
  bool Select(bool asserted) override;
  bool Transfer(const BusTransfer& transfer) override;
  bool OffersConfigReset() const override { return false; }
  bool ConfigReset(bool) override { return false; }
  bool Close() override;
  std::string Summary() const override;

 private:
  Ch341aBackend(const Ch341aDeviceRequest& request, std::unique_ptr<UsbLibrary> usb, TraceWriter& trace);
  bool OpenDevice(uint32_t index, std::string* error);
  std::string Denied(const UsbDevicePlace& place) const;

  /// Queues chip select driven to `selected` on the wire, if it is not.
  void DriveSelect(bool selected);
  void BeginWindowBytes(const BusTransfer& t);
  void EndWindow();
  bool IdleClocks(const BusTransfer& t);
  bool StatusRead(const BusTransfer& t);
  bool StatusFromStock(const BusTransfer& t);
  /// Sends what is queued and waits for its replies: one round trip.
  bool Flush();
  /// Releases chip select and turns every pin to an input.
  bool ReleasePins();
  bool Broken();

  std::unique_ptr<UsbLibrary> usb_;
  TraceWriter& trace_;
  UsbExchange exchange_;
  Ch341aStream stream_;
  Ch341aPollPlanner pollPlanner_;
  PollBatcher batcher_{pollPlanner_};  // after its planner
  std::string name_;  // "CH341A at bus 1, address 7"
  bool claimed_ = false;
  bool pinsDriven_ = false;
  int chipSelect_ = 0;

  bool windowOpen_ = false;    // the program's select window
  size_t windowBytes_ = 0;     // bytes clocked in it so far
  uint8_t windowFirst_ = 0;    // its first byte
  bool wireSelected_ = false;  // chip select as the queued stream leaves it
  // A status read answered from a batch ended its select period on the wire
  // before the program released the window.
  bool windowEndedEarly_ = false;
  bool broken_ = false;
  std::vector<std::array<uint8_t, 2>> samples_;

  uint64_t writes_ = 0;
  uint64_t outPackets_ = 0;
  uint64_t inPackets_ = 0;
  uint64_t spiBytes_ = 0;
  uint64_t windows_ = 0;
  uint64_t statusReads_ = 0;
  uint64_t fromBatches_ = 0;
};
