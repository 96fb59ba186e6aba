// SPDX-License-Identifier: MIT
// An FTDI MPSSE channel as a backend.
#include "runtime/ftdi_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kFtdiVid = 0x0403;

// The chips with an MPSSE engine: their product id and release number
// (bcdDevice, by which libftdi tells them apart: ftdi.c, ftdi_usb_open_dev,
// 0x500 TYPE_2232C, 0x700 TYPE_2232H, 0x800 TYPE_4232H, 0x900 TYPE_232H),
// how many channels have the engine, whether those have a high byte
// (ACBUS) of pins, and the size of a channel's buffer towards the host
// (the datasheets' transmit buffer: FT232H 1 KiB, FT2232H 4 KiB, FT4232H
// 2 KiB, FT2232D 128 bytes; pyftdi's FIFO_SIZES agrees).
//
// The FT2232C/D/L (one release number for the three, and the FT2232H's
// product id) is refused by name. It is a full-speed chip whose engine runs
// at 12 MHz (SK 6 MHz at most) and knows none of 8A-8F, 96 and 97 (AN_108
// lists them for the H chips only): without 8E/8F the backend's idle clocks
// and status batches would travel as data over a 12 Mbit/s bus, and its
// 128-byte reply buffer takes 63 samples at most. Driving it would be a
// second engine throughout the backend, held up by nothing but our own
// emulator; the H chips are what boards carry now.
struct ChipKind {
  uint16_t pid;
  uint16_t bcdDevice;
  const char* name;
  int mpsseChannels;
  bool highByte;
  size_t buffer;
  const char* refused;  // why the backend does not drive it; null: it does
};
constexpr ChipKind kKinds[] = {
    {0x6014, 0x0900, "FT232H", 1, true, 1024, nullptr},
    {0x6010, 0x0700, "FT2232H", 2, true, 4096, nullptr},
    {0x6011, 0x0800, "FT4232H", 2, false, 2048, nullptr},
    {0x6010, 0x0500, "FT2232D", 2, true, 128,
     "a full-speed chip with a 6 MHz clock, 128 bytes of reply buffer and none of the 8A-8F, 96 and 97 commands "
     "(AN_108) that romwick drives; use an FT232H, FT2232H or FT4232H"},
};
// The product ids looked for, in this order, when none is given.
constexpr uint16_t kProducts[] = {0x6014, 0x6010, 0x6011};
// What another chip is taken for: the smallest buffer of the three.
constexpr ChipKind kUnknownKind = {0, 0, "FTDI chip", 4, true, 1024, nullptr};

// The release number tells the chip whatever ids its EEPROM gives it; an
// unknown one leaves the product id to tell.
const ChipKind& KindOf(const FtdiUsbDevice& device) {
  for (const ChipKind& kind : kKinds) {
    if (device.bcdDevice == kind.bcdDevice) return kind;
  }
  for (const ChipKind& kind : kKinds) {
    if (device.vid == kFtdiVid && device.pid == kind.pid) return kind;
  }
  return kUnknownKind;
}

// Pins of the low byte that the engine gives the clock and data.
constexpr uint8_t kClockPin = 0x01;
constexpr uint8_t kDataOutPin = 0x02;

// Commands of the engine (the shifting ones are MpsseCommands').
constexpr uint8_t kDivideBy5Off = 0x8A;  // the 60 MHz base clock
constexpr uint8_t kAdaptiveOff = 0x97;
constexpr uint8_t kThreePhaseOff = 0x8D;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kSendImmediate = 0x87;
// An opcode the engine does not know: it answers FA and the opcode, which
// closes every reply.
constexpr uint8_t kMarker = 0xAB;
constexpr uint8_t kBadCommand = 0xFA;
constexpr size_t kEchoBytes = 2;

constexpr uint8_t kBitModeReset = 0x00;
constexpr uint8_t kBitModeMpsse = 0x02;
// The chip sends what it holds after this many ms without a send-immediate;
// also how often an empty read comes back.
constexpr uint8_t kLatencyTimerMs = 1;

