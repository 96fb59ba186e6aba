// SPDX-License-Identifier: MIT
// A CH347 USB programmer as a backend.
#include "runtime/ch347_backend.h"

#include <algorithm>
#include <cstdio>

namespace {

// Clocked while idle with chip select high; no chip sees it.
constexpr uint8_t kIdleFill = 0xFF;
// Queued bytes that no reply has flushed yet go out once there are this many.
constexpr size_t kMostQueued = 65536;
// Bytes of a USB write or read shown in the trace.
constexpr size_t kTracedBytes = 16;

std::string Ids(const ch347::Model& model) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", ch347::kVendor, model.product);
  return text;
}

std::string AllIds() {
  std::string s;
  for (const ch347::Model& model : ch347::kModels) s += (s.empty() ? "" : " or ") + Ids(model);
  return s;
}

std::string Place(const UsbDevicePlace& place) {
  return "bus " + std::to_string(place.bus) + ", address " + std::to_string(place.address);
}

// "USB write: 6 commands, 317 bytes: C1 0A 00 80 00 ... | C4 ...": the
// first bytes of the commands, each apart.
std::string DescribeWrite(const std::vector<std::vector<uint8_t>>& transfers, size_t bytes) {
  std::string s = "USB write: " + std::to_string(transfers.size()) + " commands, " + std::to_string(bytes) + " bytes: ";
  size_t shown = 0;
  for (size_t i = 0; i < transfers.size() && shown < kTracedBytes; ++i) {
    const size_t n = std::min(transfers[i].size(), kTracedBytes - shown);
    s += (i ? " | " : "") + TraceWriter::Bytes(transfers[i].data(), n);
    shown += n;
  }
  return shown < bytes ? s + " ..." : s;
}

std::string Hz(uint32_t hz) { return std::to_string(hz) + " Hz"; }

}  // namespace

bool Ch347Backend::Find(UsbLibrary& usb, std::vector<Found>* found, std::string* error) {
  found->clear();
  for (const ch347::Model& model : ch347::kModels) {
    std::vector<UsbDevicePlace> places;
    if (const int result = usb.Find(ch347::kVendor, model.product, &places); result != 0) {
      *error = "cannot list USB devices: " + usb.ErrorName(result);
      return false;
    }
    for (const UsbDevicePlace& place : places) found->push_back({place, &model});
  }
  std::sort(found->begin(), found->end(), [](const Found& a, const Found& b) {
    return a.place.bus != b.place.bus ? a.place.bus < b.place.bus : a.place.address < b.place.address;
  });
  return true;
}

std::unique_ptr<Ch347Backend> Ch347Backend::Open(const Ch347DeviceRequest& request, std::unique_ptr<UsbLibrary> usb,
                                                 TraceWriter& trace, std::string* error) {
  std::unique_ptr<Ch347Backend> backend(new Ch347Backend(request, std::move(usb), trace));
  if (!backend->OpenDevice(error) || !backend->SetUp(error)) return nullptr;
  return backend;
}

Ch347Backend::Ch347Backend(const Ch347DeviceRequest& request, std::unique_ptr<UsbLibrary> usb, TraceWriter& trace)
    : request_(request),
      usb_(std::move(usb)),
      trace_(trace),
      exchange_(*usb_, "CH347", ch347::kOutEndpoint, ch347::kInEndpoint),
      pollPlanner_(!request.noBatch) {
  pollPlanner_.SetBusClock(Clock());
}

Ch347Backend::~Ch347Backend() {
  if (!claimed_) return;
  usb_->ReleaseInterface(model_->interface);
  usb_->Close();
}

std::string Ch347Backend::Denied(const Found& found) const {
  return "permission denied on USB device " + Ids(*found.model) + " (" + Place(found.place) +
         "): install 60-romwick.rules into /etc/udev/rules.d (see the README, Real hardware) and plug the device "
         "in again";
}

bool Ch347Backend::OpenDevice(std::string* error) {
  std::vector<Found> found;
  if (!Find(*usb_, &found, error)) return false;
  if (!request_.serial.empty()) return OpenBySerial(found, error);
  const uint32_t index = request_.index;
  if (index >= found.size()) {
    *error = found.empty() ? "no CH347 (USB " + AllIds() + ") found"
                           : "no CH347 at index " + std::to_string(index) + ": " + std::to_string(found.size()) +
                                 " found (index 0 to " + std::to_string(found.size() - 1) + ")";
    return false;
  }
  return Claim(found[index], error);
}

