// SPDX-License-Identifier: MIT
// A Linux spidev node as a backend.
#include "runtime/spidev_backend.h"

#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// What the driver offers when its buffer size cannot be read: its default.
constexpr uint32_t kDefaultBufferSize = 4096;
// The size field of SPI_IOC_MESSAGE has 14 bits: 511 transfers of 32 bytes.
constexpr size_t kMaxTransfers = ((1u << _IOC_SIZEBITS) - 1) / sizeof(spi_ioc_transfer);
// The driver places each transfer in its buffers at an offset aligned to the
// kernel's smallest allocation alignment and counts the aligned lengths
// against the buffer size. User space cannot read that alignment (8 on x86,
// 64 on 32-bit ARM, 128 on 64-bit ARM), so lengths count as the largest.
constexpr uint32_t kLargestAlignment = 128;
constexpr uint8_t kBitsPerWord = 8;

unsigned long MessageRequest(size_t transfers) {
  return _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, transfers * sizeof(spi_ioc_transfer));
}

size_t Aligned(size_t length, size_t alignment) { return (length + alignment - 1) / alignment * alignment; }

std::string Describe(const spi_ioc_transfer& t) {
  std::string s = "[";
  s += std::to_string(t.len);
  if (t.tx_buf) s += " tx";
  if (t.rx_buf) s += " rx";
  if (t.cs_change) s += " cs_change";
  return s + "]";
}

bool SameShape(const spi_ioc_transfer& a, const spi_ioc_transfer& b) {
  return a.len == b.len && !a.tx_buf == !b.tx_buf && !a.rx_buf == !b.rx_buf && a.cs_change == b.cs_change;
}

// "SPI_IOC_MESSAGE(3) [0 cs_change] [4 tx] [4096 rx cs_change]", runs of
// transfers of one shape folded ("[128 rx] x32").
std::string DescribeMessage(const std::vector<spi_ioc_transfer>& transfers) {
  std::string s = "SPI_IOC_MESSAGE(" + std::to_string(transfers.size()) + ")";
  for (size_t i = 0; i < transfers.size();) {
    size_t run = 1;
    while (i + run < transfers.size() && SameShape(transfers[i], transfers[i + run])) ++run;
    s += ' ';
    s += Describe(transfers[i]);
    if (run > 1) s += " x" + std::to_string(run);
    i += run;
  }
  return s;
}

std::string Result(int result, int err) {
  return result < 0 ? "-1 (" + std::string(std::strerror(err)) + ")" : std::to_string(result);
}

}  // namespace

std::unique_ptr<SpidevBackend> SpidevBackend::Open(const SpidevDeviceRequest& request,
                                                   std::unique_ptr<SpidevSystem> system,
                                                   std::unique_ptr<GpioLine> resetLine, TraceWriter& trace,
                                                   std::string* error) {
  std::unique_ptr<SpidevBackend> backend(
      new SpidevBackend(request, std::move(system), std::move(resetLine), trace));
  if (!backend->OpenNode(request, error)) return nullptr;
  return backend;
}

SpidevBackend::SpidevBackend(const SpidevDeviceRequest& request, std::unique_ptr<SpidevSystem> system,
                             std::unique_ptr<GpioLine> resetLine, TraceWriter& trace)
    : system_(std::move(system)),
      resetLine_(std::move(resetLine)),
      trace_(trace),
      node_(request.node),
      resetName_(request.reset ? request.reset->chip + ":" + std::to_string(request.reset->line) : ""),
      speedCap_(request.speedCap),
      xferCap_(request.xferCap) {}

SpidevBackend::~SpidevBackend() {
  if (fd_ >= 0) system_->Close(fd_);
}

std::string SpidevBackend::OpenFailure(int err) {
  if (err == ENOENT) return "no such device node " + node_ + " (spidev is not bound to that bus and chip select)";
  if (err != EACCES && err != EPERM) return "cannot open " + node_ + ": " + std::strerror(err);
  const std::string group = system_->GroupOf(node_);
  if (group.empty() || group == "root") {
    return "permission denied on " + node_ + ": give your user read and write access to it, or run as root";
  }
  return "permission denied on " + node_ + ": it belongs to group '" + group +
         "'; add your user to that group (usermod -aG " + group + " <user>) and log in again";
}