// SK = 60 MHz / ((1 + divisor) * 2).
constexpr uint64_t kHalfBaseHz = 30'000'000;
constexpr uint64_t kMaxDivisor = 0xFFFF;
// Until the program sets one.
constexpr uint32_t kStartHz = 1'000'000;

// A reply may come this long after the bus work of its write is done.
constexpr uint64_t kReplyTimeoutUs = 1'000'000;
// A queue of writes without a reply goes out at this size.
constexpr size_t kQueueLimit = 65536;

std::string ChannelName(char channel) { return std::string(1, channel); }

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

std::string UsbId(uint16_t vid, uint16_t pid) { return Hex4(vid) + ":" + Hex4(pid); }

std::string PinName(const FtdiPin& pin) {
  return std::string(pin.highByte ? "ACBUS" : "ADBUS") + static_cast<char>('0' + pin.bit);
}

void SetBit(uint8_t& byte, uint8_t bit, bool on) {
  byte = static_cast<uint8_t>(on ? byte | (1u << bit) : byte & ~(1u << bit));
}

}  // namespace

std::unique_ptr<FtdiBackend> FtdiBackend::Open(const FtdiDeviceRequest& request, std::unique_ptr<FtdiUsb> usb,
                                               TraceWriter& trace, std::string* error) {
  std::unique_ptr<FtdiBackend> backend(new FtdiBackend(request, std::move(usb), trace));
  if (!backend->OpenChannel(error) || !backend->SetUpEngine(error)) return nullptr;
  return backend;
}

FtdiBackend::FtdiBackend(const FtdiDeviceRequest& request, std::unique_ptr<FtdiUsb> usb, TraceWriter& trace)
    : request_(request), usb_(std::move(usb)), trace_(trace), pollPlanner_(request.pollBatch) {}

FtdiBackend::~FtdiBackend() {
  if (!open_) return;
  // A destructor may not throw: what Close cannot finish (out of memory) is
  // left as it is.
  try {
    Close();
  } catch (...) {
  }
}

bool FtdiBackend::List(FtdiUsb& usb, std::vector<std::string>* names, std::string* error) {
  size_t index = 0;
  for (const uint16_t pid : kProducts) {
    std::vector<FtdiUsbDevice> found;
    if (!usb.Find(kFtdiVid, pid, &found, error)) return false;
    for (const FtdiUsbDevice& device : found) {
      // A serial number that would not parse as a key's value names nothing.
      const bool plain = !device.serial.empty() && device.serial.find_first_of(",=") == std::string::npos;
      names->push_back(plain ? "ftdi:serial=" + device.serial : "ftdi:index=" + std::to_string(index));
      ++index;
    }
  }
  return true;
}