bool Ch347Backend::OpenBySerial(const std::vector<Found>& found, std::string* error) {
  uint32_t matched = 0;
  for (const Found& candidate : found) {
    int result = usb_->Open(candidate.place);
    if (result != 0) {
      *error = result == kUsbErrorAccess ? Denied(candidate)
                                         : "cannot open the CH347 at " + Place(candidate.place) + ": " +
                                               usb_->ErrorName(result);
      return false;
    }
    std::string serial;
    result = usb_->SerialNumber(&serial);
    usb_->Close();
    if (result != 0) {
      *error = "cannot read the serial number of the CH347 at " + Place(candidate.place) + ": " +
               usb_->ErrorName(result);
      return false;
    }
    if (serial != request_.serial || matched++ < request_.index) continue;
    serial_ = serial;
    return Claim(candidate, error);
  }
  *error = "no CH347 with serial number " + request_.serial + (request_.index ? " at index " + std::to_string(request_.index) : "") +
           " (" + std::to_string(found.size()) + " CH347 found)";
  return false;
}

bool Ch347Backend::Claim(const Found& found, std::string* error) {
  model_ = found.model;
  name_ = std::string(model_->name) + " at " + Place(found.place);
  int result = usb_->Open(found.place);
  if (result != 0) {
    *error = result == kUsbErrorAccess ? Denied(found) : "cannot open the " + name_ + ": " + usb_->ErrorName(result);
    return false;
  }
  // The kernel's serial driver, or a vendor driver, that holds the SPI
  // interface is detached while romwick has the device and given it back
  // when romwick releases it.
  const bool detachable = usb_->SetAutoDetachKernelDriver(true) == 0;
  const bool driver = usb_->KernelDriverActive(model_->interface) == 1;
  if ((result = usb_->ClaimInterface(model_->interface)) != 0) {
    usb_->Close();
    if (result == kUsbErrorAccess) {
      *error = Denied(found);
    } else if (result == kUsbErrorBusy) {
      *error = "the " + name_ + " is in use: another program" + (driver ? " or a kernel driver" : "") + " holds it";
    } else {
      *error = "cannot claim interface " + std::to_string(model_->interface) + " of the " + name_ + ": " +
               usb_->ErrorName(result);
    }
    return false;
  }
  claimed_ = true;
  if (trace_.IsOpen()) {
    trace_.Detail("opened the " + name_ + (serial_.empty() ? "" : " serial " + serial_) + ": interface " +
                  std::to_string(model_->interface) + " claimed" +
                  (driver ? (detachable ? ", its kernel driver detached" : ", beside its kernel driver") : ""));
  }
  return true;
}

// The settings go out at once: a device that does not answer them as a
// CH347 does is no use, and its open says so. The reset line starts
// inactive.
bool Ch347Backend::SetUp(std::string* error) {
  stream_.Configure(settings_);
  if (request_.resetPin) DriveReset(false);
  if (Flush()) return true;
  *error = TakeReason();
  return false;
}

void Ch347Backend::DriveReset(bool asserted) {
  stream_.SetGpio(*request_.resetPin, true, asserted == request_.resetActiveHigh);
  resetDriven_ = true;
}

bool Ch347Backend::EnablePort(int32_t port) {
  if (broken_) return false;
  if (request_.chipSelect && port != 0) {
    return Fail("the device name picks CS" + std::to_string(*request_.chipSelect) + " with cs=: only port 0 exists, no port " +
                std::to_string(port));
  }
  if (port < 0 || port >= ch347::kChipSelects) {
    return Fail("the CH347 has chip selects CS0 and CS1 (ports 0 and 1): no port " + std::to_string(port));
  }
  batcher_.EndRun();
  if (wireSelected_) DriveSelect(false);
  chipSelect_ = request_.chipSelect.value_or(port);
  return true;
}

bool Ch347Backend::DisablePort() { return ReleasePins(false); }

bool Ch347Backend::SetMode(uint32_t mode, bool lsbFirst) {
  if (mode > 3) return Fail("SPI mode " + std::to_string(mode) + " asked for; modes are 0 to 3");
  if (mode == settings_.mode && lsbFirst == settings_.lsbFirst) return true;
  batcher_.EndRun();
  settings_.mode = static_cast<uint8_t>(mode);
  settings_.lsbFirst = lsbFirst;
  stream_.Configure(settings_);
  return true;
}

