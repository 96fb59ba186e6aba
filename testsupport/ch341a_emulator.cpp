// SPDX-License-Identifier: MIT
// The CH341A emulator.
#include "testsupport/ch341a_emulator.h"

#include <algorithm>
#include <cstdio>

#include "runtime/device_name.h"
#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

// The device's own facts, kept apart from the backend's so that a mistake in
// one shows against the other.
constexpr uint16_t kVendor = 0x1A86;
constexpr uint16_t kProduct = 0x5512;
constexpr uint8_t kOutEndpoint = 0x02;
constexpr uint8_t kInEndpoint = 0x82;
constexpr size_t kPacketSize = 32;
constexpr uint8_t kSpiStream = 0xA8;
constexpr uint8_t kI2cStream = 0xAA;
constexpr uint8_t kUioStream = 0xAB;
constexpr uint8_t kSubCommandKind = 0xC0;  // the top two bits of a UIO sub-command
constexpr uint8_t kUioOut = 0x80;
constexpr uint8_t kUioDirection = 0x40;
constexpr uint8_t kUioEnd = 0x20;
constexpr uint8_t kI2cSetMask = 0xF8;
constexpr uint8_t kI2cSet = 0x60;
constexpr uint8_t kI2cDualData = 0x04;
constexpr uint8_t kI2cEnd = 0x00;
constexpr uint8_t kPinMask = 0x3F;
constexpr uint8_t kClockPin = 1 << 3;
constexpr uint8_t kDataOutPin = 1 << 5;
constexpr uint32_t kSpiHz = 1'500'000;
// The device takes longer a byte than its clock's eight cycles. ch341prog's
// README measures a read of an 8 MiB W25Q64 at 101.840 s: 12,140 ns a byte,
// its SPI packets sent back to back. In this model each 31 bytes cost a
// 45-byte OUT and a 44-byte IN transaction at 12 Mbit/s (1,914 ns a byte)
// and 8 cycles at 1.5 MHz (5,333 ns): the 4,893 ns left are the device's
// own, charged after every byte it clocks. (The public driver for Linux
// gives its clock as "about 1.4 MHz".)
constexpr uint64_t kByteGapNs = 4'893;
// Full speed: 12 Mbit/s; a bulk transaction carries 13 bytes of protocol
// (token, data packet framing, handshake) besides its payload.
constexpr uint64_t kBulkOverhead = 13;
constexpr uint64_t kNsPerBusByteTimes3 = 2000;  // 8 bits at 12 Mbit/s: 666.7 ns

uint8_t Reversed(uint8_t b) {
  uint8_t r = 0;
  for (int bit = 0; bit < 8; ++bit) r = static_cast<uint8_t>(r << 1 | ((b >> bit) & 1));
  return r;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    char text[4];
    std::snprintf(text, sizeof text, i ? " %02X" : "%02X", bytes[i]);
    s += text;
  }
  return s;
}

class Forwarder : public UsbLibrary {
 public:
  explicit Forwarder(UsbLibrary& target) : target_(target) {}
  int Find(uint16_t v, uint16_t p, std::vector<UsbDevicePlace>* d) override { return target_.Find(v, p, d); }
  int Open(const UsbDevicePlace& place) override { return target_.Open(place); }
  int KernelDriverActive(int i) override { return target_.KernelDriverActive(i); }
  int SetAutoDetachKernelDriver(bool e) override { return target_.SetAutoDetachKernelDriver(e); }
  int ClaimInterface(int i) override { return target_.ClaimInterface(i); }
  void ReleaseInterface(int i) override { target_.ReleaseInterface(i); }
  void Close() override { target_.Close(); }
  int Submit(UsbTransfer* t) override { return target_.Submit(t); }
  int Cancel(UsbTransfer* t) override { return target_.Cancel(t); }
  int HandleEvents(uint32_t ms) override { return target_.HandleEvents(ms); }
  uint64_t NowMs() override { return target_.NowMs(); }
  std::string ErrorName(int e) override { return target_.ErrorName(e); }
  std::string Summary() const override { return target_.Summary(); }

 private:
  UsbLibrary& target_;
};