bool FtdiBackend::OpenChannel(std::string* error) {
  const uint16_t vid = request_.vid.value_or(kFtdiVid);
  std::vector<FtdiUsbDevice> found;
  std::string looked;
  for (const uint16_t product : kProducts) {
    const uint16_t pid = request_.pid.value_or(product);
    if (!usb_->Find(vid, pid, &found, error)) {
      *error = "cannot list USB devices: " + *error;
      return false;
    }
    looked += (looked.empty() ? "" : ", ") + UsbId(vid, pid);
    if (request_.pid) break;
  }
  if (found.empty()) {
    *error = request_.pid ? "no USB device " + looked + " found"
                          : "no FT232H, FT2232H or FT4232H found on the USB (looked for " + looked + ")";
    return false;
  }
  if (!request_.serial.empty()) {
    std::string serials;
    std::erase_if(found, [&](const FtdiUsbDevice& d) {
      if (!d.serial.empty()) serials += (serials.empty() ? "'" : ", '") + d.serial + "'";
      return d.serial != request_.serial;
    });
    if (found.empty()) {
      *error = "no FTDI device with serial number '" + request_.serial + "' (" +
               (serials.empty() ? std::string("no serial number could be read") : "there are " + serials) + ")";
      return false;
    }
  }
  if (request_.index >= found.size()) {
    *error = "index=" + std::to_string(request_.index) + ", but only " + std::to_string(found.size()) +
             (found.size() == 1 ? " device matches" : " devices match") + " (the first is index=0)";
    return false;
  }
  device_ = found[request_.index];
  const ChipKind& kind = KindOf(device_);
  replyBuffer_ = kind.buffer;
  name_ = std::string(kind.name) + " " + UsbId(device_.vid, device_.pid) + " (bus " + std::to_string(device_.bus) +
          ", address " + std::to_string(device_.address) + ")";
  if (kind.refused) {
    *error = name_ + ": " + kind.name + " is not supported: " + kind.refused;
    return false;
  }
  const int channel = request_.channel - 'A' + 1;
  if (channel > kind.mpsseChannels) {
    *error = name_ + ": channel " + ChannelName(request_.channel) +
             (kind.mpsseChannels == 1 ? " does not exist or has no MPSSE engine (only A has one)"
                                      : " has no MPSSE engine (only A and B have one)");
    return false;
  }
  usesHighByte_ = request_.cs.highByte || (request_.reset && request_.reset->highByte);
  if (usesHighByte_ && !kind.highByte) {
    *error = name_ + ": the " + kind.name + " has no ACBUS pins";
    return false;
  }
  FtdiOpenFailure failure = FtdiOpenFailure::kOther;
  std::string reason;
  if (!usb_->Open(device_.bus, device_.address, channel, &failure, &reason)) {
    const std::string usb = "USB device " + UsbId(device_.vid, device_.pid) + " (bus " +
                            std::to_string(device_.bus) + ", address " + std::to_string(device_.address) + ")";
    if (failure == FtdiOpenFailure::kPermission) {
      *error = "permission denied on " + usb +
               ": install 60-romwick.rules into /etc/udev/rules.d (see the README, Real hardware) and plug the "
               "device in again";
    } else if (failure == FtdiOpenFailure::kBusy) {
      *error = usb + " channel " + ChannelName(request_.channel) + " is held by another program (" + reason + ")";
    } else {
      *error = "cannot open " + usb + ": " + reason;
    }
    return false;
  }
  open_ = true;
  return true;
}

bool FtdiBackend::SetUpEngine(std::string* error) {
  std::string reason;
  if (!usb_->SetBitMode(0, kBitModeReset, &reason) || !usb_->Purge(&reason) ||
      !usb_->SetLatencyTimer(kLatencyTimerMs, &reason) || !usb_->SetBitMode(0, kBitModeMpsse, &reason)) {
    *error = name_ + ": " + reason;
    return false;
  }
  for (uint8_t opcode : {kDivideBy5Off, kAdaptiveOff, kThreePhaseOff, kLoopbackOff}) queue_.Plain(opcode);
  uint32_t granted = 0;
  SetClock(kStartHz, &granted);
  // The clock idles low (mode 0) and chip select high; the reset line starts
  // inactive. Every other pin stays an input.
  lowOutputs_ = kClockPin | kDataOutPin;
  SetBit(request_.cs.highByte ? highOutputs_ : lowOutputs_, request_.cs.bit, true);
  SetBit(request_.cs.highByte ? high_ : low_, request_.cs.bit, true);
  if (request_.reset) SetResetLine(false);
  queue_.SetPins(false, low_, lowOutputs_);
  if (usesHighByte_) queue_.SetPins(true, high_, highOutputs_);
  sentLow_ = low_, sentLowOutputs_ = lowOutputs_, sentHigh_ = high_, sentHighOutputs_ = highOutputs_;
  if (!Synchronize()) {
    *error = TakeReason();
    return false;
  }
  if (trace_.IsOpen()) {
    trace_.Detail("opened " + name_ + (device_.serial.empty() ? "" : " serial " + device_.serial) + ", channel " +
                  ChannelName(request_.channel) + ", cs=" + PinName(request_.cs) +
                  (request_.reset ? ", reset=" + PinName(*request_.reset) : "") +
                  (request_.resetOpenDrain ? " (open drain)" : "") + ", buffer " +
                  std::to_string(replyBuffer_));
  }
  return true;
}

