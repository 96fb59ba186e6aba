// SPDX-License-Identifier: MIT
// A CH341A USB programmer as a backend.
#include "runtime/ch341a_backend.h"

#include <algorithm>
#include <cstdio>

namespace {

// Clocked while idle with chip select high; no chip sees it.
constexpr uint8_t kIdleFill = 0xFF;
// Queued bytes that no reply has flushed yet go out once there are this many.
constexpr size_t kMostQueued = 65536;
// Bytes of a USB write or read shown in the trace.
constexpr size_t kTracedBytes = 16;
// The kernel's own driver for the device, since Linux 6.10
// (drivers/spi/spi-ch341.c); libusb detaches it for the claim where it can
// and the kernel binds it again when the device is released.
constexpr const char* kKernelDriver = "Linux 6.10 and later bind spi-ch341 to 1a86:5512";

std::string Ids() {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", ch341a::kVendor, ch341a::kProduct);
  return text;
}

std::string Place(const UsbDevicePlace& place) {
  return "bus " + std::to_string(place.bus) + ", address " + std::to_string(place.address);
}

// "USB write: 3 transfers, 3 packets, 13 bytes: AA 61 00 | AB B7 7F B6 20 |
// A8 F9 ...": the first bytes of the transfers, each transfer apart.
std::string DescribeWrite(const std::vector<std::vector<uint8_t>>& transfers, size_t packets, size_t bytes) {
  std::string s = "USB write: " + std::to_string(transfers.size()) + " transfers, " + std::to_string(packets) +
                  " packets, " + std::to_string(bytes) + " bytes: ";
  size_t shown = 0;
  for (size_t i = 0; i < transfers.size() && shown < kTracedBytes; ++i) {
    const size_t n = std::min(transfers[i].size(), kTracedBytes - shown);
    s += (i ? " | " : "") + TraceWriter::Bytes(transfers[i].data(), n);
    shown += n;
  }
  return shown < bytes ? s + " ..." : s;
}

}  // namespace

std::unique_ptr<Ch341aBackend> Ch341aBackend::Open(const Ch341aDeviceRequest& request, std::unique_ptr<UsbLibrary> usb,
                                                   TraceWriter& trace, std::string* error) {
  std::unique_ptr<Ch341aBackend> backend(new Ch341aBackend(request, std::move(usb), trace));
  if (!backend->OpenDevice(request.index, error)) return nullptr;
  return backend;
}

Ch341aBackend::Ch341aBackend(const Ch341aDeviceRequest& request, std::unique_ptr<UsbLibrary> usb, TraceWriter& trace)
    : usb_(std::move(usb)),
      trace_(trace),
      exchange_(*usb_, "CH341A", ch341a::kOutEndpoint, ch341a::kInEndpoint),
      pollPlanner_(!request.noBatch) {}

Ch341aBackend::~Ch341aBackend() {
  if (!claimed_) return;
  usb_->ReleaseInterface(ch341a::kInterface);
  usb_->Close();
}

std::string Ch341aBackend::Denied(const UsbDevicePlace& place) const {
  return "permission denied on USB device " + Ids() + " (" + Place(place) +
         "): install 60-romwick.rules into /etc/udev/rules.d (see the README, Real hardware) and plug the device "
         "in again";
}

bool Ch341aBackend::OpenDevice(uint32_t index, std::string* error) {
  std::vector<UsbDevicePlace> found;
  int result = usb_->Find(ch341a::kVendor, ch341a::kProduct, &found);
  if (result != 0) {
    *error = "cannot list the USB devices: " + usb_->ErrorName(result);
    return false;
  }
  if (index >= found.size()) {
    *error = found.empty() ? "no CH341A (USB " + Ids() + ") found"
                           : "no CH341A at index " + std::to_string(index) + ": " + std::to_string(found.size()) +
                                 " found (index 0 to " + std::to_string(found.size() - 1) + ")";
    return false;
  }
  const UsbDevicePlace place = found[index];
  name_ = "CH341A at " + Place(place);
  if ((result = usb_->Open(place)) != 0) {
    *error = result == kUsbErrorAccess ? Denied(place) : "cannot open the " + name_ + ": " + usb_->ErrorName(result);
    return false;
  }
  // A kernel driver that holds the interface (spi-ch341 on Linux 6.10 and
  // later) is detached while romwick has the device and given back when
  // romwick releases it, and the kernel binds it again.
  const bool detachable = usb_->SetAutoDetachKernelDriver(true) == 0;
  const bool driver = usb_->KernelDriverActive(ch341a::kInterface) == 1;
  if ((result = usb_->ClaimInterface(ch341a::kInterface)) != 0) {
    usb_->Close();
    if (result == kUsbErrorAccess) {
      *error = Denied(place);
    } else if (result == kUsbErrorBusy && driver && !detachable) {
      *error = "the " + name_ + " is in use: its kernel driver holds it, and libusb cannot detach it here (" +
               kKernelDriver + "): unbind it or unload the module (sudo modprobe -r spi-ch341)";
    } else if (result == kUsbErrorBusy) {
      *error = "the " + name_ + " is in use: another program" +
               (driver ? std::string(" or a kernel driver holds it (") + kKernelDriver +
                             ", which libusb detaches for romwick where it can)"
                       : std::string(" holds it"));
    } else {
      *error = "cannot claim the " + name_ + ": " + usb_->ErrorName(result);
    }
    return false;
  }
  claimed_ = true;
  if (trace_.IsOpen()) {
    trace_.Detail("opened the " + name_ + ": interface 0 claimed" +
                  (driver ? (detachable ? ", its kernel driver detached" : ", beside its kernel driver") : "") +
                  ", SPI clock " + std::to_string(ch341a::kSpiClockHz) + " Hz (fixed)");
  }
  return true;
}