bool ApplyKey(const KeyItem& item, Ch341aEmulatorConfig* config) {
  uint32_t n = 0;
  bool flag = false;
  if (item.key == "chip") return item.Path(&config->sim.chip);
  if (item.key == "image") return item.Path(&config->sim.image);
  if (item.key == "report") return item.Path(&config->report);
  if (item.key == "devices") return item.Unsigned(&config->devices);
  if (item.key == "latency") return item.Unsigned(&config->roundTripUs);
  if (item.key == "capacity") return item.Unsigned(&config->replyCapacity) && config->replyCapacity > 0;
  if (item.key == "cs") return item.Unsigned(&config->chipSelectPin) && config->chipSelectPin <= 2;
  if (item.key == "deny") {
    config->openError = kUsbErrorAccess;
    return item.Flag(&flag);
  }
  if (item.key == "busy") {
    config->claimError = kUsbErrorBusy;
    return item.Flag(&flag);
  }
  if (item.key == "driver") return item.Flag(&config->kernelDriver);
  if (item.key == "nodetach") return item.Flag(&config->noAutoDetach);
  uint64_t* counter = item.key == "unplug" ? &config->unplugAfter
                      : item.key == "mute" ? &config->muteAfter
                      : item.key == "short" ? &config->shortReply
                      : item.key == "long"  ? &config->longReply
                                            : nullptr;
  if (!counter || !item.Unsigned(&n) || n == 0) return false;
  *counter = n;
  return true;
}

}  // namespace

Ch341aEmulator::Ch341aEmulator(const Ch341aEmulatorConfig& config)
    : config_(config), driverBound_(config.kernelDriver) {}

std::unique_ptr<Ch341aEmulator> Ch341aEmulator::Create(const Ch341aEmulatorConfig& config, std::string* error) {
  std::unique_ptr<Ch341aEmulator> emulator(new Ch341aEmulator(config));
  emulator->sim_ = SimInterface::Create(config.sim, error);
  if (!emulator->sim_) return nullptr;
  emulator->sim_->SetClock(kSpiHz);
  emulator->sim_->SetSelectLine(true);
  return emulator;
}

std::unique_ptr<Ch341aEmulator> Ch341aEmulator::FromDescription(const std::string& text, std::string* error) {
  Ch341aEmulatorConfig config;
  config.keepLog = false;
  if (!ReadDescription(text, "CH341A emulator", &config, ApplyKey, error)) return nullptr;
  return Create(config, error);
}

Ch341aEmulator::~Ch341aEmulator() = default;

std::unique_ptr<UsbLibrary> Ch341aEmulator::Seam() { return std::make_unique<Forwarder>(*this); }

int Ch341aEmulator::Find(uint16_t vendor, uint16_t product, std::vector<UsbDevicePlace>* devices) {
  devices->clear();
  if (vendor != kVendor || product != kProduct || gone_) return 0;
  for (uint32_t i = 0; i < config_.devices; ++i) devices->push_back({1, static_cast<uint8_t>(7 + i)});
  return 0;
}

int Ch341aEmulator::Open(const UsbDevicePlace& place) {
  if (config_.openError != 0) return config_.openError;
  if (place.bus != 1 || place.address < 7 || place.address >= 7 + config_.devices) return kUsbErrorNoDevice;
  open_ = true;
  return 0;
}

int Ch341aEmulator::KernelDriverActive(int) { return driverBound_ ? 1 : 0; }

int Ch341aEmulator::SetAutoDetachKernelDriver(bool enable) {
  if (config_.noAutoDetach) return kUsbErrorNotSupported;
  autoDetach_ = enable;
  return 0;
}

int Ch341aEmulator::ClaimInterface(int interface) {
  if (!open_ || interface != 0) return kUsbErrorNotFound;
  if (config_.claimError != 0) return config_.claimError;
  if (driverBound_ && !autoDetach_) return kUsbErrorBusy;
  driverBound_ = false;
  claimed_ = true;
  return 0;
}

void Ch341aEmulator::ReleaseInterface(int) {
  // libusb gives a driver it detached back; the kernel binds it again.
  if (claimed_ && config_.kernelDriver && autoDetach_) driverBound_ = true;
  claimed_ = false;
}

void Ch341aEmulator::Close() {
  if (!open_) return;
  open_ = false;
  // Closing releases what is still claimed.
  ReleaseInterface(0);
  std::string error;
  if (!sim_->Save(&error)) std::fprintf(stderr, "CH341A emulator: %s\n", error.c_str());
  if (config_.report.empty()) return;
  if (std::FILE* file = std::fopen(config_.report.c_str(), "w")) {
    std::fprintf(file, "%s\n", Summary().c_str());
    std::fclose(file);
  }
}

int Ch341aEmulator::Submit(UsbTransfer* t) {
  if (gone_) return kUsbErrorNoDevice;
  if (!claimed_ || (t->endpoint != kOutEndpoint && t->endpoint != kInEndpoint) || t->length <= 0) {
    Violation("a transfer on endpoint " + Hex(&t->endpoint, 1) + " of " + std::to_string(t->length) +
              " bytes, interface " + (claimed_ ? "claimed" : "not claimed"));
    return kUsbErrorIo;
  }
  // With nothing in flight the host waits for the device's next frame.
  if (outs_.empty() && ins_.empty()) roundTripDue_ = true;
  t->active = true;
  const Pending pending{t, 0, sim_->NowNs() + uint64_t{t->timeoutMs} * 1'000'000};
  (t->endpoint == kOutEndpoint ? outs_ : ins_).push_back(pending);
  return 0;
}

