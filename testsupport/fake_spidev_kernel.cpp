// SPDX-License-Identifier: MIT
// The fake spidev kernel.
#include "testsupport/fake_spidev_kernel.h"

#include <linux/spi/spi.h>
#include <linux/spi/spidev.h>

#include <climits>
#include <cstdio>

#include "runtime/device_name.h"
#include "testsupport/fake_description.h"

namespace testsupport {

namespace {

constexpr int kFd = 3;
// The mode bits spidev lets user space read and write (drivers/spi/spidev.c).
constexpr uint32_t kSpidevModeMask = SPI_MODE_X_MASK | SPI_CS_HIGH | SPI_LSB_FIRST | SPI_3WIRE | SPI_LOOP |
                                     SPI_NO_CS | SPI_READY | SPI_TX_DUAL | SPI_TX_QUAD | SPI_TX_OCTAL |
                                     SPI_RX_DUAL | SPI_RX_QUAD | SPI_RX_OCTAL | SPI_RX_CPHA_FLIP | SPI_3WIRE_HIZ;
// What the fake controller cannot do: shift least significant bit first,
// loop back, wait for a ready line.
constexpr uint32_t kControllerLacks = SPI_LSB_FIRST | SPI_LOOP | SPI_READY;

std::string Shape(const spi_ioc_transfer& t) {
  std::string s = t.len == 0 ? "" : std::string(t.tx_buf ? "tx" : "") + (t.rx_buf ? "rx" : "");
  return s + std::to_string(t.len) + (t.cs_change ? "+cs" : "");
}

std::string Render(const spi_ioc_transfer* transfers, size_t count) {
  std::string s;
  for (size_t i = 0; i < count;) {
    const std::string shape = Shape(transfers[i]);
    size_t run = 1;
    while (i + run < count && Shape(transfers[i + run]) == shape) ++run;
    if (!s.empty()) s += ' ';
    s += shape;
    if (run > 1) {
      s += '*';
      s += std::to_string(run);
    }
    i += run;
  }
  return s;
}

// Forwards to a fake that someone else owns.
class Forwarder : public SpidevSystem {
 public:
  explicit Forwarder(SpidevSystem& target) : target_(target) {}
  int Open(const std::string& path, int* err) override { return target_.Open(path, err); }
  int Ioctl(int fd, unsigned long request, void* arg, int* err) override {
    return target_.Ioctl(fd, request, arg, err);
  }
  void Close(int fd) override { target_.Close(fd); }
  std::optional<uint32_t> BufferSize() override { return target_.BufferSize(); }
  std::string GroupOf(const std::string& path) override { return target_.GroupOf(path); }
  void Idle(uint64_t ns) override { target_.Idle(ns); }
  std::vector<std::string> Nodes() override { return target_.Nodes(); }