bool Ch341aBackend::EnablePort(int32_t port) {
  if (broken_) return false;
  if (port < 0 || port > 2) {
    return Fail("the CH341A has chip selects CS0 to CS2 (ports 0 to 2): no port " + std::to_string(port));
  }
  chipSelect_ = port;
  batcher_.EndRun();
  stream_.SetSingleDataLines();
  stream_.SetDirection(true, ch341a::kIdleLevels);
  pinsDriven_ = true;
  wireSelected_ = false;
  return true;
}

bool Ch341aBackend::DisablePort() { return ReleasePins(); }

bool Ch341aBackend::SetMode(uint32_t mode, bool lsbFirst) {
  if (mode == 0 && !lsbFirst) return true;
  return Fail("SPI mode " + std::to_string(mode) + (lsbFirst ? " least significant bit first" : "") +
              " asked for; the CH341A clocks in mode 0 only (its clock idles low), and romwick shifts most "
              "significant bit first");
}

bool Ch341aBackend::SetClock(uint32_t hz, uint32_t* granted) {
  *granted = ch341a::kSpiClockHz;
  if (hz != 0 && hz != ch341a::kSpiClockHz && trace_.IsOpen()) {
    trace_.Detail("the CH341A's SPI clock is fixed: " + std::to_string(ch341a::kSpiClockHz) + " Hz for " +
                  std::to_string(hz) + " asked");
  }
  return true;
}

void Ch341aBackend::DriveSelect(bool selected) {
  if (selected == wireSelected_) return;
  stream_.SetPins(selected ? ch341a::SelectedLevels(chipSelect_) : ch341a::kIdleLevels);
  wireSelected_ = selected;
}

bool Ch341aBackend::Select(bool asserted) {
  if (broken_) return false;
  if (asserted) {
    // Nothing reaches the wire before the window's first byte.
    if (!windowOpen_) windowBytes_ = 0;
    windowOpen_ = true;
    windowEndedEarly_ = false;
    return true;
  }
  if (windowEndedEarly_) {
    windowOpen_ = false;
    windowEndedEarly_ = false;
  } else if (windowOpen_) {
    EndWindow();
  } else {
    DriveSelect(false);
  }
  return true;
}

void Ch341aBackend::BeginWindowBytes(const BusTransfer& t) {
  if (!windowOpen_) windowBytes_ = 0;
  windowOpen_ = true;
  if (windowBytes_ == 0) windowFirst_ = t.tx ? t.tx[0] : t.fill;
  windowBytes_ += t.count;
  DriveSelect(true);
}

void Ch341aBackend::EndWindow() {
  windowOpen_ = false;
  DriveSelect(false);
  if (windowBytes_ == 0) return;
  ++windows_;
  batcher_.NoteWindow(windowFirst_, windowBytes_);
  windowBytes_ = 0;
}

bool Ch341aBackend::Transfer(const BusTransfer& t) {
  if (broken_) return false;
  if (!t.selectedDuring) return IdleClocks(t);
  const bool fresh = !windowOpen_ || (windowBytes_ == 0 && !windowEndedEarly_);
  if (fresh && t.rx && PollBatcher::IsStatusRead(t.tx, t.count)) return StatusRead(t);
  if (windowEndedEarly_) {
    return Fail("the status read of this select window was answered from a batch, which ended the window; it "
                "cannot go on (run with the ch341a key nobatch)");
  }
  batcher_.EndRun();
  BeginWindowBytes(t);
  stream_.Clock(t.tx, t.fill, t.rx, t.count);
  if (!t.selectedAfter) EndWindow();
  return t.rx || stream_.OutBytes() >= kMostQueued ? Flush() : true;
}