bool SpidevBackend::OpenNode(const SpidevDeviceRequest& request, std::string* error) {
  int err = 0;
  fd_ = system_->Open(node_, &err);
  if (fd_ < 0) {
    *error = OpenFailure(err);
    return false;
  }
  // A spidev node answers its own ioctls; anything else refuses them.
  uint8_t mode = 0;
  if (system_->Ioctl(fd_, SPI_IOC_RD_MODE, &mode, &err) < 0) {
    const bool foreign = err == ENOTTY || err == EINVAL;
    *error = node_ + (foreign ? " is not a spidev device (SPI_IOC_RD_MODE: " : ": SPI_IOC_RD_MODE failed (") +
             std::strerror(err) + ")";
    return false;
  }
  if (system_->Ioctl(fd_, SPI_IOC_RD_MAX_SPEED_HZ, &clockHz_, &err) < 0) {
    *error = node_ + ": SPI_IOC_RD_MAX_SPEED_HZ failed (" + std::strerror(err) + ")";
    return false;
  }
  ioctls_ += 2;
  const std::optional<uint32_t> size = system_->BufferSize();
  bufferSize_ = size.value_or(kDefaultBufferSize);
  alignment_ = std::min(kLargestAlignment, bufferSize_);
  if (trace_.IsOpen()) {
    trace_.Detail("opened " + node_ + ": mode " + std::to_string(mode) + ", " + std::to_string(clockHz_) +
                  " Hz, buffer size " + std::to_string(bufferSize_) +
                  (size ? "" : " (the driver's default: its bufsiz parameter cannot be read)"));
  }
  if (request.reset) {
    if (!resetLine_->Request(request.reset->chip, request.reset->line, !request.reset->activeHigh, error)) {
      *error = "reset=" + resetName_ + ": " + *error;
      return false;
    }
    if (trace_.IsOpen()) trace_.Detail("GPIO " + resetName_ + " taken, configuration reset released");
  }
  return true;
}

bool SpidevBackend::EnablePort(int32_t port) {
  if (port == 0) return true;
  return Fail(node_ + " is one bus and one chip select: it has no port " + std::to_string(port) +
              " (choose another node, /dev/spidev<bus>.<chip select>)");
}

bool SpidevBackend::DisablePort() {
  windowOpen_ = false;
  queue_.clear();
  return RaiseSelect();
}

bool SpidevBackend::IoctlFailed(const char* name, int err) {
  return Fail(node_ + ": " + name + " failed (" + std::strerror(err) + ")");
}

bool SpidevBackend::Setting(unsigned long request, const char* name, void* value, uint32_t shown) {
  if (windowOpen_) {
    return Fail(node_ + ": " + name + " inside a select window: the kernel would release chip select");
  }
  int err = 0;
  const int result = system_->Ioctl(fd_, request, value, &err);
  ++ioctls_;
  if (trace_.IsOpen()) trace_.Detail(std::string(name) + " " + std::to_string(shown) + " = " + Result(result, err));
  if (result < 0) return IoctlFailed(name, err);
  // The kernel applies every setting through spi_setup, which leaves the
  // device deselected.
  csHeld_ = false;
  raiseFirst_ = false;
  return true;
}

bool SpidevBackend::SetMode(uint32_t mode, bool lsbFirst) {
  if ((mode != 0 && mode != 3) || lsbFirst) {
    return Fail(node_ + ": SPI mode " + std::to_string(mode) + (lsbFirst ? " least significant bit first" : "") +
                " asked for; flash chips take modes 0 and 3, most significant bit first");
  }
  uint8_t value = static_cast<uint8_t>(mode);
  return Setting(SPI_IOC_WR_MODE, "SPI_IOC_WR_MODE", &value, value);
}

bool SpidevBackend::SetClock(uint32_t hz, uint32_t* granted) {
  // No clock asked for (the first generation sets its mode with the clock
  // it holds, 0 before the first one): the node keeps its own.
  if (hz == 0) {
    *granted = clockHz_;
    return true;
  }
  uint32_t asked = speedCap_ ? std::min(hz, speedCap_) : hz;
  if (!Setting(SPI_IOC_WR_MAX_SPEED_HZ, "SPI_IOC_WR_MAX_SPEED_HZ", &asked, asked)) return false;
  // The kernel cannot tell what the controller made of it.
  clockHz_ = asked;
  *granted = asked;
  return true;
}

void SpidevBackend::OpenWindow() {
  if (windowOpen_) return;
  windowOpen_ = true;
  ++windows_;
}

bool SpidevBackend::EndWindow() {
  windowOpen_ = false;
  if (!queue_.empty()) return Send(false);
  // Everything has gone and chip select is held: the next message or a
  // second release raises it (class comment).
  if (csHeld_) raiseFirst_ = true;
  return true;
}

bool SpidevBackend::Select(bool asserted) {
  if (asserted) {
    OpenWindow();
    return true;
  }
  return windowOpen_ ? EndWindow() : RaiseSelect();
}

bool SpidevBackend::Transfer(const BusTransfer& t) {
  if (!t.selectedDuring) return IdleGap(t);
  OpenWindow();
  if (!Queue(t)) return false;
  if (!t.selectedAfter) return EndWindow();
  return t.rx ? Send(true) : true;
}