 private:
  SpidevSystem& target_;
};

// Applies one key of a description; false when it is unknown or bad.
bool ApplyKey(const KeyItem& item, FakeSpidevConfig* config) {
  uint32_t number = 0;
  if (item.key == "chip") return item.Path(&config->sim.chip);
  if (item.key == "image") return item.Path(&config->sim.image);
  if (item.key == "latency") return item.Unsigned(&config->sim.latencyUs);
  if (item.key == "node") return item.Path(&config->node);
  if (item.key == "bufsiz") {
    const bool ok = item.Unsigned(&number) && number > 0;
    config->bufferSize = number;
    return ok;
  }
  if (item.key == "align") return item.Unsigned(&config->alignment) && config->alignment > 0;
  if (item.key == "mode") return item.Unsigned(&config->mode) && (config->mode & ~kSpidevModeMask) == 0;
  if (item.key == "report") return item.Path(&config->report);
  if (item.key == "deny") {
    config->openError = EACCES;
    return item.Path(&config->group);
  }
  if (item.key == "fail") {
    const std::vector<std::string> parts = SplitAt(item.value, ':');
    uint32_t errnoValue = 0;
    const bool ok = parts.size() == 2 && ParseUnsigned(parts[0], &number) && ParseUnsigned(parts[1], &errnoValue);
    config->failIoctl = number;
    config->failErrno = static_cast<int>(errnoValue);
    return ok;
  }
  bool flag = false;
  if (item.key == "nobufsiz" && item.Flag(&flag)) {
    config->bufferSize.reset();
    return true;
  }
  if (item.key == "notspidev") return item.Flag(&config->notSpidev);
  if (item.key == "halfduplex") return item.Flag(&config->halfDuplex);
  if (item.key == "skipempty") return item.Flag(&config->skipsBufferless);
  if (item.key == "nonode" && item.Flag(&flag)) {
    config->node.clear();
    return true;
  }
  return false;
}

}  // namespace

FakeSpidevKernel::FakeSpidevKernel(const FakeSpidevConfig& config) : config_(config) {}

std::unique_ptr<FakeSpidevKernel> FakeSpidevKernel::Create(const FakeSpidevConfig& config, std::string* error) {
  std::unique_ptr<FakeSpidevKernel> kernel(new FakeSpidevKernel(config));
  kernel->sim_ = SimInterface::Create(config.sim, error);
  if (!kernel->sim_) return nullptr;
  kernel->sim_->SetClock(kernel->speedHz_);
  return kernel;
}

std::unique_ptr<FakeSpidevKernel> FakeSpidevKernel::FromDescription(const std::string& text, std::string* error) {
  FakeSpidevConfig config;
  config.keepLog = false;
  if (!ReadDescription(text, "fake spidev kernel", &config, ApplyKey, error)) return nullptr;
  return Create(config, error);
}

FakeSpidevKernel::~FakeSpidevKernel() = default;

std::unique_ptr<SpidevSystem> FakeSpidevKernel::Seam() { return std::make_unique<Forwarder>(*this); }

int FakeSpidevKernel::Open(const std::string& path, int* err) {
  *err = config_.node.empty() || path != config_.node ? ENOENT : config_.openError;
  if (*err != 0) return -1;
  open_ = true;
  return kFd;
}

void FakeSpidevKernel::Close(int fd) {
  if (fd != kFd || !open_) return;
  open_ = false;
  std::string error;
  if (!sim_->Save(&error)) std::fprintf(stderr, "fake spidev kernel: %s\n", error.c_str());
  WriteReport();
}

std::vector<std::string> FakeSpidevKernel::Nodes() {
  if (config_.node.empty()) return {};
  return {config_.node};
}

std::string FakeSpidevKernel::GroupOf(const std::string& path) { return path == config_.node ? config_.group : ""; }

void FakeSpidevKernel::Idle(uint64_t ns) {
  idleNs_ += ns;
  sim_->Wait(ns);
}

int FakeSpidevKernel::Ioctl(int fd, unsigned long request, void* arg, int* err) {
  if (fd != kFd || !open_) {
    *err = EBADF;
    return -1;
  }
  ++ioctls_;
  (void)sim_->BeginCall();  // the modelled time of the system call
  *err = 0;
  if (ioctls_ == config_.failIoctl) {
    *err = config_.failErrno;
  } else if (config_.notSpidev || _IOC_TYPE(request) != SPI_IOC_MAGIC) {
    *err = ENOTTY;
  } else if (_IOC_NR(request) == _IOC_NR(SPI_IOC_MESSAGE(0)) && _IOC_DIR(request) == _IOC_WRITE) {
    return Message(static_cast<const spi_ioc_transfer*>(arg), _IOC_SIZE(request), err);
  } else {
    return Setting(request, arg, err);
  }
  return -1;
}

int FakeSpidevKernel::Setting(unsigned long request, void* arg, int* err) {
  switch (request) {
    case SPI_IOC_RD_MODE:
      *static_cast<uint8_t*>(arg) = static_cast<uint8_t>(mode_ & kSpidevModeMask);
      return 0;
    case SPI_IOC_RD_MODE32:
      *static_cast<uint32_t*>(arg) = mode_ & kSpidevModeMask;
      return 0;
    case SPI_IOC_RD_BITS_PER_WORD:
      *static_cast<uint8_t*>(arg) = bitsPerWord_;
      return 0;
    case SPI_IOC_RD_MAX_SPEED_HZ:
      *static_cast<uint32_t*>(arg) = speedHz_;
      return 0;
    case SPI_IOC_WR_MODE:
      if ((*err = WriteMode(*static_cast<const uint8_t*>(arg))) != 0) return -1;
      return 0;
    case SPI_IOC_WR_MODE32:
      if ((*err = WriteMode(*static_cast<const uint32_t*>(arg))) != 0) return -1;
      return 0;
    case SPI_IOC_RD_LSB_FIRST:
      *static_cast<uint8_t*>(arg) = (mode_ & SPI_LSB_FIRST) ? 1 : 0;
      return 0;
    case SPI_IOC_WR_LSB_FIRST:  // the controller shifts most significant bit first only
    case SPI_IOC_WR_BITS_PER_WORD:
      if (*static_cast<const uint8_t*>(arg) != (request == SPI_IOC_WR_BITS_PER_WORD ? 8 : 0)) break;
      SetSelect(false);
      return 0;
    case SPI_IOC_WR_MAX_SPEED_HZ: {
      const uint32_t hz = *static_cast<const uint32_t*>(arg);
      if (hz == 0) break;
      speedHz_ = hz;
      sim_->SetClock(hz);
      SetSelect(false);
      return 0;
    }
    default:
      *err = ENOTTY;
      return -1;
  }
  *err = EINVAL;
  return -1;
}

int FakeSpidevKernel::WriteMode(uint32_t mode) {
  // spidev keeps only the kernel's own bits above SPI_MODE_MASK, none here:
  // what it is given is the mode, and a byte has no dual or quad bits.
  if ((mode & ~kSpidevModeMask) != 0 || (mode & kControllerLacks) != 0) return EINVAL;
  mode_ = mode;
  SetSelect(false);  // spi_setup leaves the device deselected
  return 0;
}

bool FakeSpidevKernel::RefusesBothBuffers() const { return config_.halfDuplex || (mode_ & SPI_3WIRE) != 0; }

int FakeSpidevKernel::Validate(const spi_ioc_transfer* transfers, size_t count) const {
  const uint32_t bufferSize = config_.bufferSize.value_or(4096);
  uint64_t total = 0, txTotal = 0, rxTotal = 0;
  for (size_t i = 0; i < count; ++i) {
    const spi_ioc_transfer& t = transfers[i];
    const uint64_t aligned = (uint64_t{t.len} + config_.alignment - 1) / config_.alignment * config_.alignment;
    total += t.len;
    if (total > INT_MAX) return EMSGSIZE;
    if (t.rx_buf && (rxTotal += aligned) > bufferSize) return EMSGSIZE;
    if (t.tx_buf && (txTotal += aligned) > bufferSize) return EMSGSIZE;
  }
  for (size_t i = 0; i < count; ++i) {
    if ((transfers[i].bits_per_word ? transfers[i].bits_per_word : bitsPerWord_) != 8) return EINVAL;
    if (RefusesBothBuffers() && transfers[i].tx_buf && transfers[i].rx_buf) return EINVAL;
  }
  return 0;
}

int FakeSpidevKernel::Message(const spi_ioc_transfer* transfers, size_t size, int* err) {
  if (size % sizeof(spi_ioc_transfer) != 0) {
    *err = EINVAL;
    return -1;
  }
  const size_t count = size / sizeof(spi_ioc_transfer);
  if (count == 0) return 0;
  if ((*err = Validate(transfers, count)) != 0) return -1;
  ++messageCount_;
  if (config_.keepLog) messages_.push_back(Render(transfers, count));
  violated_ = false;
  int total = 0;
  bool keepSelected = false;
  SetSelect(true);
  for (size_t i = 0; i < count; ++i) {
    const spi_ioc_transfer& t = transfers[i];
    const bool buffered = t.tx_buf || t.rx_buf;
    if (buffered) {
      Clock(reinterpret_cast<const uint8_t*>(t.tx_buf), reinterpret_cast<uint8_t*>(t.rx_buf), t.len);
    } else if (t.len > 0) {
      Violation("a transfer of " + std::to_string(t.len) + " bytes without buffers clocks nothing");
    }
    total += static_cast<int>(t.len);
    if (!t.cs_change || (!buffered && config_.skipsBufferless)) continue;
    if (i + 1 == count) {
      keepSelected = true;
    } else {
      SetSelect(false);
      SetSelect(true);
    }
  }
  if (keepSelected) {
    Violation("chip select stays asserted after the ioctl: the kernel takes no bus lock between ioctls");
  } else {
    SetSelect(false);
  }
  if (violated_) {
    *err = EIO;
    return -1;
  }
  return total;
}

void FakeSpidevKernel::SetSelect(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  sim_->SetSelectLine(!selected);
  if (selected) {
    periods_.Begin();
    ignoredBefore_ = sim_->Stats().Ops(SimOp::kIgnored);
    return;
  }
  const std::string text = periods_.End();
  if (sim_->Stats().Ops(SimOp::kIgnored) != ignoredBefore_) {
    Violation("chip select rose inside a transaction: the chip did not take the command of '" + text + "'");
  }
}

void FakeSpidevKernel::Clock(const uint8_t* tx, uint8_t* rx, size_t n) {
  if (tx) {
    sim_->Transfer(tx, rx, n);
  } else {
    // Without transmit data the controller shifts zeros out.
    sim_->TransferFill(0x00, rx, n);
  }
  periods_.Add(tx, n);
}

void FakeSpidevKernel::Violation(const std::string& what) {
  violations_.push_back(what);
  violated_ = true;
  std::fprintf(stderr, "fake spidev kernel: %s\n", what.c_str());
}

std::vector<std::string> FakeSpidevKernel::SelectPeriods() const { return periods_.Periods(); }

void FakeSpidevKernel::ClearLog() {
  messages_.clear();
  periods_.Clear();
  violations_.clear();
}

void FakeSpidevKernel::WriteReport() const {
  if (config_.report.empty()) return;
  std::FILE* file = std::fopen(config_.report.c_str(), "w");
  if (!file) return;
  const SimStats stats = sim_->Stats();
  std::fprintf(file, "fake spidev kernel: ioctls=%llu messages=%llu selects=%llu mode=%u ops:",
               static_cast<unsigned long long>(ioctls_), static_cast<unsigned long long>(messageCount_),
               static_cast<unsigned long long>(stats.selects), static_cast<unsigned>(mode_));
  for (size_t i = 0; i < kSimOpCount; ++i) {
    std::fprintf(file, "%s %s=%llu", i ? "," : "", SimOpName(static_cast<SimOp>(i)),
                 static_cast<unsigned long long>(stats.ops[i]));
  }
  std::fputc('\n', file);
  std::fclose(file);
}

}  // namespace testsupport
