// SPDX-License-Identifier: MIT
// A serprog device as a backend.
#include "runtime/serprog_backend.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/runtime_api.h"
#include "runtime/serprog_commands.h"

namespace {

// What the chip's output reads while a command goes out: it does not drive
// it, and the line floats high.
constexpr uint8_t kNoReply = 0xFF;

void PutLittle(std::vector<uint8_t>* bytes, uint32_t value, size_t length) {
  for (size_t i = 0; i < length; ++i) bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetLittle(const uint8_t* bytes, size_t length) {
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i) value |= uint32_t{bytes[i]} << (8 * i);
  return value;
}

// A put that needs its reply goes out up to its last non-zero byte: the
// zeros after it are what the device clocks out while it reads anyway.
size_t CommandLength(const uint8_t* tx, size_t count) {
  while (count > 0 && tx[count - 1] == 0) --count;
  return count;
}

// A maximum length as a device gives it: 0 stands for 2^24, and no more than
// a length field holds can be asked for.
uint32_t MaxLength(uint32_t answer) {
  return answer == 0 ? serprog::kLengthFieldMax : std::min(answer, serprog::kLengthFieldMax);
}

std::string Hex8(uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[(value >> 4) & 15] + kDigits[value & 15];
}

}  // namespace

std::unique_ptr<SerprogBackend> SerprogBackend::Open(const SerprogDeviceRequest& request,
                                                     std::unique_ptr<SerialSystem> system, TraceWriter& trace,
                                                     std::string* error) {
  std::unique_ptr<SerprogBackend> backend(new SerprogBackend(request, std::move(system), trace));
  if (!backend->Connect(request, error) || !backend->Identify(error)) return nullptr;
  return backend;
}

SerprogBackend::SerprogBackend(const SerprogDeviceRequest& request, std::unique_ptr<SerialSystem> system,
                               TraceWriter& trace)
    : system_(std::move(system)),
      trace_(trace),
      name_(request.host.empty() ? request.port : request.host + ":" + request.tcpPort),
      tcp_(!request.host.empty()) {}

SerprogBackend::~SerprogBackend() {
  if (fd_ >= 0) (void)Close();
}

std::string SerprogBackend::OpenFailure(int err) const {
  if (err == ENOENT) return "no such serial port " + name_;
  if (err != EACCES && err != EPERM) return "cannot open " + name_ + ": " + std::strerror(err);
  const std::string group = system_->GroupOf(name_);
  if (group.empty() || group == "root") {
    return "permission denied on " + name_ + ": give your user read and write access to it, or run as root";
  }
  return "permission denied on " + name_ + ": it belongs to group '" + group +
         "'; add your user to that group (usermod -aG " + group + " <user>) and log in again";
}

bool SerprogBackend::Connect(const SerprogDeviceRequest& request, std::string* error) {
  std::string gone;
  if (tcp_) {
    fd_ = system_->Connect(request.host, request.tcpPort, kTimeoutMs, error);
    if (fd_ < 0) return false;
    gone = "the connection closed";
    if (trace_.IsOpen()) trace_.Detail("connected to " + name_);
  } else {
    int err = 0;
    fd_ = system_->OpenPort(name_, &err);
    if (fd_ < 0) {
      *error = OpenFailure(err);
      return false;
    }
    if (!system_->ConfigurePort(fd_, request.baud, &err)) {
      if (err == ENOTTY) {
        *error = name_ + " is not a serial port (" + std::strerror(err) + ")";
      } else if (err == EINVAL && request.baud != 0) {
        *error = name_ + ": baud=" + std::to_string(request.baud) + " is not a rate the port takes";
      } else {
        *error = name_ + ": cannot set the port to raw 8N1 without flow control (" + std::strerror(err) + ")";
      }
      return false;
    }
    gone = "the port closed (unplugged, or the device reset)";
    if (trace_.IsOpen()) {
      trace_.Detail("opened " + name_ + ": raw, 8N1, no flow control, " +
                    (request.baud ? std::to_string(request.baud) + " baud" : "its rate as it was"));
    }
  }
  link_ = std::make_unique<SerprogLink>(*system_, fd_, name_, gone, trace_, kTimeoutMs);
  if (link_->Synchronise()) return true;
  *error = link_->Reason();
  return false;
}