bool SpidevBackend::IdleGap(const BusTransfer& t) {
  if (windowOpen_ || t.selectedAfter || t.rx) {
    return Fail(node_ + ": no transfer without chip select inside a select window or with a reply");
  }
  // The kernel asserts chip select for every message, so the bytes are not
  // clocked: the time they would take passes instead. Nothing is selected
  // meanwhile (a chip select a window left held clocks nothing).
  const uint64_t ns = clockHz_ ? t.count * 8 * 1'000'000'000ull / clockHz_ : 0;
  system_->Idle(ns);
  idleNs_ += ns;
  if (trace_.IsOpen()) trace_.Detail("idle " + std::to_string(ns / 1000) + " us");
  return true;
}

size_t SpidevBackend::Room(bool tx, bool rx) const {
  const size_t slots = kMaxTransfers - (raiseFirst_ ? 1 : 0);
  if (queue_.size() >= slots) return 0;
  size_t room = xferCap_ ? xferCap_ : SIZE_MAX;
  if (tx) room = std::min(room, (bufferSize_ - txUsed_) / alignment_ * alignment_);
  if (rx) room = std::min(room, (bufferSize_ - rxUsed_) / alignment_ * alignment_);
  return room;
}

bool SpidevBackend::Queue(const BusTransfer& t) {
  // Fill bytes whose answer nobody reads need a transmit buffer: a transfer
  // without either buffer clocks nothing.
  const bool tx = t.tx || !t.rx;
  for (size_t done = 0; done < t.count;) {
    const size_t room = Room(tx, t.rx != nullptr);
    if (room == 0) {
      if (!Send(true)) return false;
      continue;
    }
    const size_t length = std::min(t.count - done, room);
    const Piece piece{.txAt = txBytes_.size(),
                      .tx = tx,
                      .rx = t.rx ? t.rx + done : nullptr,
                      .length = static_cast<uint32_t>(length)};
    if (t.tx) {
      txBytes_.insert(txBytes_.end(), t.tx + done, t.tx + done + length);
    } else if (tx) {
      txBytes_.insert(txBytes_.end(), length, t.fill);
    }
    if (tx) txUsed_ += Aligned(length, alignment_);
    if (t.rx) rxUsed_ += Aligned(length, alignment_);
    queue_.push_back(piece);
    done += length;
  }
  return true;
}

bool SpidevBackend::Send(bool hold) {
  if (queue_.empty()) return true;
  std::vector<spi_ioc_transfer> transfers;
  transfers.reserve(queue_.size() + 1);
  if (raiseFirst_) {
    spi_ioc_transfer raise{};
    raise.cs_change = 1;
    transfers.push_back(raise);
  }
  for (const Piece& piece : queue_) {
    spi_ioc_transfer t{};
    t.tx_buf = piece.tx ? reinterpret_cast<uintptr_t>(txBytes_.data() + piece.txAt) : 0;
    t.rx_buf = reinterpret_cast<uintptr_t>(piece.rx);
    t.len = piece.length;
    t.bits_per_word = kBitsPerWord;
    transfers.push_back(t);
    bytes_ += piece.length;
  }
  transfers.back().cs_change = hold ? 1 : 0;
  queue_.clear();
  txUsed_ = 0;
  rxUsed_ = 0;
  const bool sent = Message(transfers);
  txBytes_.clear();
  if (sent) raiseFirst_ = false;
  // After a failure chip select may be held or not; counting it held only
  // costs an empty transfer.
  csHeld_ = hold || !sent;
  return sent;
}

bool SpidevBackend::RaiseSelect() {
  if (!csHeld_) return true;
  std::vector<spi_ioc_transfer> end(1);
  if (!Message(end)) return false;
  csHeld_ = false;
  raiseFirst_ = false;
  return true;
}

bool SpidevBackend::Message(std::vector<spi_ioc_transfer>& transfers) {
  int err = 0;
  const int result = system_->Ioctl(fd_, MessageRequest(transfers.size()), transfers.data(), &err);
  ++ioctls_;
  ++messages_;
  if (trace_.IsOpen()) trace_.Detail(DescribeMessage(transfers) + " = " + Result(result, err));
  if (result < 0) return IoctlFailed(("SPI_IOC_MESSAGE(" + std::to_string(transfers.size()) + ")").c_str(), err);
  return true;
}

bool SpidevBackend::ConfigReset(bool asserted) {
  std::string error;
  if (!resetLine_->Set(asserted, &error)) return Fail("reset=" + resetName_ + ": " + error);
  if (trace_.IsOpen()) trace_.Detail("GPIO " + resetName_ + (asserted ? " active" : " inactive"));
  return true;
}

bool SpidevBackend::Close() {
  // A window that was never released is dropped: its command is incomplete.
  windowOpen_ = false;
  queue_.clear();
  const bool raised = RaiseSelect();
  if (fd_ >= 0) system_->Close(fd_);
  fd_ = -1;
  return raised;
}

std::string SpidevBackend::Summary() const {
  return "ioctls=" + std::to_string(ioctls_) + " messages=" + std::to_string(messages_) +
         " bytes=" + std::to_string(bytes_) + " selects=" + std::to_string(windows_) +
         (idleNs_ ? " idle=" + std::to_string(idleNs_ / 1000) + "us" : "");
}
