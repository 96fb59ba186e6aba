// SPDX-License-Identifier: MIT
// The CH347 emulator.
#include "testsupport/ch347_emulator.h"

#include <algorithm>
#include <cstdio>

#include "runtime/device_name.h"
#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

// The device's own facts, kept apart from the backend's so that a mistake in
// one shows against the other (sources in runtime/ch347_stream.h).
constexpr uint16_t kVendor = 0x1A86;
constexpr uint16_t kProductT = 0x55DB;
constexpr uint16_t kProductF = 0x55DE;
constexpr int kInterfaceT = 2;
constexpr int kInterfaceF = 4;
constexpr uint8_t kOutEndpoint = 0x06;
constexpr uint8_t kInEndpoint = 0x86;
constexpr size_t kHeader = 3;
constexpr size_t kReplyData = 507;
constexpr size_t kMostWrite = 4096;
constexpr uint8_t kSettings = 0xC0;
constexpr uint8_t kSelects = 0xC1;
constexpr uint8_t kExchange = 0xC2;
constexpr uint8_t kRead = 0xC3;
constexpr uint8_t kWrite = 0xC4;
constexpr uint8_t kInfo = 0xCA;
constexpr uint8_t kGpioCommand = 0xCC;
constexpr size_t kSettingsLength = 26;
constexpr size_t kSelectsLength = 10;
constexpr size_t kGpioLength = 8;
constexpr uint32_t kBaseHz = 60'000'000;
// High speed: 512-byte packets at 480 Mbit/s (50/3 ns a byte), each with
// some 30 bytes of bulk protocol (token, data packet framing, handshake).
constexpr size_t kPacketSize = 512;
constexpr uint64_t kBulkOverhead = 30;

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

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

class Forwarder : public UsbLibrary {
 public:
  explicit Forwarder(UsbLibrary& target) : target_(target) {}
  int Find(uint16_t v, uint16_t p, std::vector<UsbDevicePlace>* d) override { return target_.Find(v, p, d); }
  int Open(const UsbDevicePlace& place) override { return target_.Open(place); }
  int SerialNumber(std::string* serial) override { return target_.SerialNumber(serial); }
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

bool ApplyKey(const KeyItem& item, Ch347EmulatorConfig* config) {
  uint32_t n = 0;
  bool flag = false;
  if (item.key == "chip") return item.Path(&config->sim.chip);
  if (item.key == "image") return item.Path(&config->sim.image);
  if (item.key == "report") return item.Path(&config->report);
  if (item.key == "devices") return item.Unsigned(&config->devices);
  if (item.key == "latency") return item.Unsigned(&config->roundTripUs);
  if (item.key == "capacity") return item.Unsigned(&config->replyCapacity) && config->replyCapacity > 0;
  if (item.key == "cs") return item.Unsigned(&config->chipSelect) && config->chipSelect <= 1;
  if (item.key == "model") {
    config->model = item.value == "F" ? 'F' : 'T';
    return item.value == "F" || item.value == "T";
  }
  if (item.key == "serials") {
    config->serials = SplitAt(item.value, '/');
    return item.hasValue;
  }
  if (item.key == "reset") {
    const std::vector<std::string> parts = SplitAt(item.value, ':');
    config->resetActiveHigh = parts.size() == 2 && parts[1] == "active-high";
    if (!ParseUnsigned(parts[0], &n) || n > 7 || parts.size() > 2 || (parts.size() == 2 && !config->resetActiveHigh)) {
      return false;
    }
    config->resetGpio = n;
    return true;
  }
  if (item.key == "deny") {
    config->openError = kUsbErrorAccess;
    return item.Flag(&flag);
  }
  if (item.key == "busy") {
    config->claimError = kUsbErrorBusy;
    return item.Flag(&flag);
  }
  if (item.key == "driver") return item.Flag(&config->kernelDriver);
  uint64_t* counter = item.key == "unplug"    ? &config->unplugAfter
                      : item.key == "mute"    ? &config->muteAfter
                      : item.key == "short"   ? &config->shortReply
                      : item.key == "long"    ? &config->longReply
                      : item.key == "strange" ? &config->strangeReply
                                              : nullptr;
  if (!counter || !item.Unsigned(&n) || n == 0) return false;
  *counter = n;
  return true;
}

}  // namespace

