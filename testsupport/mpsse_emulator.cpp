// SPDX-License-Identifier: MIT
// The MPSSE emulator.
#include "testsupport/mpsse_emulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

// The chips, from their datasheets, and their bcdDevice, the release number
// by which libftdi tells them apart (ftdi.c, ftdi_usb_open_dev: 0x500
// TYPE_2232C, 0x700 TYPE_2232H, 0x800 TYPE_4232H, 0x900 TYPE_232H).
// Buffers: FT232H datasheet (FT_000288) "1 kByte transmit and receive
// buffers"; FT2232H (FT_000061) 4 kB and FT4232H (FT_000060) 2 kB a
// channel; FT2232D (FT_000173 v2.05) "384 byte receive buffer, 128 byte
// transmit buffer" a channel, the receive buffer the one from the host.
// pyftdi's ftdi.py (FIFO_SIZES) lists the same. A full-speed packet (the
// FT2232D's) carries 64 bytes, a high-speed one 512, two of them the modem
// status that libftdi strips.
struct Type {
  const char* name;
  uint16_t pid;
  uint16_t bcdDevice;
  size_t toHost;
  size_t fromHost;
  size_t packetData;
  bool hOnlyCommands;  // 8A-8F, 96, 97
};
constexpr Type kTypes[] = {
    {"FT232H", 0x6014, 0x0900, 1024, 1024, 510, true},
    {"FT2232H", 0x6010, 0x0700, 4096, 4096, 510, true},
    {"FT4232H", 0x6011, 0x0800, 2048, 2048, 510, true},
    {"FT2232D", 0x6010, 0x0500, 128, 384, 62, false},
};

constexpr uint16_t kVid = 0x0403;
constexpr uint8_t kFirstAddress = 2;
// libftdi's default write timeout, the time a write the chip cannot take costs.
constexpr uint64_t kWriteTimeoutNs = 5'000'000'000ull;
constexpr uint8_t kBitModeMpsse = 0x02;

// Opcodes, as the command processor's application note lists them.
constexpr uint8_t kBytesOut = 0x11;   // out on the falling edge, MSB first
constexpr uint8_t kBytesIn = 0x20;    // in on the rising edge, MSB first
constexpr uint8_t kBytesOutIn = 0x31;
constexpr uint8_t kSetLow = 0x80;
constexpr uint8_t kSetHigh = 0x82;
constexpr uint8_t kLoopbackOn = 0x84;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kDivisor = 0x86;
constexpr uint8_t kSendImmediate = 0x87;
constexpr uint8_t kDivideBy5Off = 0x8A;
constexpr uint8_t kDivideBy5On = 0x8B;
constexpr uint8_t kThreePhaseOn = 0x8C;
constexpr uint8_t kThreePhaseOff = 0x8D;
constexpr uint8_t kIdleBits = 0x8E;
constexpr uint8_t kIdleBytes = 0x8F;
constexpr uint8_t kAdaptiveOn = 0x96;
constexpr uint8_t kAdaptiveOff = 0x97;
constexpr uint8_t kBadCommand = 0xFA;

// What the FT2232D does not know (AN_108, "FT232H, FT2232H & FT4232H only").
bool HOnly(uint8_t op) { return (op >= kDivideBy5Off && op <= kIdleBytes) || op == kAdaptiveOn || op == kAdaptiveOff; }

bool IsShift(uint8_t op) { return op == kBytesOut || op == kBytesIn || op == kBytesOutIn; }

// The engine answers an opcode it does not know with FA and the opcode.
bool IsAnswered(uint8_t op) {
  switch (op) {
    case kBytesOut: case kBytesIn: case kBytesOutIn: case kSetLow: case kSetHigh: case kLoopbackOn:
    case kLoopbackOff: case kDivisor: case kSendImmediate: case kDivideBy5Off: case kDivideBy5On:
    case kThreePhaseOn: case kThreePhaseOff: case kIdleBits: case kIdleBytes: case kAdaptiveOn: case kAdaptiveOff:
      return false;
    default:
      return true;
  }
}