int Ch341aEmulator::Cancel(UsbTransfer* t) {
  for (std::deque<Pending>* queue : {&outs_, &ins_}) {
    const auto it = std::find_if(queue->begin(), queue->end(), [&](const Pending& p) { return p.transfer == t; });
    if (it == queue->end()) continue;
    t->status = UsbTransferStatus::kCancelled;
    t->actualLength = it->done;
    t->active = false;
    queue->erase(it);
    return 0;
  }
  return kUsbErrorNotFound;
}

int Ch341aEmulator::HandleEvents(uint32_t timeoutMs) {
  if (roundTripDue_) {
    roundTripDue_ = false;
    ++roundTrips_;
    sim_->Wait(uint64_t{config_.roundTripUs} * 1000);
  }
  if (Run()) return 0;
  // Nothing moves: time runs to the first transfer's time-out, or the wait's.
  uint64_t until = sim_->NowNs() + uint64_t{timeoutMs} * 1'000'000;
  for (const std::deque<Pending>* queue : {&outs_, &ins_}) {
    for (const Pending& p : *queue) until = std::min(until, p.deadlineNs);
  }
  if (until > sim_->NowNs()) sim_->Wait(until - sim_->NowNs());
  TimeOut(sim_->NowNs());
  return 0;
}

uint64_t Ch341aEmulator::NowMs() { return sim_->NowNs() / 1'000'000; }

std::string Ch341aEmulator::ErrorName(int error) {
  switch (error) {
    case kUsbErrorIo: return "LIBUSB_ERROR_IO";
    case kUsbErrorAccess: return "LIBUSB_ERROR_ACCESS";
    case kUsbErrorNoDevice: return "LIBUSB_ERROR_NO_DEVICE";
    case kUsbErrorNotFound: return "LIBUSB_ERROR_NOT_FOUND";
    case kUsbErrorBusy: return "LIBUSB_ERROR_BUSY";
    default: return "LIBUSB_ERROR_OTHER";
  }
}

bool Ch341aEmulator::Run() {
  bool any = false;
  for (;;) {
    bool ended = false;
    if (!replies_.empty() && !ins_.empty()) {
      GiveReply(ins_.front());
      ended = true;
    } else if (!gone_ && !mute_ && !outs_.empty() && replies_.size() < config_.replyCapacity) {
      ended = TakePacket(outs_.front());
    } else {
      return any;
    }
    any = true;
    // As libusb's event handling, return once a transfer has ended: the
    // host can then refill what is in flight before the device runs dry.
    if (ended) return true;
  }
}

void Ch341aEmulator::ChargePacket(size_t payload) {
  sim_->Wait((kBulkOverhead + payload) * kNsPerBusByteTimes3 / 3);
}

bool Ch341aEmulator::TakePacket(Pending& out) {
  UsbTransfer& t = *out.transfer;
  const size_t n = std::min<size_t>(kPacketSize, static_cast<size_t>(t.length - out.done));
  const uint8_t* packet = t.buffer + out.done;
  if (config_.muteAfter != 0 && packetsTaken_ == config_.muteAfter) {
    mute_ = true;
    return false;
  }
  if (config_.unplugAfter != 0 && packetsTaken_ == config_.unplugAfter) {
    Unplug();
    return true;
  }
  ++packetsTaken_;
  ChargePacket(n);
  if (config_.keepLog) packets_.push_back(Hex(packet, n));
  Execute(packet, n);
  out.done += static_cast<int>(n);
  if (out.done != t.length) return false;
  End(out, UsbTransferStatus::kCompleted, out.done);
  outs_.pop_front();
  return true;
}

void Ch341aEmulator::Execute(const uint8_t* packet, size_t n) {
  switch (packet[0]) {
    case kSpiStream:
      return Spi(packet + 1, n - 1);
    case kUioStream:
      return Uio(packet, n);
    case kI2cStream:
      return I2c(packet, n);
    default:
      Violation("unknown command " + Hex(packet, 1));
  }
}

void Ch341aEmulator::Spi(const uint8_t* bytes, size_t n) {
  if (n == 0) return Violation("an SPI stream packet without bytes");
  if ((outputs_ & (kClockPin | kDataOutPin)) != (kClockPin | kDataOutPin) || dualData_) {
    return Violation("an SPI stream with the clock or data pin not an output, or two data lines each way");
  }
  std::vector<uint8_t> out(n);
  std::vector<uint8_t> in(n);
  for (size_t i = 0; i < n; ++i) out[i] = Reversed(bytes[i]);
  sim_->Transfer(out.data(), in.data(), n);
  sim_->Wait(n * kByteGapNs);
  if (selected_) periods_.Add(out.data(), n);
  std::vector<uint8_t> reply(n);
  for (size_t i = 0; i < n; ++i) reply[i] = Reversed(in[i]);
  ++repliesMade_;
  if (repliesMade_ == config_.shortReply) reply.pop_back();
  if (repliesMade_ == config_.longReply) reply.push_back(0xFF);
  replies_.push_back(std::move(reply));
}