bool FtdiBackend::EnablePort(int32_t port) {
  if (port == 0) return true;
  return Fail(name_ + ": a device name drives one channel, it has no port " + std::to_string(port) +
              " (choose the channel with iface=)");
}

bool FtdiBackend::DisablePort() {
  batcher_.EndRun();
  SetSelectLine(false);
  return Send();
}

bool FtdiBackend::SetMode(uint32_t mode, bool lsbFirst) {
  if (lsbFirst) {
    return Fail(name_ + ": SPI mode " + std::to_string(mode) +
                " least significant bit first asked for; flash chips take modes 0 and 3, most significant bit first");
  }
  // The engine shifts out on the falling edge and in on the rising one: mode
  // 0 with the clock idling low. Idling high that would be mode 3, which
  // FTDI says the MPSSE does not keep.
  if (mode != 0) {
    return Fail(name_ + ": SPI mode " + std::to_string(mode) +
                " asked for; the MPSSE engine shifts in mode 0 only here (FTDI's AN_114: modes 0 and 2, and flash "
                "chips take 0 and 3)");
  }
  return true;
}

bool FtdiBackend::SetClock(uint32_t hz, uint32_t* granted) {
  // No clock asked for (the first generation sets its mode with the clock
  // it holds, 0 before the first one): the channel keeps its own.
  if (hz == 0) {
    *granted = clockHz_;
    return true;
  }
  batcher_.EndRun();
  const uint64_t asked = request_.speedCap ? std::min(hz, request_.speedCap) : hz;
  // The fastest clock not above the one asked for, in 64 bits: a request
  // near 2^32 must not wrap round to the slowest.
  const uint64_t divisor = std::min((kHalfBaseHz + asked - 1) / asked - 1, kMaxDivisor);
  const auto newHz = static_cast<uint32_t>(kHalfBaseHz / (divisor + 1));
  if (newHz != clockHz_) queue_.SetDivisor(static_cast<uint16_t>(divisor));
  clockHz_ = newHz;
  pollPlanner_.SetBusClock(clockHz_);
  *granted = clockHz_;
  return true;
}

void FtdiBackend::DrivePins() {
  if (low_ != sentLow_ || lowOutputs_ != sentLowOutputs_) queue_.SetPins(false, low_, lowOutputs_);
  if (usesHighByte_ && (high_ != sentHigh_ || highOutputs_ != sentHighOutputs_)) {
    queue_.SetPins(true, high_, highOutputs_);
  }
  sentLow_ = low_, sentLowOutputs_ = lowOutputs_, sentHigh_ = high_, sentHighOutputs_ = highOutputs_;
}

void FtdiBackend::SetSelectLine(bool selected) {
  SetBit(request_.cs.highByte ? high_ : low_, request_.cs.bit, !selected);
  DrivePins();
  selected_ = selected;
}

bool FtdiBackend::Select(bool asserted) {
  batcher_.EndRun();
  if (asserted && !selected_) {
    windowStart_ = queue_.Bytes().size();
    windowStarting_ = true;
    ++windows_;
  }
  if (asserted != selected_) SetSelectLine(asserted);
  return true;
}

size_t FtdiBackend::ReplyRoom() const {
  const size_t taken = queue_.ReplyBytes() + kEchoBytes;
  return replyBuffer_ > taken ? replyBuffer_ - taken : 0;
}