constexpr uint8_t kSkPin = 0x01;
constexpr uint8_t kDoPin = 0x02;
constexpr uint8_t kDiPin = 0x04;

// Forwards to an emulator that someone else owns.
class Forwarder : public FtdiUsb {
 public:
  explicit Forwarder(FtdiUsb& target) : target_(target) {}
  bool Find(uint16_t vid, uint16_t pid, std::vector<FtdiUsbDevice>* found, std::string* error) override {
    return target_.Find(vid, pid, found, error);
  }
  bool Open(uint8_t bus, uint8_t address, int channel, FtdiOpenFailure* failure, std::string* error) override {
    return target_.Open(bus, address, channel, failure, error);
  }
  bool SetLatencyTimer(uint8_t ms, std::string* error) override { return target_.SetLatencyTimer(ms, error); }
  bool SetBitMode(uint8_t outputs, uint8_t mode, std::string* error) override {
    return target_.SetBitMode(outputs, mode, error);
  }
  bool Purge(std::string* error) override { return target_.Purge(error); }
  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    return target_.Write(data, size, error);
  }
  int Read(uint8_t* data, size_t size, std::string* error) override { return target_.Read(data, size, error); }
  void Close() override { target_.Close(); }
  uint64_t NowUs() override { return target_.NowUs(); }

 private:
  FtdiUsb& target_;
};

bool ApplyKey(const KeyItem& item, MpsseEmulatorConfig* config) {
  uint32_t number = 0;
  bool flag = false;
  if (item.key == "chip") return item.Path(&config->sim.chip);
  if (item.key == "image") return item.Path(&config->sim.image);
  if (item.key == "nochip") return item.Flag(&config->sim.noChip);
  if (item.key == "stuck") return item.Flag(&config->sim.stuck);
  if (item.key == "type") return item.Path(&config->type);
  if (item.key == "devices") return item.Unsigned(&config->devices);
  if (item.key == "noserial" && item.Flag(&flag)) {
    config->serials = false;
    return true;
  }
  if (item.key == "cs") return ParseFtdiPin(item.value, &config->cs);
  if (item.key == "reset") {
    // <pin>[:active-high][:open-drain]: the board's reset net.
    const std::vector<std::string> parts = SplitAt(item.value, ':');
    FtdiPin pin;
    if (parts.size() > 3 || !ParseFtdiPin(parts[0], &pin)) return false;
    config->reset = pin;
    for (size_t i = 1; i < parts.size(); ++i) {
      bool* flag = parts[i] == "active-high" ? &config->resetActiveHigh
                   : parts[i] == "open-drain" ? &config->resetOpenDrainNet
                                              : nullptr;
      if (!flag || *flag) return false;
      *flag = true;
    }
    return true;
  }
  if (item.key == "held") return item.Flag(&config->resetHeld);
  if (item.key == "rtt") return item.Unsigned(&config->roundTripUs);
  if (item.key == "deny") return item.Flag(&config->deny);
  if (item.key == "busy") return item.Flag(&config->busy);
  if (item.key == "unplug" || item.key == "short" || item.key == "garble") {
    const bool ok = item.Unsigned(&number) && number > 0;
    (item.key == "unplug" ? config->unplugAt : item.key == "short" ? config->shortAt : config->garbleAt) = number;
    return ok;
  }
  if (item.key == "stale") return item.Unsigned(&config->staleBytes);
  if (item.key == "report") return item.Path(&config->report);
  return false;
}

}  // namespace

MpsseEmulator::MpsseEmulator(const MpsseEmulatorConfig& config) : config_(config) {}