void Ch341aEmulator::Uio(const uint8_t* packet, size_t n) {
  for (size_t i = 1; i < n; ++i) {
    const uint8_t sub = packet[i];
    if (sub == kUioEnd) return;
    if ((sub & kSubCommandKind) == kUioOut) {
      levels_ = sub & kPinMask;
    } else if ((sub & kSubCommandKind) == kUioDirection) {
      outputs_ = sub & kPinMask;
    } else {
      return Violation("UIO sub-command " + Hex(&sub, 1) + " is not modelled");
    }
    ApplySelect();
  }
  Violation("a UIO packet without its end mark: " + Hex(packet, n));
}

void Ch341aEmulator::I2c(const uint8_t* packet, size_t n) {
  for (size_t i = 1; i < n; ++i) {
    const uint8_t sub = packet[i];
    if (sub == kI2cEnd) return;
    if ((sub & kI2cSetMask) != kI2cSet) return Violation("I2C sub-command " + Hex(&sub, 1) + " is not modelled");
    dualData_ = (sub & kI2cDualData) != 0;
  }
  Violation("an I2C packet without its end mark: " + Hex(packet, n));
}

void Ch341aEmulator::ApplySelect() {
  const uint8_t pin = static_cast<uint8_t>(1u << config_.chipSelectPin);
  // An input floats, and the board's pull-up holds it high.
  const bool selected = (outputs_ & pin) != 0 && (levels_ & pin) == 0;
  if (selected == selected_) return;
  selected_ = selected;
  sim_->SetSelectLine(!selected);
  if (selected) {
    ++chipSelects_;
    periods_.Begin();
  } else {
    periods_.End();
  }
}

void Ch341aEmulator::GiveReply(Pending& in) {
  UsbTransfer& t = *in.transfer;
  std::vector<uint8_t>& reply = replies_.front();
  ChargePacket(reply.size());
  const size_t n = std::min(reply.size(), static_cast<size_t>(t.length));
  std::copy_n(reply.begin(), n, t.buffer);
  End(in, reply.size() > n ? UsbTransferStatus::kOverflow : UsbTransferStatus::kCompleted, static_cast<int>(n));
  replies_.pop_front();
  ins_.pop_front();
}

void Ch341aEmulator::End(Pending& pending, UsbTransferStatus status, int actual) {
  pending.transfer->status = status;
  pending.transfer->actualLength = actual;
  pending.transfer->active = false;
}

void Ch341aEmulator::TimeOut(uint64_t nowNs) {
  for (std::deque<Pending>* queue : {&outs_, &ins_}) {
    for (auto it = queue->begin(); it != queue->end();) {
      if (it->deadlineNs > nowNs) {
        ++it;
        continue;
      }
      End(*it, UsbTransferStatus::kTimedOut, it->done);
      it = queue->erase(it);
    }
  }
}

void Ch341aEmulator::Unplug() {
  gone_ = true;
  // Its pins float: chip select rises through the pull-up.
  outputs_ = 0;
  ApplySelect();
  for (std::deque<Pending>* queue : {&outs_, &ins_}) {
    for (Pending& p : *queue) End(p, UsbTransferStatus::kNoDevice, p.done);
    queue->clear();
  }
  replies_.clear();
}

void Ch341aEmulator::Violation(const std::string& what) {
  violations_.push_back(what);
  std::fprintf(stderr, "CH341A emulator: %s\n", what.c_str());
}

std::vector<std::string> Ch341aEmulator::SelectPeriods() const { return periods_.Periods(); }

void Ch341aEmulator::ClearLog() {
  packets_.clear();
  periods_.Clear();
  violations_.clear();
}

std::string Ch341aEmulator::Summary() const {
  const SimStats stats = sim_->Stats();
  char head[160];
  std::snprintf(head, sizeof head, "modelled=%.6f s round-trips=%llu chip-selects=%llu ops:",
                static_cast<double>(stats.timeNs) / 1e9, static_cast<unsigned long long>(roundTrips_),
                static_cast<unsigned long long>(chipSelects_));
  std::string s = head;
  bool any = false;
  for (size_t i = 0; i < kSimOpCount; ++i) {
    if (stats.ops[i] == 0) continue;
    s += std::string(any ? ", " : " ") + SimOpName(static_cast<SimOp>(i)) + "=" + std::to_string(stats.ops[i]);
    any = true;
  }
  return any ? s : s + " none";
}

}  // namespace testsupport