bool FtdiBackend::QueueShift(const BusTransfer& t) {
  for (size_t done = 0; done < t.count;) {
    size_t piece = std::min(t.count - done, MpsseCommands::kMaxShift);
    if (t.rx && t.tx) {
      // Bytes sent and read: the engine stops with the reply buffer full and
      // the data behind it waits in the buffer from the host, which a long
      // shift overruns, and the write times out. The replies of a write fit
      // the buffer whole.
      if (ReplyRoom() == 0 && !Exchange()) return false;
      piece = std::min(piece, ReplyRoom());
    } else if (t.rx && queue_.ReplyBytes() > 0 && queue_.ReplyBytes() + piece > replyBuffer_ && !Exchange()) {
      // A read alone is three command bytes: it may stop the engine as a
      // write's last command with a reply, as only a few bytes follow it.
      return false;
    }
    if (!t.tx && t.rx) {
      queue_.ShiftIn(piece);
    } else {
      queue_.Shift(t.tx ? t.tx + done : nullptr, t.fill, piece, t.rx != nullptr);
    }
    if (t.rx) replies_.push_back({t.rx + done, piece});
    done += piece;
    if (!t.rx && queue_.Bytes().size() >= kQueueLimit && !Send()) return false;
  }
  return true;
}

void FtdiBackend::QueueIdle(uint64_t bytes) {
  while (bytes > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, MpsseCommands::kMaxShift));
    queue_.IdleClocks(piece);
    bytes -= piece;
  }
}

bool FtdiBackend::Transfer(const BusTransfer& t) {
  if (IsStatusPoll(t)) return Poll(t);
  // An idle gap between polls: the batch's own spacing stands in for it.
  if (!t.selectedDuring && !t.rx && batcher_.AnswerIdle(t.count)) return true;
  batcher_.EndRun();
  if (!t.selectedDuring) {
    // An idle gap the program asks for: clock cycles with chip select high.
    if (selected_) SetSelectLine(false);
    if (t.rx) {
      if (!QueueShift(t)) return false;
    } else {
      QueueIdle(t.count);
    }
  } else {
    if (!selected_) Select(true);
    if (windowStarting_ && t.count > 0) {
      batcher_.NoteWindow(t.tx ? t.tx[0] : t.fill, t.count);
      windowStarting_ = false;
    }
    if (!QueueShift(t)) return false;
    if (!t.selectedAfter) SetSelectLine(false);
  }
  return t.rx ? Exchange() : true;
}

void FtdiBackend::SetResetLine(bool asserted) {
  const FtdiPin& pin = *request_.reset;
  const bool high = asserted == request_.resetActiveHigh;
  // Open drain: driven low, or let go to the net's pull-up as an input;
  // never driven high against a device that holds the net low.
  const bool letGo = high && request_.resetOpenDrain;
  SetBit(pin.highByte ? high_ : low_, pin.bit, high && !letGo);
  SetBit(pin.highByte ? highOutputs_ : lowOutputs_, pin.bit, !letGo);
}

bool FtdiBackend::ConfigReset(bool asserted) {
  if (!request_.reset) return false;
  batcher_.EndRun();
  SetResetLine(asserted);
  DrivePins();
  if (trace_.IsOpen()) trace_.Detail(PinName(*request_.reset) + (asserted ? " active" : " inactive"));
  // At once: the program pauses after asserting it, and a pause before the
  // line moves would be no pause.
  return Send();
}

bool FtdiBackend::Send() {
  if (!replies_.empty()) return Exchange();
  if (queue_.Empty()) return true;
  std::string error;
  const std::vector<uint8_t>& out = queue_.Bytes();
  TraceWrite(out);
  ++writes_;
  bytes_ += queue_.BusBytes();
  const bool written = usb_->Write(out.data(), out.size(), &error);
  queue_.Clear();
  windowStart_ = 0;
  return written || UsbFailed("write: " + error);
}