Ch347Emulator::Ch347Emulator(const Ch347EmulatorConfig& config) : config_(config) {}

std::unique_ptr<Ch347Emulator> Ch347Emulator::Create(const Ch347EmulatorConfig& config, std::string* error) {
  std::unique_ptr<Ch347Emulator> emulator(new Ch347Emulator(config));
  emulator->sim_ = SimInterface::Create(config.sim, error);
  if (!emulator->sim_) return nullptr;
  emulator->sim_->SetSelectLine(true);
  return emulator;
}

std::unique_ptr<Ch347Emulator> Ch347Emulator::FromDescription(const std::string& text, std::string* error) {
  Ch347EmulatorConfig config;
  config.keepLog = false;
  if (!ReadDescription(text, "CH347 emulator", &config, ApplyKey, error)) return nullptr;
  return Create(config, error);
}

Ch347Emulator::~Ch347Emulator() = default;

std::unique_ptr<UsbLibrary> Ch347Emulator::Seam() { return std::make_unique<Forwarder>(*this); }

uint16_t Ch347Emulator::Product() const { return config_.model == 'F' ? kProductF : kProductT; }

int Ch347Emulator::Interface() const { return config_.model == 'F' ? kInterfaceF : kInterfaceT; }

int Ch347Emulator::Find(uint16_t vendor, uint16_t product, std::vector<UsbDevicePlace>* devices) {
  devices->clear();
  if (vendor != kVendor || product != Product() || gone_) return 0;
  for (uint32_t i = 0; i < config_.devices; ++i) devices->push_back({1, static_cast<uint8_t>(7 + i)});
  return 0;
}

int Ch347Emulator::Open(const UsbDevicePlace& place) {
  if (config_.openError != 0) return config_.openError;
  if (place.bus != 1 || place.address < 7 || place.address >= 7 + config_.devices) return kUsbErrorNoDevice;
  open_ = true;
  used_ = false;
  openIndex_ = place.address - 7u;
  return 0;
}

int Ch347Emulator::SerialNumber(std::string* serial) {
  if (!open_) return kUsbErrorNotFound;
  *serial = openIndex_ < config_.serials.size() ? config_.serials[openIndex_] : "";
  return 0;
}

int Ch347Emulator::KernelDriverActive(int) { return config_.kernelDriver && !claimed_ ? 1 : 0; }

int Ch347Emulator::SetAutoDetachKernelDriver(bool enable) {
  autoDetach_ = enable;
  return 0;
}

int Ch347Emulator::ClaimInterface(int interface) {
  if (!open_ || interface != Interface()) return kUsbErrorNotFound;
  if (config_.claimError != 0) return config_.claimError;
  if (config_.kernelDriver && !autoDetach_) return kUsbErrorBusy;
  claimed_ = true;
  used_ = true;
  return 0;
}

void Ch347Emulator::ReleaseInterface(int) { claimed_ = false; }

void Ch347Emulator::Close() {
  if (!open_) return;
  open_ = false;
  claimed_ = false;
  // A close without a claim is a look at the serial number.
  if (!used_) return;
  std::string error;
  if (!sim_->Save(&error)) std::fprintf(stderr, "CH347 emulator: %s\n", error.c_str());
  if (config_.report.empty()) return;
  if (std::FILE* file = std::fopen(config_.report.c_str(), "w")) {
    std::fprintf(file, "%s\n", Summary().c_str());
    std::fclose(file);
  }
}

int Ch347Emulator::Submit(UsbTransfer* t) {
  if (gone_) return kUsbErrorNoDevice;
  if (!claimed_ || (t->endpoint != kOutEndpoint && t->endpoint != kInEndpoint) || t->length <= 0) {
    Violation("a transfer on endpoint " + Hex(&t->endpoint, 1) + " of " + std::to_string(t->length) +
              " bytes, interface " + (claimed_ ? "claimed" : "not claimed"));
    return kUsbErrorIo;
  }
  // With nothing in flight the host waits for the device's next microframe.
  if (outs_.empty() && ins_.empty()) roundTripDue_ = true;
  t->active = true;
  const Pending pending{t, sim_->NowNs() + uint64_t{t->timeoutMs} * 1'000'000};
  (t->endpoint == kOutEndpoint ? outs_ : ins_).push_back(pending);
  return 0;
}

