// SPDX-License-Identifier: MIT
// A Linux spidev node as a backend.
#include "runtime/spidev_backend.h"

#include <linux/spi/spi.h>
#include <linux/spi/spidev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/runtime_api.h"

namespace {

// What the driver offers when its buffer size cannot be read: its default.
constexpr uint32_t kDefaultBufferSize = 4096;
// SPI_IOC_MESSAGE(N) carries N transfers in the request's size field,
// _IOC_SIZEBITS wide: 14 bits give 511 transfers, 13 (MIPS, PowerPC, SPARC)
// 255 (<asm/ioctl.h>).
constexpr size_t kMaxTransfers = ((1u << _IOC_SIZEBITS) - 1) / sizeof(spi_ioc_transfer);
// spidev places each transfer in its buffers at an offset aligned to
// ARCH_DMA_MINALIGN (ARCH_KMALLOC_MINALIGN before Linux 6.5) and counts the
// aligned lengths against the buffer size (drivers/spi/spidev.c,
// spidev_message). User space cannot read that alignment: 8 on x86 and on
// riscv64 without non-coherent DMA, 64 on 32-bit ARM, 128 on arm64, and a
// 32-bit program may run on a 64-bit kernel. Lengths count as the largest
// of the architectures that carry SPI controllers, 128.
constexpr uint32_t kLargestAlignment = 128;
constexpr uint8_t kBitsPerWord = 8;
// What a half-duplex controller gives for the bytes clocked in while the
// command goes out: nothing is received, and the flash's output floats.
constexpr uint8_t kNoReply = 0xFF;

unsigned long MessageRequest(size_t transfers) {
  return _IOC(_IOC_WRITE, SPI_IOC_MAGIC, 0, transfers * sizeof(spi_ioc_transfer));
}

uint64_t Aligned(uint64_t length, uint64_t alignment) { return (length + alignment - 1) / alignment * alignment; }

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

// "SPI_IOC_MESSAGE(2) [4 tx] [4096 rx]", runs of transfers of one shape
// folded ("[128 rx] x32").
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

bool HasBothBuffers(const std::vector<spi_ioc_transfer>& transfers) {
  return std::any_of(transfers.begin(), transfers.end(),
                     [](const spi_ioc_transfer& t) { return t.tx_buf && t.rx_buf; });
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
  if (fd_ >= 0) (void)Close();
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
  if (system_->Ioctl(fd_, SPI_IOC_RD_MODE32, &nodeMode_, &err) < 0) {
    const bool foreign = err == ENOTTY || err == EINVAL;
    *error = node_ + (foreign ? " is not a spidev device (SPI_IOC_RD_MODE32: " : ": SPI_IOC_RD_MODE32 failed (") +
             std::strerror(err) + ")";
    return false;
  }
  mode_ = nodeMode_;
  if (system_->Ioctl(fd_, SPI_IOC_RD_MAX_SPEED_HZ, &clockHz_, &err) < 0) {
    *error = node_ + ": SPI_IOC_RD_MAX_SPEED_HZ failed (" + std::strerror(err) + ")";
    return false;
  }
  ioctls_ += 2;
  const std::optional<uint32_t> size = system_->BufferSize();
  bufferSize_ = size.value_or(kDefaultBufferSize);
  alignment_ = std::min(kLargestAlignment, bufferSize_);
  if (trace_.IsOpen()) {
    trace_.Detail("opened " + node_ + ": mode " + std::to_string(nodeMode_) + ", " + std::to_string(clockHz_) +
                  " Hz, buffer size " + std::to_string(bufferSize_) +
                  (size ? "" : " (the driver's default: its bufsiz parameter cannot be read)"));
  }
  if (request.reset) {
    const GpioOutput output{.activeLow = !request.reset->activeHigh, .openDrain = request.reset->openDrain};
    if (!resetLine_->Request(request.reset->chip, request.reset->line, output, error)) {
      *error = "reset=" + resetName_ + ": " + *error;
      return false;
    }
    if (trace_.IsOpen()) {
      trace_.Detail("GPIO " + resetName_ + " taken" + (output.openDrain ? " as open drain" : "") +
                    ", configuration reset released");
    }
  }
  return true;
}

bool SpidevBackend::EnablePort(int32_t port) {
  if (port == 0) return true;
  return Fail(node_ + " is one bus and one chip select: it has no port " + std::to_string(port) +
              " (choose another node, /dev/spidev<bus>.<chip select>)");
}

bool SpidevBackend::DisablePort() {
  DropWindow();
  window_ = Window::kClosed;
  return true;
}

bool SpidevBackend::IoctlFailed(const char* name, int err) {
  return Fail(node_ + ": " + name + " failed (" + std::strerror(err) + ")");
}

bool SpidevBackend::Setting(unsigned long request, const char* name, void* value, uint32_t shown) {
  if (window_ != Window::kClosed) {
    return Fail(node_ + ": " + name + " inside a select window: the kernel would release chip select");
  }
  int err = 0;
  const int result = system_->Ioctl(fd_, request, value, &err);
  ++ioctls_;
  if (trace_.IsOpen()) trace_.Detail(std::string(name) + " " + std::to_string(shown) + " = " + Result(result, err));
  if (result < 0) return IoctlFailed(name, err);
  return true;
}

bool SpidevBackend::SetMode(uint32_t mode, bool lsbFirst) {
  if ((mode != 0 && mode != 3) || lsbFirst) {
    return Fail(node_ + ": SPI mode " + std::to_string(mode) + (lsbFirst ? " least significant bit first" : "") +
                " asked for; flash chips take modes 0 and 3, most significant bit first");
  }
  // Written as a byte, the mode would lose the node's bits above it.
  uint32_t value = (nodeMode_ & ~uint32_t{SPI_MODE_X_MASK}) | mode;
  if (!Setting(SPI_IOC_WR_MODE32, "SPI_IOC_WR_MODE32", &value, value)) return false;
  mode_ = value;
  return true;
}

bool SpidevBackend::RestoreMode() {
  if (mode_ == nodeMode_) return true;
  uint32_t value = nodeMode_;
  if (!Setting(SPI_IOC_WR_MODE32, "SPI_IOC_WR_MODE32", &value, value)) return false;
  mode_ = value;
  return true;
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
  if (window_ != Window::kClosed) return;
  window_ = Window::kOpen;
  ++windows_;
}

void SpidevBackend::DropWindow() {
  segments_.clear();
  txBytes_.clear();
}

bool SpidevBackend::EndWindow() {
  const bool sent = window_ != Window::kOpen || segments_.empty() || Send();
  DropWindow();
  window_ = Window::kClosed;
  return sent;
}

bool SpidevBackend::Select(bool asserted) {
  if (!asserted) return EndWindow();
  OpenWindow();
  return true;
}

bool SpidevBackend::Transfer(const BusTransfer& t) {
  if (!t.selectedDuring) return IdleGap(t);
  OpenWindow();
  const bool ok = Queue(t) && (!t.rx || Send());
  // A transfer that releases chip select closes its window, failed or not.
  if (!t.selectedAfter) return EndWindow() && ok;
  return ok;
}

bool SpidevBackend::IdleGap(const BusTransfer& t) {
  if (window_ != Window::kClosed || t.selectedAfter || t.rx) {
    return Fail(node_ + ": no transfer without chip select inside a select window or with a reply");
  }
  // The kernel asserts chip select for every message, so the bytes are not
  // clocked: the time they would take passes instead, nothing selected.
  const uint64_t ns = clockHz_ ? t.count * 8 * 1'000'000'000ull / clockHz_ : 0;
  system_->Idle(ns);
  idleNs_ += ns;
  if (trace_.IsOpen()) trace_.Detail("idle " + std::to_string(ns / 1000) + " us");
  return true;
}

bool SpidevBackend::Queue(const BusTransfer& t) {
  if (window_ == Window::kSent) {
    return Refuse(node_ + ": a transfer after the reply in one select window: spidev ends the window with the "
                          "reply's message, and chip select would rise between them");
  }
  if (window_ == Window::kRefused) return Fail(node_ + ": the rest of a refused select window is dropped too");
  // Fill bytes whose answer nobody reads need a transmit buffer: a transfer
  // without either buffer clocks nothing.
  const bool tx = t.tx || !t.rx;
  segments_.push_back({.txAt = txBytes_.size(), .tx = tx, .rx = t.rx, .length = t.count});
  if (t.tx) {
    txBytes_.insert(txBytes_.end(), t.tx, t.tx + t.count);
  } else if (tx) {
    txBytes_.insert(txBytes_.end(), t.count, t.fill);
  }
  return Fits() || Refuse(TooLong());
}

bool SpidevBackend::Refuse(std::string reason) {
  DropWindow();
  window_ = Window::kRefused;
  return Fail(std::move(reason));
}

size_t SpidevBackend::CommandLength(const Segment& s) const {
  const uint8_t* bytes = txBytes_.data() + s.txAt;
  size_t length = s.length;
  while (length > 0 && bytes[length - 1] == 0) --length;
  return length;
}

template <typename AddPart>
void SpidevBackend::ForEachPart(AddPart add) const {
  for (const Segment& s : segments_) {
    const uint8_t* tx = s.tx ? txBytes_.data() + s.txAt : nullptr;
    if (halfDuplex_ && tx && s.rx) {
      const size_t command = CommandLength(s);
      add(tx, nullptr, command);
      add(nullptr, s.rx + command, s.length - command);
    } else {
      add(tx, s.rx, s.length);
    }
  }
}

std::vector<spi_ioc_transfer> SpidevBackend::Build() const {
  std::vector<spi_ioc_transfer> transfers;
  const size_t cap = xferCap_ ? xferCap_ : SIZE_MAX;
  ForEachPart([&](const uint8_t* tx, uint8_t* rx, size_t length) {
    for (size_t done = 0; done < length;) {
      spi_ioc_transfer t{};
      t.len = static_cast<uint32_t>(std::min(length - done, cap));
      t.tx_buf = tx ? reinterpret_cast<uintptr_t>(tx + done) : 0;
      t.rx_buf = rx ? reinterpret_cast<uintptr_t>(rx + done) : 0;
      t.bits_per_word = kBitsPerWord;
      transfers.push_back(t);
      done += t.len;
    }
  });
  return transfers;
}

bool SpidevBackend::Fits() const {
  // Reckoned without building the transfers: a window refused may be far
  // longer than any message.
  uint64_t transfers = 0, txUsed = 0, rxUsed = 0;
  ForEachPart([&](const uint8_t* tx, uint8_t* rx, size_t length) {
    const uint64_t cap = xferCap_ ? xferCap_ : std::max<uint64_t>(length, 1);
    const uint64_t whole = length / cap, rest = length % cap;
    const uint64_t used = whole * Aligned(cap, alignment_) + Aligned(rest, alignment_);
    transfers += whole + (rest ? 1 : 0);
    if (tx) txUsed += used;
    if (rx) rxUsed += used;
  });
  return transfers <= kMaxTransfers && txUsed <= bufferSize_ && rxUsed <= bufferSize_;
}

std::string SpidevBackend::TooLong() const {
  size_t bytes = 0;
  for (const Segment& s : segments_) bytes += s.length;
  std::string limits = "buffer size " + std::to_string(bufferSize_) + " each way, transfers rounded up to " +
                       std::to_string(alignment_) + " bytes, " + std::to_string(kMaxTransfers) + " transfers";
  if (xferCap_) limits += ", xfer=" + std::to_string(xferCap_);
  return node_ + ": a select window reaching " + std::to_string(bytes) + " bytes does not fit one spidev message (" +
         limits + "); a read command's reply of up to " + std::to_string(WindowLimit()) + " bytes always goes";
}

uint32_t SpidevBackend::WindowLimit() const {
  // A read command is a put of up to RT_READ_COMMAND_MAX bytes and a get of
  // its reply: the put takes the transmit buffer, the get (zeros clocked)
  // the receive buffer, each piece its length rounded up to the alignment.
  const uint64_t cap = xferCap_ ? xferCap_ : RT_READ_COMMAND_MAX;
  const uint64_t commandTransfers = (RT_READ_COMMAND_MAX + cap - 1) / cap;
  const uint64_t commandBytes = RT_READ_COMMAND_MAX / cap * Aligned(cap, alignment_) +
                                Aligned(RT_READ_COMMAND_MAX % cap, alignment_);
  if (commandBytes > bufferSize_ || commandTransfers >= kMaxTransfers) return 1;
  const uint64_t transfers = kMaxTransfers - commandTransfers;
  const auto alignedDown = [this](uint64_t bytes) { return bytes / alignment_ * alignment_; };
  if (xferCap_ == 0) return static_cast<uint32_t>(std::max<uint64_t>(1, alignedDown(bufferSize_)));
  // `xfer=` cuts the reply into transfers of that length, the last shorter.
  const uint64_t piece = Aligned(xferCap_, alignment_);
  const uint64_t whole = std::min<uint64_t>(bufferSize_ / piece, transfers);
  uint64_t reply = whole * xferCap_;
  if (whole < transfers) reply += std::min<uint64_t>(xferCap_ - 1, alignedDown(bufferSize_ - whole * piece));
  return static_cast<uint32_t>(std::max<uint64_t>(1, reply));
}

bool SpidevBackend::Send() {
  std::vector<spi_ioc_transfer> transfers = Build();
  int err = 0;
  // A window of no bytes clocks nothing: no message.
  int result = transfers.empty() ? 0 : Message(transfers, &err);
  // spi.c refuses a transfer with both buffers on a half-duplex link.
  if (result < 0 && err == EINVAL && !halfDuplex_ && HasBothBuffers(transfers)) {
    halfDuplex_ = true;
    if (trace_.IsOpen()) {
      trace_.Detail("the controller refuses a transfer with both buffers: half duplex, the command and its "
                    "answer go as two transfers from now on");
    }
    if (!Fits()) return Refuse(TooLong());
    transfers = Build();
    result = Message(transfers, &err);
  }
  if (result < 0) {
    return Refuse(node_ + ": SPI_IOC_MESSAGE(" + std::to_string(transfers.size()) + ") failed (" +
                  std::strerror(err) + ")");
  }
  for (const Segment& s : segments_) {
    bytes_ += s.length;
    if (halfDuplex_ && s.tx && s.rx) std::fill_n(s.rx, CommandLength(s), kNoReply);
  }
  DropWindow();
  window_ = Window::kSent;
  return true;
}

int SpidevBackend::Message(std::vector<spi_ioc_transfer>& transfers, int* err) {
  const int result = system_->Ioctl(fd_, MessageRequest(transfers.size()), transfers.data(), err);
  ++ioctls_;
  ++messages_;
  if (trace_.IsOpen()) trace_.Detail(DescribeMessage(transfers) + " = " + Result(result, *err));
  return result;
}

bool SpidevBackend::ConfigReset(bool asserted) {
  std::string error;
  if (!resetLine_->Set(asserted, &error)) return Fail("reset=" + resetName_ + ": " + error);
  if (trace_.IsOpen()) trace_.Detail("GPIO " + resetName_ + (asserted ? " active" : " inactive"));
  return true;
}

bool SpidevBackend::Close() {
  // A window that was never released is dropped: its command is incomplete.
  DropWindow();
  window_ = Window::kClosed;
  const bool restored = RestoreMode();
  if (fd_ >= 0) system_->Close(fd_);
  fd_ = -1;
  return restored;
}

std::string SpidevBackend::Summary() const {
  return "ioctls=" + std::to_string(ioctls_) + " messages=" + std::to_string(messages_) +
         " bytes=" + std::to_string(bytes_) + " selects=" + std::to_string(windows_) +
         (idleNs_ ? " idle=" + std::to_string(idleNs_ / 1000) + "us" : "");
}