std::unique_ptr<MpsseEmulator> MpsseEmulator::Create(const MpsseEmulatorConfig& config, std::string* error) {
  const auto type = std::find_if(std::begin(kTypes), std::end(kTypes),
                                 [&](const Type& t) { return config.type == t.name; });
  if (type == std::end(kTypes)) {
    *error = "mpsse emulator: unknown type '" + config.type + "'";
    return nullptr;
  }
  std::unique_ptr<MpsseEmulator> emulator(new MpsseEmulator(config));
  SimConfig sim = config.sim;
  sim.latencyUs = 0;  // the emulator charges the USB's time itself
  emulator->sim_ = SimInterface::Create(sim, error);
  if (!emulator->sim_) return nullptr;
  emulator->pid_ = type->pid;
  emulator->bcdDevice_ = type->bcdDevice;
  emulator->toHost_ = type->toHost;
  emulator->fromHost_ = type->fromHost;
  emulator->packetData_ = type->packetData;
  emulator->hOnlyCommands_ = type->hOnlyCommands;
  emulator->ApplyLines();
  emulator->ApplyClock();
  return emulator;
}

std::unique_ptr<MpsseEmulator> MpsseEmulator::FromDescription(const std::string& text, std::string* error) {
  MpsseEmulatorConfig config;
  config.keepLog = false;
  if (!ReadDescription(text, "mpsse emulator", &config, ApplyKey, error)) return nullptr;
  return Create(config, error);
}

MpsseEmulator::~MpsseEmulator() = default;

std::unique_ptr<FtdiUsb> MpsseEmulator::Seam() { return std::make_unique<Forwarder>(*this); }

bool MpsseEmulator::Find(uint16_t vid, uint16_t pid, std::vector<FtdiUsbDevice>* found, std::string*) {
  if (gone_ || vid != kVid || pid != pid_) return true;
  for (uint32_t i = 0; i < config_.devices; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "RW%06u", i + 1);
    found->push_back({.vid = vid,
                      .pid = pid,
                      .bcdDevice = bcdDevice_,
                      .bus = 1,
                      .address = static_cast<uint8_t>(kFirstAddress + i),
                      .serial = config_.serials ? serial : ""});
  }
  return true;
}

bool MpsseEmulator::Open(uint8_t bus, uint8_t address, int, FtdiOpenFailure* failure, std::string* error) {
  *failure = FtdiOpenFailure::kOther;
  if (gone_ || bus != 1 || address < kFirstAddress || address >= kFirstAddress + config_.devices) {
    *error = "ftdi_usb_open_bus_addr failed (-3: device not found)";
    return false;
  }
  if (config_.deny) {
    *failure = FtdiOpenFailure::kPermission;
    *error = "ftdi_usb_open_bus_addr failed (-4: libusb_open() failed)";
    return false;
  }
  if (config_.busy) {
    *failure = FtdiOpenFailure::kBusy;
    *error = "ftdi_usb_open_bus_addr failed (-5: unable to claim usb device. Make sure the default FTDI driver is "
             "not in use)";
    return false;
  }
  open_ = true;
  openedAddress_ = address;
  return true;
}

bool MpsseEmulator::SetLatencyTimer(uint8_t ms, std::string*) {
  latencyMs_ = ms;
  return true;
}

bool MpsseEmulator::SetBitMode(uint8_t, uint8_t mode, std::string*) {
  mpsse_ = mode == kBitModeMpsse;
  in_.clear();
  shiftOp_ = 0;
  if (mpsse_ && config_.staleBytes > 0) {
    // Left from before the switch: they go to the host first, as they are.
    for (uint32_t i = 0; i < config_.staleBytes; ++i) out_.push_back(static_cast<uint8_t>(0x5A + i));
    flushed_ = out_.size();
  }
  if (!mpsse_) {
    // Out of MPSSE mode every pin is an input again.
    lowOutputs_ = highOutputs_ = 0;
    ApplyLines();
  }
  return true;
}

bool MpsseEmulator::Purge(std::string*) {
  in_.clear();
  shiftOp_ = 0;
  out_.clear();
  flushed_ = 0;
  return true;
}

bool MpsseEmulator::Gone(std::string* error, const char* failure) {
  ++transfers_;
  if (config_.unplugAt && transfers_ >= config_.unplugAt) gone_ = true;
  if (!gone_ && open_) return false;
  *error = failure;
  return true;
}