bool Ch347Backend::SetClock(uint32_t hz, uint32_t* granted) {
  // No clock asked for (the first generation sets its mode with the clock
  // it holds, 0 before the first one): the device keeps its own.
  if (hz == 0) {
    *granted = Clock();
    return true;
  }
  // The fastest step not above the one asked for; the slowest below it.
  uint8_t divider = 0;
  while (divider < ch347::kSlowestDivider && ch347::ClockHz(divider) > hz) ++divider;
  if (divider != settings_.divider) {
    batcher_.EndRun();
    settings_.divider = divider;
    stream_.Configure(settings_);
    pollPlanner_.SetBusClock(Clock());
  }
  *granted = Clock();
  if (*granted > hz && trace_.IsOpen()) {
    trace_.Detail("the CH347's slowest clock is " + Hz(*granted) + ": " + Hz(hz) + " asked");
  }
  return true;
}

void Ch347Backend::DriveSelect(bool selected) {
  if (selected == wireSelected_) return;
  if (selected) {
    windowStart_ = stream_.Position();
    windowQueued_ = true;
  }
  stream_.Select(chipSelect_, selected);
  wireSelected_ = selected;
}

bool Ch347Backend::Select(bool asserted) {
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

void Ch347Backend::BeginWindowBytes(const BusTransfer& t) {
  if (!windowOpen_) windowBytes_ = 0;
  windowOpen_ = true;
  if (windowBytes_ == 0) {
    windowFirst_ = t.tx ? t.tx[0] : t.fill;
    windowReads_ = false;
  }
  windowBytes_ += t.count;
  DriveSelect(true);
}

void Ch347Backend::EndWindow() {
  windowOpen_ = false;
  DriveSelect(false);
  if (windowBytes_ == 0) return;
  ++windows_;
  batcher_.NoteWindow(windowFirst_, windowBytes_);
  windowBytes_ = 0;
}

void Ch347Backend::ReadWithFill(uint8_t fill, uint8_t* rx, size_t count) {
  if (fill != settings_.outDefault) {
    // The default byte changes outside any select period: before this
    // window's select while it is still queued, here while none is open.
    // Otherwise the fill goes out byte by byte.
    const bool beforeWindow = wireSelected_ && windowQueued_ && !windowReads_;
    if (!beforeWindow && wireSelected_) return stream_.Exchange(nullptr, fill, rx, count);
    settings_.outDefault = fill;
    if (beforeWindow) {
      stream_.ConfigureBefore(windowStart_, settings_);
      ++windowStart_;
    } else {
      stream_.Configure(settings_);
    }
  }
  windowReads_ = true;
  stream_.Read(rx, count);
}

void Ch347Backend::Clock(const BusTransfer& t) {
  if (t.tx && t.rx) {
    stream_.Exchange(t.tx, 0, t.rx, t.count);
  } else if (t.rx) {
    ReadWithFill(t.fill, t.rx, t.count);
  } else {
    stream_.Write(t.tx, t.fill, t.count);
  }
}

bool Ch347Backend::Transfer(const BusTransfer& t) {
  if (broken_) return false;
  if (t.count == 0) return true;
  if (!t.selectedDuring) return IdleClocks(t);
  const bool fresh = !windowOpen_ || (windowBytes_ == 0 && !windowEndedEarly_);
  if (fresh && t.rx && PollBatcher::IsStatusRead(t.tx, t.count)) return StatusRead(t);
  if (windowEndedEarly_) {
    return Fail("the status read of this select window was answered from a batch, which ended the window; it "
                "cannot go on (run with the ch347 key nobatch)");
  }
  batcher_.EndRun();
  BeginWindowBytes(t);
  Clock(t);
  if (!t.selectedAfter) EndWindow();
  return t.rx || stream_.OutBytes() >= kMostQueued ? Flush() : true;
}

bool Ch347Backend::IdleClocks(const BusTransfer& t) {
  if (windowOpen_ && !windowEndedEarly_) EndWindow();
  windowOpen_ = false;
  windowEndedEarly_ = false;
  if (t.rx) {
    batcher_.EndRun();
  } else if (batcher_.AnswerIdle(t.count)) {
    if (trace_.IsOpen()) trace_.Detail("idle clocks stood in for by the last batch");
    return true;
  }
  DriveSelect(false);
  Clock(t);
  if (t.selectedAfter) {
    windowOpen_ = true;
    windowBytes_ = 0;
  }
  return t.rx || stream_.OutBytes() >= kMostQueued ? Flush() : true;
}

bool Ch347Backend::StatusFromStock(const BusTransfer& t) {
  if (!batcher_.Answer(t.tx, t.rx)) return false;
  ++fromBatches_;
  if (trace_.IsOpen()) trace_.Detail("answered from the last batch");
  return true;
}

bool Ch347Backend::StatusRead(const BusTransfer& t) {
  ++statusReads_;
  ++windows_;
  if (!StatusFromStock(t)) {
    DriveSelect(false);
    const std::vector<PollStep> plan = batcher_.Plan(t.tx, usb_->NowMs() * 1'000'000);
    samples_.assign(PollBatcher::Samples(plan), {});
    size_t next = 0;
    for (const PollStep& step : plan) {
      if (step.sample) {
        DriveSelect(true);
        stream_.Exchange(t.tx, 0, samples_[next++].data(), t.count);
        DriveSelect(false);
      } else {
        stream_.Write(nullptr, kIdleFill, step.idleBytes);
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

bool Ch347Backend::ConfigReset(bool asserted) {
  if (broken_ || !request_.resetPin) return false;
  batcher_.EndRun();
  DriveReset(asserted);
  return Flush();
}

bool Ch347Backend::Flush() {
  windowQueued_ = false;
  if (stream_.Empty()) return true;
  const std::vector<std::vector<uint8_t>> transfers = stream_.Transfers();
  const std::vector<uint16_t> replies = stream_.ReplyLengths();
  ++writes_;
  commands_ += transfers.size();
  replies_ += replies.size();
  spiBytes_ += stream_.SpiBytes();
  if (trace_.IsOpen()) trace_.Detail(DescribeWrite(transfers, stream_.OutBytes()));
  std::vector<uint8_t> firstReplies;
  size_t replyBytes = 0;
  // The first reply out of step says why; the ones after it are not read.
  bool inStep = true;
  std::string malformed;
  std::string error;
  bool sent = exchange_.Run(
      transfers, replies,
      [&](const uint8_t* bytes, size_t n) {
        const size_t keep = std::min(n, kTracedBytes - std::min(kTracedBytes, firstReplies.size()));
        firstReplies.insert(firstReplies.end(), bytes, bytes + keep);
        replyBytes += n;
        if (inStep) inStep = stream_.TakeReply(bytes, n, &malformed);
      },
      &error);
  if (sent && !inStep) {
    sent = false;
    error = malformed;
  }
  if (trace_.IsOpen() && sent && !replies.empty()) {
    trace_.Detail("USB read: " + std::to_string(replies.size()) + " replies, " + std::to_string(replyBytes) +
                  " bytes: " + TraceWriter::Bytes(firstReplies.data(), firstReplies.size()) +
                  (firstReplies.size() < replyBytes ? " ..." : ""));
  }
  stream_.Clear();
  if (sent) return true;
  if (trace_.IsOpen()) trace_.Detail(error);
  if (broken_) return false;
  broken_ = true;
  return Fail(error);
}

bool Ch347Backend::ReleasePins(bool closing) {
  batcher_.EndRun();
  windowOpen_ = false;
  windowEndedEarly_ = false;
  if (exchange_.Gone()) {
    stream_.Clear();
    return false;
  }
  // Chip select high first: the chip ends whatever it was told; then the
  // reset line lets go, so the board is left as it was found.
  DriveSelect(false);
  if (closing && resetDriven_) {
    stream_.SetGpio(*request_.resetPin, false, false);
    resetDriven_ = false;
  }
  return Flush();
}

bool Ch347Backend::Close() {
  if (!claimed_) return true;
  const bool released = ReleasePins(true);
  usb_->ReleaseInterface(model_->interface);
  usb_->Close();
  claimed_ = false;
  return released;
}

std::string Ch347Backend::Summary() const {
  std::string s = "usb-writes=" + std::to_string(writes_) + " commands=" + std::to_string(commands_) +
                  " replies=" + std::to_string(replies_) + " spi-bytes=" + std::to_string(spiBytes_) +
                  " selects=" + std::to_string(windows_) + " status-reads=" + std::to_string(statusReads_) +
                  " from-batches=" + std::to_string(fromBatches_) + " clock=" + std::to_string(Clock());
  const std::string library = usb_->Summary();
  return library.empty() ? s : s + " " + library;
}