int Ch347Emulator::Cancel(UsbTransfer* t) {
  for (std::deque<Pending>* queue : {&outs_, &ins_}) {
    const auto it = std::find_if(queue->begin(), queue->end(), [&](const Pending& p) { return p.transfer == t; });
    if (it == queue->end()) continue;
    End(*it, UsbTransferStatus::kCancelled, 0);
    queue->erase(it);
    return 0;
  }
  return kUsbErrorNotFound;
}

int Ch347Emulator::HandleEvents(uint32_t timeoutMs) {
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

uint64_t Ch347Emulator::NowMs() { return sim_->NowNs() / 1'000'000; }

std::string Ch347Emulator::ErrorName(int error) {
  switch (error) {
    case kUsbErrorIo: return "LIBUSB_ERROR_IO";
    case kUsbErrorAccess: return "LIBUSB_ERROR_ACCESS";
    case kUsbErrorNoDevice: return "LIBUSB_ERROR_NO_DEVICE";
    case kUsbErrorNotFound: return "LIBUSB_ERROR_NOT_FOUND";
    case kUsbErrorBusy: return "LIBUSB_ERROR_BUSY";
    default: return "LIBUSB_ERROR_OTHER";
  }
}

bool Ch347Emulator::Run() {
  bool any = false;
  for (;;) {
    if (!replies_.empty() && !ins_.empty()) {
      GiveReply(ins_.front());
      // As libusb's event handling, return once a transfer has ended: the
      // host can then refill what is in flight before the device runs dry.
      return true;
    }
    if (gone_ || mute_ || replies_.size() >= config_.replyCapacity) return any;
    if (readLeft_ > 0) {
      ReadChunk();
      any = true;
      continue;
    }
    if (outs_.empty() || !TakeCommand(outs_.front())) return any;
    return true;
  }
}

void Ch347Emulator::ChargePackets(size_t bytes) {
  const uint64_t packets = std::max<uint64_t>(1, (bytes + kPacketSize - 1) / kPacketSize);
  sim_->Wait((bytes + kBulkOverhead * packets) * 50 / 3 + packets * config_.packetNs);
}

bool Ch347Emulator::TakeCommand(Pending& out) {
  if (config_.muteAfter != 0 && commandsTaken_ == config_.muteAfter) {
    mute_ = true;
    return false;
  }
  if (config_.unplugAfter != 0 && commandsTaken_ == config_.unplugAfter) {
    Unplug();
    return true;
  }
  ++commandsTaken_;
  UsbTransfer& t = *out.transfer;
  const size_t n = static_cast<size_t>(t.length);
  ChargePackets(n);
  if (config_.keepLog) {
    std::string text = Hex(t.buffer, std::min<size_t>(n, 8));
    if (n > 8) text += " +" + std::to_string(n - 8);
    commands_.push_back(text);
  }
  Execute(t.buffer, n);
  End(out, UsbTransferStatus::kCompleted, t.length);
  outs_.pop_front();
  return true;
}

void Ch347Emulator::Execute(const uint8_t* command, size_t n) {
  const size_t length = n >= kHeader ? Le16(command + 1) : 0;
  if (n < kHeader || n != kHeader + length) {
    return Violation("a transfer of " + std::to_string(n) + " bytes that is not one command: " +
                     Hex(command, std::min<size_t>(n, kHeader)));
  }
  const uint8_t* payload = command + kHeader;
  const uint8_t code = command[0];
  const bool spi = code == kExchange || code == kRead || code == kWrite;
  if (spi && !configured_) return Violation("SPI command " + Hex(command, 1) + " before the settings (C0)");
  switch (code) {
    case kSettings:
      if (length != kSettingsLength) break;
      return Settings(payload);
    case kSelects:
      if (length != kSelectsLength) break;
      return Selects(payload);
    case kExchange: {
      if (length == 0 || length > kReplyData) break;
      std::vector<uint8_t> in(length);
      Shift(payload, in.data(), length);
      return Reply(kExchange, std::move(in));
    }
    case kRead:
      if (length != 4 || (payload[0] | payload[1] | payload[2] | payload[3]) == 0) break;
      readLeft_ = payload[0] | uint64_t{payload[1]} << 8 | uint64_t{payload[2]} << 16 | uint64_t{payload[3]} << 24;
      return;
    case kWrite:
      if (length == 0 || length > kMostWrite) break;
      Shift(payload, nullptr, length);
      return Reply(kWrite, {0x00});
    case kGpioCommand:
      if (length != kGpioLength) break;
      return Gpio(payload);
    default:
      return Violation("unknown command " + Hex(command, 1));
  }
  Violation("command " + Hex(command, 1) + " with a payload of " + std::to_string(length) + " bytes");
}

void Ch347Emulator::Settings(const uint8_t* p) {
  // Offsets as runtime/ch347_stream.cpp names them; compared as the device
  // would take them, field by field.
  const bool master = Le16(p + 2) == 0x0104;
  const bool fullDuplex = Le16(p + 0) == 0;
  const bool bytes8 = Le16(p + 4) == 0;
  const bool softwareSelect = Le16(p + 10) == 0x0200;
  const uint16_t divider = Le16(p + 12);
  const uint16_t order = Le16(p + 14);
  const bool activeLow = (p[21] & 0xC0) == 0;
  const bool known = master && fullDuplex && bytes8 && softwareSelect && divider % 8 == 0 && divider / 8 <= 7 &&
                     (Le16(p + 6) == 0 || Le16(p + 6) == 2) && Le16(p + 8) <= 1 && (order == 0 || order == 0x80) &&
                     activeLow;
  if (!known) {
    Violation("settings the emulator does not take: " + Hex(p, kSettingsLength));
    return Reply(kSettings, {0x01});
  }
  configured_ = true;
  mode_ = static_cast<uint8_t>((Le16(p + 6) == 2 ? 2 : 0) | Le16(p + 8));
  if (mode_ == 1 || mode_ == 2) Violation("SPI mode " + std::to_string(mode_) + ": the chips sample in mode 0 or 3");
  lsbFirst_ = order == 0x80;
  outDefault_ = p[20];
  clockHz_ = sim_->SetClock(kBaseHz >> (divider / 8));
  Reply(kSettings, {0x00});
}

void Ch347Emulator::Selects(const uint8_t* p) {
  for (size_t line = 0; line < 2; ++line) {
    const uint8_t* entry = p + 5 * line;
    if ((entry[0] & 0x3F) != 0 || (entry[1] | entry[2] | entry[3] | entry[4]) != 0) {
      Violation("chip-select delays or automatic release (not modelled): " + Hex(entry, 5));
    }
    if (entry[0] & 0x80) released_[line] = (entry[0] & 0x40) != 0;
  }
  ApplySelect();
}

void Ch347Emulator::Gpio(const uint8_t* p) {
  std::vector<uint8_t> states(kGpioLength);
  for (size_t pin = 0; pin < kGpioLength; ++pin) {
    const uint8_t bit = static_cast<uint8_t>(1u << pin);
    if ((p[pin] & 0xC0) == 0xC0) {
      gpioOutputs_ = static_cast<uint8_t>((p[pin] & 0x30) == 0x30 ? gpioOutputs_ | bit : gpioOutputs_ & ~bit);
      gpioLevels_ = static_cast<uint8_t>((p[pin] & 0x08) ? gpioLevels_ | bit : gpioLevels_ & ~bit);
    } else if (p[pin] != 0) {
      Violation("GPIO " + std::to_string(pin) + " byte " + Hex(p + pin, 1) + " is not modelled");
    }
    // An input floats at the board's pull-up.
    const bool high = (gpioOutputs_ & bit) ? (gpioLevels_ & bit) != 0 : true;
    states[pin] = static_cast<uint8_t>(((gpioOutputs_ & bit) ? 0x80 : 0) | (high ? 0x40 : 0));
  }
  if (config_.resetGpio) {
    const uint8_t bit = static_cast<uint8_t>(1u << *config_.resetGpio);
    // The board pulls the line to its inactive level when nothing drives it.
    const bool level = (gpioOutputs_ & bit) ? (gpioLevels_ & bit) != 0 : !config_.resetActiveHigh;
    const bool asserted = level == config_.resetActiveHigh;
    if (asserted != resetAsserted_) resetLog_.push_back(asserted ? "asserted" : "released");
    resetAsserted_ = asserted;
  }
  Reply(kGpioCommand, std::move(states));
}

void Ch347Emulator::Shift(const uint8_t* tx, uint8_t* rx, size_t n) {
  std::vector<uint8_t> out(tx, tx + n);
  std::vector<uint8_t> in(n);
  if (lsbFirst_) std::transform(out.begin(), out.end(), out.begin(), Reversed);
  sim_->Transfer(out.data(), in.data(), n);
  if (selected_) periods_.Add(out.data(), n);
  if (!rx) return;
  if (lsbFirst_) std::transform(in.begin(), in.end(), in.begin(), Reversed);
  std::copy(in.begin(), in.end(), rx);
}

void Ch347Emulator::ReadChunk() {
  const size_t n = static_cast<size_t>(std::min<uint64_t>(readLeft_, kReplyData));
  readLeft_ -= n;
  std::vector<uint8_t> fill(n, outDefault_);
  std::vector<uint8_t> in(n);
  Shift(fill.data(), in.data(), n);
  Reply(kRead, std::move(in));
}

void Ch347Emulator::Reply(uint8_t command, std::vector<uint8_t> payload) {
  ++repliesMade_;
  std::vector<uint8_t> reply{command, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
  reply.insert(reply.end(), payload.begin(), payload.end());
  if (repliesMade_ == config_.shortReply) reply.pop_back();
  if (repliesMade_ == config_.longReply) reply.push_back(0xFF);
  if (repliesMade_ == config_.strangeReply) reply[0] = kInfo;
  replies_.push_back(std::move(reply));
}

void Ch347Emulator::ApplySelect() {
  // A released line, or one the device no longer drives, is high.
  const bool selected = !gone_ && !released_[config_.chipSelect];
  if (selected == selected_) return;
  selected_ = selected;
  sim_->SetSelectLine(!selected);
  if (selected) {
    ++chipSelects_;
    if (resetAsserted_) ++selectsInReset_;
    periods_.Begin();
  } else {
    periods_.End();
  }
}

void Ch347Emulator::GiveReply(Pending& in) {
  UsbTransfer& t = *in.transfer;
  std::vector<uint8_t>& reply = replies_.front();
  ChargePackets(reply.size());
  const size_t n = std::min(reply.size(), static_cast<size_t>(t.length));
  std::copy_n(reply.begin(), n, t.buffer);
  End(in, reply.size() > n ? UsbTransferStatus::kOverflow : UsbTransferStatus::kCompleted, static_cast<int>(n));
  replies_.pop_front();
  ins_.pop_front();
}

void Ch347Emulator::End(Pending& pending, UsbTransferStatus status, int actual) {
  pending.transfer->status = status;
  pending.transfer->actualLength = actual;
  pending.transfer->active = false;
}

void Ch347Emulator::TimeOut(uint64_t nowNs) {
  for (std::deque<Pending>* queue : {&outs_, &ins_}) {
    for (auto it = queue->begin(); it != queue->end();) {
      if (it->deadlineNs > nowNs) {
        ++it;
        continue;
      }
      End(*it, UsbTransferStatus::kTimedOut, 0);
      it = queue->erase(it);
    }
  }
}

void Ch347Emulator::Unplug() {
  gone_ = true;
  ApplySelect();
  for (std::deque<Pending>* queue : {&outs_, &ins_}) {
    for (Pending& p : *queue) End(p, UsbTransferStatus::kNoDevice, 0);
    queue->clear();
  }
  replies_.clear();
  readLeft_ = 0;
}

void Ch347Emulator::Violation(const std::string& what) {
  violations_.push_back(what);
  std::fprintf(stderr, "CH347 emulator: %s\n", what.c_str());
}

std::vector<std::string> Ch347Emulator::SelectPeriods() const { return periods_.Periods(); }

void Ch347Emulator::ClearLog() {
  commands_.clear();
  periods_.Clear();
  violations_.clear();
  resetLog_.clear();
}

std::string Ch347Emulator::Summary() const {
  const SimStats stats = sim_->Stats();
  char head[192];
  std::snprintf(head, sizeof head, "modelled=%.6f s round-trips=%llu chip-selects=%llu selects-in-reset=%llu ops:",
                static_cast<double>(stats.timeNs) / 1e9, static_cast<unsigned long long>(roundTrips_),
                static_cast<unsigned long long>(chipSelects_), static_cast<unsigned long long>(selectsInReset_));
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