bool Ch341aBackend::IdleClocks(const BusTransfer& t) {
  if (windowOpen_ && !windowEndedEarly_) EndWindow();
  windowOpen_ = false;
  windowEndedEarly_ = false;
  if (t.rx) {
    batcher_.EndRun();
  } else if (batcher_.AnswerIdle(t.count)) {
    if (trace_.IsOpen()) trace_.Detail("clocked ahead in the last batch");
    return true;
  }
  DriveSelect(false);
  stream_.Clock(t.tx, t.fill, t.rx, t.count);
  if (t.selectedAfter) {
    windowOpen_ = true;
    windowBytes_ = 0;
  }
  return t.rx || stream_.OutBytes() >= kMostQueued ? Flush() : true;
}

bool Ch341aBackend::StatusFromStock(const BusTransfer& t) {
  if (!batcher_.Answer(t.tx, t.rx)) return false;
  ++fromBatches_;
  if (trace_.IsOpen()) trace_.Detail("answered from the last batch");
  return true;
}

bool Ch341aBackend::StatusRead(const BusTransfer& t) {
  ++statusReads_;
  ++windows_;
  bool answered = StatusFromStock(t);
  if (!answered) {
    DriveSelect(false);
    const std::vector<PollStep> plan = batcher_.Plan(t.tx, usb_->NowMs() * 1'000'000);
    samples_.assign(PollBatcher::Samples(plan), {});
    size_t next = 0;
    for (const PollStep& step : plan) {
      if (step.sample) {
        DriveSelect(true);
        stream_.Clock(t.tx, 0, samples_[next++].data(), t.count);
        DriveSelect(false);
      } else {
        stream_.Clock(nullptr, kIdleFill, nullptr, step.idleBytes);
      }
    }
    if (trace_.IsOpen() && samples_.size() > 1) {
      trace_.Detail("status read: a batch of " + std::to_string(samples_.size()) + " samples");
    }
    if (!Flush()) return false;
    batcher_.Stock(plan, samples_, t.rx);
  }
  // The read's select period has ended on the wire: a window the program
  // opened for it is over but for the program's release.
  windowOpen_ = t.selectedAfter;
  windowEndedEarly_ = t.selectedAfter;
  windowBytes_ = 0;
  return true;
}

bool Ch341aBackend::Flush() {
  if (stream_.Empty()) return true;
  const std::vector<std::vector<uint8_t>> transfers = stream_.Transfers();
  const std::vector<uint8_t> replies = stream_.ReplyLengths();
  ++writes_;
  outPackets_ += stream_.Packets();
  inPackets_ += replies.size();
  spiBytes_ += stream_.SpiBytes();
  if (trace_.IsOpen()) trace_.Detail(DescribeWrite(transfers, stream_.Packets(), stream_.OutBytes()));
  std::vector<uint8_t> firstReplies;
  std::string error;
  const bool sent = exchange_.Run(
      transfers, replies,
      [&](const uint8_t* bytes, size_t n) {
        const size_t keep = std::min(n, kTracedBytes - std::min(kTracedBytes, firstReplies.size()));
        firstReplies.insert(firstReplies.end(), bytes, bytes + keep);
        stream_.TakeReply(bytes, n);
      },
      &error);
  if (trace_.IsOpen() && sent && !replies.empty()) {
    trace_.Detail("USB read: " + std::to_string(replies.size()) + " packets, " + std::to_string(stream_.SpiBytes()) +
                  " bytes: " + TraceWriter::Bytes(firstReplies.data(), firstReplies.size()) +
                  (firstReplies.size() < stream_.SpiBytes() ? " ..." : ""));
  }
  stream_.Clear();
  if (sent) return true;
  if (trace_.IsOpen()) trace_.Detail(error);
  if (broken_) return false;
  broken_ = true;
  return Fail(error);
}

bool Ch341aBackend::ReleasePins() {
  batcher_.EndRun();
  windowOpen_ = false;
  windowEndedEarly_ = false;
  if (exchange_.Gone()) {
    stream_.Clear();
    return false;
  }
  if (pinsDriven_) {
    // Chip select high first: the chip ends whatever it was told, and
    // then every pin floats, so the board is left as it was found.
    stream_.SetDirection(false, ch341a::kIdleLevels);
    pinsDriven_ = false;
    wireSelected_ = false;
  }
  return Flush();
}

bool Ch341aBackend::Close() {
  if (!claimed_) return true;
  const bool released = ReleasePins();
  usb_->ReleaseInterface(ch341a::kInterface);
  usb_->Close();
  claimed_ = false;
  return released;
}

std::string Ch341aBackend::Summary() const {
  std::string s = "usb-writes=" + std::to_string(writes_) + " out-packets=" + std::to_string(outPackets_) +
                  " in-packets=" + std::to_string(inPackets_) + " spi-bytes=" + std::to_string(spiBytes_) +
                  " selects=" + std::to_string(windows_) + " status-reads=" + std::to_string(statusReads_) +
                  " from-batches=" + std::to_string(fromBatches_);
  const std::string library = usb_->Summary();
  return library.empty() ? s : s + " " + library;
}
