// SPDX-License-Identifier: MIT
// FakeSpidevKernel: the kernel's spidev driver and SPI core as the spidev
// backend meets them, with a simulated flash chip on the bus. It keeps the
// kernel's rules and records every message and chip-select period.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/spidev_system.h"
#include "sim/sim_interface.h"
#include "testsupport/select_period_log.h"

struct spi_ioc_transfer;

namespace testsupport {

struct FakeSpidevConfig {
  SimConfig sim;  // the chip; its latency: the modelled time of one ioctl
  std::string node = "/dev/spidev0.0";        // the only node that exists; empty: none does
  std::optional<uint32_t> bufferSize = 4096;  // nothing: the parameter cannot be read
  uint32_t alignment = 128;                   // what the driver rounds each transfer's length up to
  uint32_t mode = 0;                          // the node's mode bits as the device tree set them
  bool halfDuplex = false;                    // the controller refuses a transfer with both buffers
  bool skipsBufferless = false;               // the controller driver drops transfers without buffers
  int openError = 0;                          // errno the node's open fails with
  std::string group = "spi";                  // the group that owns the node
  bool notSpidev = false;                     // the node refuses spidev's ioctls
  uint64_t failIoctl = 0;                     // the ioctl (from 1) that fails; 0 none
  int failErrno = EIO;
  std::string report;   // a file that receives the counts and the mode when the node is closed
  bool keepLog = true;  // record messages and chip-select periods (not for long runs)
};

/// The rules kept, as the kernel keeps them (drivers/spi/spidev.c,
/// drivers/spi/spi.c): at most the buffer size per message in each
/// direction, each transfer counted at its aligned length (EMSGSIZE); the
/// transfer count in the request's size field, _IOC_SIZEBITS wide (a larger
/// one reads as none: nothing happens); 8 bits per word (EINVAL). The mode
/// is 32 bits: SPI_IOC_RD_MODE gives its low byte, SPI_IOC_WR_MODE writes a
/// byte and so clears the bits above it (the dual and quad ones), the
/// *_MODE32 requests read and write it whole; bits outside SPI_MODE_MASK
/// are EINVAL, and the controller shifts most significant bit first only.
/// A half-duplex controller, or a node in SPI_3WIRE mode, refuses a message
/// with a transfer that has both buffers (EINVAL, spi.c's __spi_validate).
/// Chip select falls when a message starts, rises and falls again after a
/// transfer with cs_change that is not the last, and rises at the end of
/// the message unless its last transfer has cs_change; every setting
/// releases it. A transfer without buffers clocks nothing; a driver that
/// skips such transfers drops their cs_change too. Besides, a chip-select
/// period whose command the chip did not take whole (chip select rose
/// inside a transaction), a transfer that clocks nothing, and chip select
/// left asserted after an ioctl (the kernel takes no bus lock between
/// ioctls: another device's traffic may run while the flash still drives
/// MISO) are violations: each is recorded, written to standard error, and
/// fails the ioctl with EIO.
class FakeSpidevKernel : public SpidevSystem {
 public:
  /// Null, with the reason in `error`, for a chip the simulator lacks.
  static std::unique_ptr<FakeSpidevKernel> Create(const FakeSpidevConfig& config, std::string* error);
  /// The same, keeping no log, from a description such as
  /// "chip=N25Q128,image=chip.bin,bufsiz=65536", the form ROMWICK_TEST_FAKE_SPIDEV takes. Keys:
  /// chip, image, latency (µs per ioctl), node, nonode, bufsiz, nobufsiz, align, mode=<bits>,
  /// halfduplex, skipempty, deny=<group> (open fails with EACCES), notspidev, fail=<n>:<errno>,
  /// report.
  static std::unique_ptr<FakeSpidevKernel> FromDescription(const std::string& text, std::string* error);
  ~FakeSpidevKernel() override;

  /// A seam that forwards to this fake, for a backend to own while the test keeps the fake.
  std::unique_ptr<SpidevSystem> Seam();

  int Open(const std::string& path, int* err) override;
  int Ioctl(int fd, unsigned long request, void* arg, int* err) override;
  void Close(int fd) override;
  std::optional<uint32_t> BufferSize() override { return config_.bufferSize; }
  std::string GroupOf(const std::string& path) override;
  /// The chip's time passes; nothing is clocked.
  void Idle(uint64_t ns) override;
  std::vector<std::string> Nodes() override;

  /// Each message the driver took, a transfer a word: "tx4", "rx4096",
  /// "txrx2", "0" (no buffer), "+cs" for cs_change, "*N" for N alike.
  const std::vector<std::string>& Messages() const { return messages_; }
  /// Each chip-select period: the first four bytes clocked out in hex, then
  /// "+N" for the rest; "(empty)" for one without a byte; the period still
  /// open ends in " (held)".
  std::vector<std::string> SelectPeriods() const;
  const std::vector<std::string>& Violations() const { return violations_; }
  void ClearLog();
  uint64_t Ioctls() const { return ioctls_; }
  /// The node's mode bits now, as the next user of the node finds them.
  uint32_t Mode() const { return mode_; }
  uint64_t IdleNs() const { return idleNs_; }
  SimInterface& Sim() { return *sim_; }

 private:
  explicit FakeSpidevKernel(const FakeSpidevConfig& config);
  int Setting(unsigned long request, void* arg, int* err);
  /// spidev's SPI_IOC_WR_MODE and SPI_IOC_WR_MODE32, then spi_setup.
  int WriteMode(uint32_t mode);
  bool RefusesBothBuffers() const;
  int Message(const spi_ioc_transfer* transfers, size_t size, int* err);
  /// The bounce-buffer and word-size checks of the driver and the core; 0 or an errno.
  int Validate(const spi_ioc_transfer* transfers, size_t count) const;
  void SetSelect(bool selected);
  void Clock(const uint8_t* tx, uint8_t* rx, size_t n);
  void Violation(const std::string& what);
  void WriteReport() const;

  const FakeSpidevConfig config_;
  std::unique_ptr<SimInterface> sim_;
  bool open_ = false;
  uint32_t mode_ = config_.mode;
  uint8_t bitsPerWord_ = 8;
  uint32_t speedHz_ = 500000;
  bool selected_ = false;
  SelectPeriodLog periods_{config_.keepLog};
  uint64_t ignoredBefore_ = 0;  // the chip's ignored commands when the period began
  bool violated_ = false;       // in the message being run
  std::vector<std::string> messages_;
  std::vector<std::string> violations_;
  uint64_t ioctls_ = 0;
  uint64_t messageCount_ = 0;
  uint64_t idleNs_ = 0;
};

}  // namespace testsupport