bool SerprogBackend::QueryNumber(uint8_t opcode, size_t length, uint32_t* value) {
  uint8_t answer[4] = {};
  if (!link_->Ask({opcode}, length, answer)) return false;
  *value = GetLittle(answer, length);
  return true;
}

bool SerprogBackend::Identify(std::string* error) {
  auto failed = [&] {
    *error = link_->Reason();
    return false;
  };
  // Only NOP, S_CMD_SYNCNOP and S_CMD_Q_IFACE may be sent unasked; the
  // command map says which others the device takes.
  uint32_t version = 0;
  if (!QueryNumber(serprog::kQueryIface, 2, &version)) return failed();
  if (version != serprog::kIfaceVersion) {
    *error = name_ + " speaks serprog interface version " + std::to_string(version) + "; romwick speaks version 1";
    return false;
  }
  if (!link_->Ask({serprog::kQueryCmdMap}, map_.size(), map_.data())) return failed();
  if (!Offers(serprog::kSpiOp)) {
    *error = name_ + " cannot carry SPI commands: S_CMD_O_SPIOP is not in its command map";
    return false;
  }
  uint32_t buses = serprog::kBusSpi;
  if (Offers(serprog::kQueryBusType) && !QueryNumber(serprog::kQueryBusType, 1, &buses)) return failed();
  if ((buses & serprog::kBusSpi) == 0) {
    *error = name_ + " drives no SPI bus (S_CMD_Q_BUSTYPE: " + Hex8(buses) + ")";
    return false;
  }
  if (Offers(serprog::kSetBusType) && !link_->Ask({serprog::kSetBusType, serprog::kBusSpi})) return failed();
  // The protocol notes: without S_CMD_Q_RDNMAXLEN, assume 2^24; nothing is
  // said of S_CMD_Q_WRNMAXLEN, whose answer means the same.
  uint32_t answer = 0;
  if (Offers(serprog::kQueryWrNMax) && !QueryNumber(serprog::kQueryWrNMax, 3, &answer)) return failed();
  maxOut_ = MaxLength(answer);
  answer = 0;
  if (Offers(serprog::kQueryRdNMax) && !QueryNumber(serprog::kQueryRdNMax, 3, &answer)) return failed();
  maxIn_ = MaxLength(answer);
  uint32_t buffer = 0;
  if (Offers(serprog::kQuerySerBuf) && !QueryNumber(serprog::kQuerySerBuf, 2, &buffer)) return failed();
  if (buffer) link_->SetBufferSize(buffer);
  if (Offers(serprog::kQueryName)) {
    uint8_t text[serprog::kNameBytes] = {};
    if (!link_->Ask({serprog::kQueryName}, sizeof text, text)) return failed();
    for (uint8_t c : text) {
      if (c == 0) break;
      deviceName_ += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
  }
  if (Offers(serprog::kSetPinState)) {
    if (!link_->Ask({serprog::kSetPinState, 1})) return failed();
    driversOn_ = true;
  }
  if (trace_.IsOpen()) {
    std::string commands;
    for (unsigned op = 0; op < 256; ++op) {
      if (Offers(static_cast<uint8_t>(op))) commands += (commands.empty() ? "" : " ") + Hex8(op).substr(2);
    }
    trace_.Detail("serprog interface 1" + (deviceName_.empty() ? "" : ", '" + deviceName_ + "'") + ": commands " +
                  commands + "; bus types " + Hex8(buses) + "; S_CMD_O_SPIOP at most " + std::to_string(maxOut_) +
                  " bytes out, " + std::to_string(maxIn_) + " back" +
                  (buffer ? "; input buffer " + std::to_string(buffer) + " bytes" : "") +
                  (driversOn_ ? "; output drivers on" : ""));
  }
  return true;
}

bool SerprogBackend::LinkFailed() { return Fail(link_->Reason()); }

bool SerprogBackend::EnablePort(int32_t port) {
  if (link_->Broken()) return Fail("");
  if (!Offers(serprog::kSetSpiCs)) {
    if (port == 0) return true;
    return Fail(name_ + " has one chip select (it offers no S_CMD_S_SPI_CS): it has no port " +
                std::to_string(port));
  }
  if (port < 0 || port > 255 || !link_->Ask({serprog::kSetSpiCs, static_cast<uint8_t>(port)})) {
    if (link_->Broken()) return LinkFailed();
    return Fail(name_ + " has no chip select " + std::to_string(port) + " (S_CMD_S_SPI_CS refused it)");
  }
  return true;
}

bool SerprogBackend::DisablePort() {
  put_.clear();
  window_ = Window::kClosed;
  return link_->Settle() || LinkFailed();
}

bool SerprogBackend::SetMode(uint32_t mode, bool lsbFirst) {
  if (mode == 0 && !lsbFirst) return true;
  // The protocol has no command for the clock's phase and polarity.
  return Fail(name_ + ": SPI mode " + std::to_string(mode) + (lsbFirst ? " least significant bit first" : "") +
              " asked for; serprog devices shift in mode 0, most significant bit first (flash chips take modes "
              "0 and 3)");
}

bool SerprogBackend::SetClock(uint32_t hz, uint32_t* granted) {
  // No clock asked for (the first generation sets its mode with the clock
  // it holds, 0 before the first one): the device keeps its own.
  if (hz == 0) {
    *granted = clockHz_;
    return true;
  }
  if (window_ != Window::kClosed) return Fail(name_ + ": a clock setting inside a select window");
  if (!Offers(serprog::kSetSpiFreq)) {
    clockHz_ = hz;
    *granted = hz;
    if (trace_.IsOpen()) {
      trace_.Detail("the device offers no S_CMD_S_SPI_FREQ: it keeps its own clock, reported as the one asked for");
    }
    return true;
  }
  std::vector<uint8_t> command{serprog::kSetSpiFreq};
  PutLittle(&command, hz, 4);
  uint8_t answer[4] = {};
  if (!link_->Ask(command, sizeof answer, answer)) return LinkFailed();
  clockHz_ = GetLittle(answer, sizeof answer);
  *granted = clockHz_;
  if (trace_.IsOpen()) {
    trace_.Detail("S_CMD_S_SPI_FREQ " + std::to_string(hz) + " Hz: the device set " + std::to_string(clockHz_) +
                  " Hz");
  }
  if (clockHz_ == 0) return Fail(name_ + ": S_CMD_S_SPI_FREQ answered a clock of 0 Hz");
  return true;
}

void SerprogBackend::OpenWindow() {
  if (window_ != Window::kClosed) return;
  window_ = Window::kOpen;
  ++windows_;
}

bool SerprogBackend::EndWindow() {
  const bool ok = window_ != Window::kOpen || put_.empty() || SpiOp(0, nullptr);
  put_.clear();
  window_ = Window::kClosed;
  return ok;
}

bool SerprogBackend::Refuse(std::string reason) {
  put_.clear();
  window_ = Window::kRefused;
  return Fail(std::move(reason));
}

bool SerprogBackend::Select(bool asserted) {
  if (!asserted) return EndWindow();
  OpenWindow();
  return true;
}

bool SerprogBackend::Transfer(const BusTransfer& t) {
  if (link_->Broken()) return Fail("");
  if (!t.selectedDuring) return IdleGap(t);
  OpenWindow();
  const bool ok = Take(t);
  // A transfer that releases chip select closes its window, failed or not.
  if (!t.selectedAfter) return EndWindow() && ok;
  return ok;
}

bool SerprogBackend::IdleGap(const BusTransfer& t) {
  if (window_ != Window::kClosed || t.selectedAfter || t.rx) {
    return Fail(name_ + ": no transfer without chip select inside a select window or with a reply");
  }
  // No serprog command clocks with chip select released: what is queued
  // goes, so that the chip works meanwhile, and the time the bytes would
  // take passes.
  if (!link_->Push()) return LinkFailed();
  const uint64_t ns = BusNs(t.count);
  system_->Idle(ns);
  idleNs_ += ns;
  if (trace_.IsOpen()) trace_.Detail("idle " + std::to_string(ns / 1000) + " us");
  return true;
}

bool SerprogBackend::Take(const BusTransfer& t) {
  if (window_ == Window::kSent) {
    return Refuse(name_ + ": a transfer after the reply in one select window: S_CMD_O_SPIOP reads its reply last, "
                          "and chip select rises with it");
  }
  if (window_ == Window::kRefused) return Fail(name_ + ": the rest of a refused select window is dropped too");
  if (!t.rx) {
    if (t.tx) {
      put_.insert(put_.end(), t.tx, t.tx + t.count);
    } else {
      put_.insert(put_.end(), t.count, t.fill);
    }
    return Fits(put_.size(), 0) || Refuse(TooLong(put_.size(), 0));
  }
  const size_t command = t.tx ? CommandLength(t.tx, t.count) : 0;
  put_.insert(put_.end(), t.tx, t.tx + command);
  const size_t in = t.count - command;
  if (!Fits(put_.size(), in)) return Refuse(TooLong(put_.size(), in));
  if (!SpiOp(in, t.rx + command)) {
    window_ = Window::kRefused;
    return false;
  }
  std::fill_n(t.rx, command, kNoReply);
  window_ = Window::kSent;
  return true;
}

bool SerprogBackend::Fits(size_t out, size_t in) const { return out <= maxOut_ && in <= maxIn_; }

std::string SerprogBackend::TooLong(size_t out, size_t in) const {
  return name_ + ": a select window of " + std::to_string(out) + " bytes out and " + std::to_string(in) +
         " back does not fit one S_CMD_O_SPIOP (the device takes " + std::to_string(maxOut_) + " out and " +
         std::to_string(maxIn_) + " back); a read command's reply of up to " + std::to_string(WindowLimit()) +
         " bytes always goes";
}

uint32_t SerprogBackend::WindowLimit() const { return maxOut_ >= RT_READ_COMMAND_MAX ? maxIn_ : 1; }

uint64_t SerprogBackend::BusNs(uint64_t bytes) const {
  return clockHz_ ? bytes * 8 * 1'000'000'000ull / clockHz_ : 0;
}

bool SerprogBackend::SpiOp(size_t in, uint8_t* rx) {
  std::vector<uint8_t> command{serprog::kSpiOp};
  PutLittle(&command, static_cast<uint32_t>(put_.size()), 3);
  PutLittle(&command, static_cast<uint32_t>(in), 3);
  command.insert(command.end(), put_.begin(), put_.end());
  const uint64_t busy = BusNs(put_.size() + in);
  put_.clear();
  ++spiOps_;
  const bool ok =
      rx ? link_->Ask(std::move(command), in, rx, busy) : link_->Queue(std::move(command), 0, nullptr, busy);
  return ok || LinkFailed();
}

bool SerprogBackend::Close() {
  if (fd_ < 0) return true;
  // A window that was never released is dropped: its command is incomplete.
  put_.clear();
  window_ = Window::kClosed;
  // After a broken stream nothing more is said: the reason was given.
  bool ok = link_ && !link_->Broken();
  if (ok) {
    ok = link_->Settle();
    // The output drivers off: the board's own processor may use the chip.
    if (driversOn_ && !link_->Broken()) ok = link_->Ask({serprog::kSetPinState, 0}) && ok;
    if (!ok) Fail(link_->Reason());
  }
  system_->Close(fd_);
  fd_ = -1;
  return ok;
}

std::string SerprogBackend::Summary() const {
  return "writes=" + std::to_string(link_->Writes()) + " commands=" + std::to_string(link_->Commands()) +
         " spi-ops=" + std::to_string(spiOps_) + " bytes-out=" + std::to_string(link_->BytesOut()) +
         " bytes-in=" + std::to_string(link_->BytesIn()) + " selects=" + std::to_string(windows_) +
         (idleNs_ ? " idle=" + std::to_string(idleNs_ / 1000) + "us" : "");
}