void FtdiBackend::TraceWrite(const std::vector<uint8_t>& out) {
  if (trace_.IsOpen()) {
    trace_.Detail("USB write " + std::to_string(out.size()) + ": " + TraceWriter::Bytes(out.data(), out.size(), 16));
  }
}

bool FtdiBackend::Synchronize() {
  queue_.Plain(kMarker);
  queue_.Plain(kSendImmediate);
  const std::vector<uint8_t>& out = queue_.Bytes();
  TraceWrite(out);
  std::string error;
  ++writes_;
  ++roundTrips_;
  bytes_ += queue_.BusBytes();
  const bool written = usb_->Write(out.data(), out.size(), &error);
  queue_.Clear();
  if (!written) return UsbFailed("write: " + error);
  // Whatever the chip still held from before the switch to MPSSE comes
  // first: read, and dropped up to the engine's echo of the marker, as
  // FTDI's AN_135 reads what the chip holds and then looks for the echo of
  // a bad command in what arrives.
  const std::array<uint8_t, kEchoBytes> echo = {kBadCommand, kMarker};
  std::vector<uint8_t> in;
  const uint64_t deadline = usb_->NowUs() + kReplyTimeoutUs;
  for (;;) {
    uint8_t piece[512];
    const int n = usb_->Read(piece, sizeof piece, &error);
    ++reads_;
    if (n < 0) return UsbFailed("read: " + error);
    in.insert(in.end(), piece, piece + n);
    const auto found = std::search(in.begin(), in.end(), echo.begin(), echo.end());
    if (found != in.end()) {
      if (trace_.IsOpen()) {
        trace_.Detail("USB read " + std::to_string(in.size()) + ": " + TraceWriter::Bytes(in.data(), in.size(), 16));
        if (found != in.begin()) {
          trace_.Detail("dropped " + std::to_string(found - in.begin()) + " bytes the chip held from before");
        }
      }
      return true;
    }
    if (n == 0 && usb_->NowUs() > deadline) {
      std::string unused;
      usb_->Purge(&unused);
      return Fail(name_ + ": the MPSSE engine does not answer: " + std::to_string(in.size()) +
                  " bytes came, without FA AB, then nothing for " + std::to_string(kReplyTimeoutUs / 1000) + " ms");
    }
  }
}

bool FtdiBackend::Exchange() {
  queue_.Plain(kMarker);
  queue_.Plain(kSendImmediate);
  const size_t want = queue_.ReplyBytes() + 2;
  const uint64_t busBytes = queue_.BusBytes();
  const std::vector<uint8_t>& out = queue_.Bytes();
  TraceWrite(out);
  std::string error;
  ++writes_;
  ++roundTrips_;
  bytes_ += busBytes;
  const bool written = usb_->Write(out.data(), out.size(), &error);
  queue_.Clear();
  windowStart_ = 0;
  std::vector<Reply> replies;
  replies.swap(replies_);
  if (!written) return UsbFailed("write: " + error);
  std::vector<uint8_t> in(want);
  if (!ReadReply(in, busBytes)) return false;
  if (in[want - 2] != kBadCommand || in[want - 1] != kMarker) {
    std::string unused;
    usb_->Purge(&unused);
    return Fail(name_ + ": malformed reply: " + std::to_string(want) + " bytes should end in FA AB, they end in " +
                TraceWriter::Bytes(in.data() + want - 2, 2));
  }
  size_t at = 0;
  for (const Reply& reply : replies) {
    std::memcpy(reply.rx, in.data() + at, reply.count);
    at += reply.count;
  }
  return true;
}