bool MpsseEmulator::Write(const uint8_t* data, size_t size, std::string* error) {
  if (Gone(error, "ftdi_write_data failed (-1: usb bulk write failed)")) return false;
  ++writes_;
  if (config_.keepLog) {
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
      char pair[4];
      std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", data[i]);
      hex += pair;
    }
    writeLog_.push_back(hex);
  }
  sim_->Wait(uint64_t{config_.roundTripUs} * 1000);
  if (writes_ == config_.garbleAt) {
    out_.push_back(0x00);
  }
  if (!mpsse_) return true;  // not commands: nothing listens
  in_.insert(in_.end(), data, data + size);
  Run();
  if (in_.size() > fromHost_) {
    Violation("a write of " + std::to_string(size) + " bytes the chip cannot take: " + std::to_string(out_.size()) +
              " reply bytes wait unread and " + std::to_string(in_.size()) + " command bytes behind them");
    in_.clear();
    shiftOp_ = 0;
    sim_->Wait(kWriteTimeoutNs);
    *error = "ftdi_write_data failed (-1: usb bulk write failed)";
    return false;
  }
  return true;
}

size_t MpsseEmulator::Deliverable() const {
  return flushed_ + (out_.size() - flushed_) / packetData_ * packetData_;
}

int MpsseEmulator::Read(uint8_t* data, size_t size, std::string* error) {
  if (Gone(error, "ftdi_read_data failed (-1: usb bulk read failed)")) return -1;
  ++reads_;
  size_t available = Deliverable();
  if (available == 0) {
    // Nothing sent at once: the chip sends what it holds, if anything, when
    // its latency timer runs out.
    sim_->Wait(uint64_t{latencyMs_} * 1'000'000);
    ++latencyWaits_;
    flushed_ = out_.size();
    available = out_.size();
    if (available == 0) return 0;
  }
  size_t n = std::min(size, available);
  std::memcpy(data, out_.data(), n);
  out_.erase(out_.begin(), out_.begin() + static_cast<ptrdiff_t>(n));
  flushed_ -= std::min(flushed_, n);
  if (reads_ == config_.shortAt) --n;
  Run();
  return static_cast<int>(n);
}

void MpsseEmulator::Close() {
  if (!open_) return;
  open_ = false;
  std::string error;
  if (!sim_->Save(&error)) std::fprintf(stderr, "mpsse emulator: %s\n", error.c_str());
  WriteReport();
}

size_t MpsseEmulator::CommandSize(size_t at) const {
  const size_t left = in_.size() - at;
  switch (in_[at]) {
    case kBytesOut:
    case kBytesOutIn:
    case kBytesIn:
    case kSetLow:
    case kSetHigh:
    case kDivisor:
    case kIdleBytes:
      return left >= 3 ? 3 : 0;
    case kIdleBits:
      return left >= 2 ? 2 : 0;
    default:
      return 1;
  }
}

void MpsseEmulator::Run() {
  size_t at = 0;
  for (;;) {
    if (shiftOp_ != 0) {
      const size_t took = ContinueShift(at);
      at += took;
      if (shiftOp_ != 0 && (took == 0 || at == in_.size())) break;
      continue;
    }
    if (at == in_.size()) break;
    // The FT2232D knows none of the H chips' commands, nor their lengths.
    const bool unknown = !hOnlyCommands_ && HOnly(in_[at]);
    const size_t size = unknown ? 1 : CommandSize(at);
    if (size == 0) break;
    // An unknown command's answer waits for room too.
    if ((unknown || IsAnswered(in_[at])) && out_.size() + 2 > toHost_) break;
    Execute(in_.data() + at);
    at += size;
  }
  in_.erase(in_.begin(), in_.begin() + static_cast<ptrdiff_t>(at));
}

