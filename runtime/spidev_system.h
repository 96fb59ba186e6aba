// SPDX-License-Identifier: MIT
// SpidevSystem: the system calls through which the spidev backend reaches the
// kernel's spidev driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// Abstract so that tests can put a fake kernel in its place; the real one is
/// LinuxSpidevSystem. Failures give the errno value in `err`.
class SpidevSystem {
 public:
  virtual ~SpidevSystem() = default;
  /// Opens `path` for reading and writing: a descriptor, or -1.
  virtual int Open(const std::string& path, int* err) = 0;
  /// ioctl(2): its result, or -1.
  virtual int Ioctl(int fd, unsigned long request, void* arg, int* err) = 0;
  virtual void Close(int fd) = 0;
  /// The driver's buffer size, the most bytes one message may carry each way;
  /// nothing when it cannot be read.
  virtual std::optional<uint32_t> BufferSize() = 0;
  /// The name of the group that owns `path`; empty when it cannot be told.
  virtual std::string GroupOf(const std::string& path) = 0;
  /// Lets `ns` nanoseconds pass with the bus idle.
  virtual void Idle(uint64_t ns) = 0;
  /// The spidev nodes there are, sorted.
  virtual std::vector<std::string> Nodes() = 0;
};