bool FtdiBackend::ReadReply(std::vector<uint8_t>& in, uint64_t busBytes) {
  const uint64_t busUs = busBytes * 8 * 1'000'000 / std::max<uint32_t>(clockHz_, 1);
  const uint64_t waitUs = kReplyTimeoutUs + 2 * busUs;
  const uint64_t deadline = usb_->NowUs() + waitUs;
  size_t got = 0;
  while (got < in.size()) {
    std::string error;
    const int n = usb_->Read(in.data() + got, in.size() - got, &error);
    ++reads_;
    if (n < 0) return UsbFailed("read: " + error);
    got += static_cast<size_t>(n);
    if (n == 0 && got < in.size() && usb_->NowUs() > deadline) {
      std::string unused;
      usb_->Purge(&unused);
      return Fail(name_ + ": short read: " + std::to_string(got) + " of " + std::to_string(in.size()) +
                  " reply bytes came, then nothing for " + std::to_string(waitUs / 1000) + " ms");
    }
  }
  if (trace_.IsOpen()) trace_.Detail("USB read " + std::to_string(got) + ": " + TraceWriter::Bytes(in.data(), got, 16));
  return true;
}

bool FtdiBackend::UsbFailed(const std::string& what) {
  std::vector<FtdiUsbDevice> found;
  std::string error;
  const bool listed = usb_->Find(device_.vid, device_.pid, &found, &error);
  const bool present = std::any_of(found.begin(), found.end(), [&](const FtdiUsbDevice& d) {
    return d.bus == device_.bus && d.address == device_.address;
  });
  if (listed && !present) return Fail(name_ + " is gone from the USB (unplugged?): " + what);
  return Fail(name_ + ": USB " + what);
}

bool FtdiBackend::IsStatusPoll(const BusTransfer& t) const {
  return request_.pollBatch > 1 && t.selectedDuring && !t.selectedAfter && !selected_ && t.rx &&
         PollBatcher::IsStatusRead(t.tx, t.count);
}

bool FtdiBackend::Poll(const BusTransfer& t) {
  ++polls_;
  if (!batcher_.Answer(t.tx, t.rx)) {
    // Times count on the seam's clock: the round trips between batches pass too.
    const std::vector<PollStep> plan = batcher_.Plan(t.tx, usb_->NowUs() * 1000);
    samples_.assign(PollBatcher::Samples(plan), {});
    size_t next = 0;
    for (const PollStep& step : plan) {
      if (!step.sample) {
        QueueIdle(step.idleBytes);
        continue;
      }
      SetSelectLine(true);
      queue_.Shift(t.tx, 0, 2, true);
      replies_.push_back({samples_[next++].data(), 2});
      SetSelectLine(false);
    }
    windows_ += samples_.size();
    if (!Exchange()) return false;
    batcher_.Stock(plan, samples_, t.rx);
    // status-polls has always counted a read that asks for a batch twice,
    // asking and answered: the summary line stays as it was.
    ++polls_;
  }
  ++pollsFromBatches_;
  return true;
}

bool FtdiBackend::Close() {
  if (!open_) return true;
  batcher_.EndRun();
  // A window that was never released is dropped: its command is incomplete.
  if (selected_) queue_.Truncate(windowStart_);
  // Chip select rises as an output, then every pin becomes an input again.
  SetBit(request_.cs.highByte ? high_ : low_, request_.cs.bit, true);
  queue_.SetPins(false, low_, lowOutputs_);
  if (usesHighByte_) queue_.SetPins(true, high_, highOutputs_);
  queue_.SetPins(false, 0, 0);
  if (usesHighByte_) queue_.SetPins(true, 0, 0);
  selected_ = false;
  replies_.clear();
  bool ok = Send();
  std::string error;
  if (!usb_->SetBitMode(0, kBitModeReset, &error) && ok) ok = UsbFailed("leaving MPSSE mode: " + error);
  usb_->Close();
  open_ = false;
  return ok;
}

std::string FtdiBackend::Summary() const {
  auto n = [](uint64_t v) { return std::to_string(v); };
  return "usb-round-trips=" + n(roundTrips_) + " usb-writes=" + n(writes_) + " usb-reads=" + n(reads_) +
         " bytes=" + n(bytes_) + " selects=" + n(windows_) + " status-polls=" + n(polls_) +
         " answered-from-batches=" + n(pollsFromBatches_);
}