size_t MpsseEmulator::ContinueShift(size_t at) {
  const bool sends = shiftOp_ != kBytesIn;
  const bool reads = shiftOp_ != kBytesOut;
  size_t n = shiftLeft_;
  if (sends) n = std::min(n, in_.size() - at);
  if (reads) n = std::min(n, toHost_ - std::min(toHost_, out_.size()));
  if (n == 0) return 0;
  Shift(sends ? in_.data() + at : nullptr, n, reads);
  shiftLeft_ -= n;
  if (shiftLeft_ == 0) shiftOp_ = 0;
  return sends ? n : 0;
}

void MpsseEmulator::Execute(const uint8_t* command) {
  const uint8_t op = command[0];
  // Only the commands of three bytes or more carry a length; a one-byte
  // command may be the last byte of the buffer.
  const auto length = [command] {
    return (static_cast<size_t>(command[1]) | static_cast<size_t>(command[2]) << 8) + 1;
  };
  if (!hOnlyCommands_ && HOnly(op)) {
    Reply(kBadCommand);
    Reply(op);
    return;
  }
  if (IsShift(op)) {
    // Its data, if any, follows: the engine shifts it as it comes.
    shiftOp_ = op;
    shiftLeft_ = length();
    return;
  }
  switch (op) {
    case kSetLow:
    case kSetHigh:
      SetPins(op == kSetHigh, command[1], command[2]);
      return;
    case kDivisor:
      divisor_ = static_cast<uint32_t>(length() - 1);
      ApplyClock();
      return;
    case kDivideBy5Off:
    case kDivideBy5On:
      divideBy5_ = op == kDivideBy5On;
      ApplyClock();
      return;
    case kThreePhaseOn:
    case kThreePhaseOff:
      threePhase_ = op == kThreePhaseOn;
      return;
    case kAdaptiveOn:
    case kAdaptiveOff:
      adaptive_ = op == kAdaptiveOn;
      return;
    case kLoopbackOn:
    case kLoopbackOff:
      loopback_ = op == kLoopbackOn;
      return;
    case kSendImmediate:
      flushed_ = out_.size();
      return;
    case kIdleBits:
      sim_->Wait((uint64_t{command[1]} + 1) * 1'000'000'000ull / sim_->GetClock());
      return;
    case kIdleBytes: {
      // The clock runs; a selected chip would take the data line's level as data.
      const uint8_t level = dataOutLevel_ ? 0xFF : 0x00;
      sim_->TransferFill(level, nullptr, length());
      return;
    }
    default:
      Reply(kBadCommand);
      Reply(op);
  }
}

void MpsseEmulator::ApplyClock() {
  clockHz_ = (divideBy5_ ? 6'000'000u : 30'000'000u) / (divisor_ + 1);
  sim_->SetClock(clockHz_);
}

void MpsseEmulator::Reply(uint8_t byte) { out_.push_back(byte); }

void MpsseEmulator::Shift(const uint8_t* tx, size_t n, bool read) {
  std::vector<uint8_t> in(n, 0xFF);
  const bool wired = (lowOutputs_ & (kSkPin | kDoPin)) == (kSkPin | kDoPin) && !(lowOutputs_ & kDiPin);
  if (wired && (low_ & kSkPin) && !skHighSeen_) {
    // Said once: every later shift would say it again.
    skHighSeen_ = true;
    Violation("data shifted with SK idling high: SPI mode 3, which the engine does not keep (AN_114: modes 0 "
              "and 2 only)");
  }
  if (!wired) {
    Violation("data shifted with SK or DO not an output, or DI driven: no chip hears it");
    sim_->Wait(n * 8'000'000'000ull / sim_->GetClock());
  } else if (adaptive_) {
    Violation("data shifted with adaptive clocking on: the engine waits for a clock nothing returns");
  } else if (loopback_) {
    if (tx) std::copy(tx, tx + n, in.begin());
    sim_->Wait(n * 8'000'000'000ull / sim_->GetClock());
  } else if (tx) {
    sim_->Transfer(tx, in.data(), n);
  } else {
    // The data line keeps the level of the last bit out.
    sim_->TransferFill(dataOutLevel_ ? 0xFF : 0x00, in.data(), n);
  }
  // Three-phase clocking holds each bit for a third of a cycle more.
  if (threePhase_) sim_->Wait(n * 4'000'000'000ull / sim_->GetClock());
  if (tx && n > 0) dataOutLevel_ = tx[n - 1] & 1;
  if (read) out_.insert(out_.end(), in.begin(), in.end());
}

void MpsseEmulator::SetPins(bool highByte, uint8_t levels, uint8_t outputs) {
  (highByte ? high_ : low_) = levels;
  (highByte ? highOutputs_ : lowOutputs_) = outputs;
  ApplyLines();
}

bool MpsseEmulator::PinLevel(const FtdiPin& pin, bool pulled) const {
  const uint8_t levels = pin.highByte ? high_ : low_;
  const uint8_t outputs = pin.highByte ? highOutputs_ : lowOutputs_;
  if (!(outputs & (1u << pin.bit))) return pulled;
  return (levels >> pin.bit) & 1;
}

bool MpsseEmulator::ResetNetLevel() {
  const FtdiPin& pin = *config_.reset;
  // A push-pull net: the board pulls it to its inactive level.
  if (!config_.resetOpenDrainNet) return PinLevel(pin, !config_.resetActiveHigh);
  // Open drain: low while anything pulls it low, else the pull-up's high.
  const bool driven = ((pin.highByte ? highOutputs_ : lowOutputs_) >> pin.bit) & 1;
  const bool level = ((pin.highByte ? high_ : low_) >> pin.bit) & 1;
  const bool fight = driven && level && config_.resetHeld;
  if (fight && !resetFight_) {
    Violation("the reset pin drives high an open-drain reset net that another device holds low: a short");
  }
  resetFight_ = fight;
  return !(config_.resetHeld || (driven && !level));
}

void MpsseEmulator::ApplyLines() {
  const bool reset = config_.reset && ResetNetLevel() == config_.resetActiveHigh;
  if (reset != resetAsserted_) {
    resetAsserted_ = reset;
    if (config_.keepLog) resetLog_.push_back(reset ? "asserted" : "released");
  }
  const bool selected = !PinLevel(config_.cs, true);
  if (selected == selected_) return;
  selected_ = selected;
  sim_->SetSelectLine(!selected);
  if (selected) {
    ++(resetAsserted_ ? selectsInReset_ : selectsOutOfReset_);
    ignoredBefore_ = sim_->Stats().Ops(SimOp::kIgnored);
  } else if (sim_->Stats().Ops(SimOp::kIgnored) != ignoredBefore_) {
    Violation("chip select rose inside a transaction: the chip did not take its command");
  }
}

void MpsseEmulator::Violation(const std::string& what) {
  violations_.push_back(what);
  std::fprintf(stderr, "mpsse emulator: %s\n", what.c_str());
}

void MpsseEmulator::WriteReport() const {
  if (config_.report.empty()) return;
  std::FILE* file = std::fopen(config_.report.c_str(), "w");
  if (!file) return;
  const SimStats stats = sim_->Stats();
  std::fprintf(file,
               "mpsse emulator: usb-writes=%llu usb-reads=%llu latency-waits=%llu selects=%llu selects-in-reset=%llu "
               "violations=%zu modelled=%.6f ops:",
               static_cast<unsigned long long>(writes_), static_cast<unsigned long long>(reads_),
               static_cast<unsigned long long>(latencyWaits_), static_cast<unsigned long long>(stats.selects),
               static_cast<unsigned long long>(selectsInReset_), violations_.size(),
               static_cast<double>(stats.timeNs) / 1e9);
  for (size_t i = 0; i < kSimOpCount; ++i) {
    std::fprintf(file, "%s %s=%llu", i ? "," : "", SimOpName(static_cast<SimOp>(i)),
                 static_cast<unsigned long long>(stats.ops[i]));
  }
  std::fputc('\n', file);
  std::fclose(file);
}

}  // namespace testsupport
