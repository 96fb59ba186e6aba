// SPDX-License-Identifier: MIT
// LinuxSpidevSystem: the spidev backend's system calls, made to the kernel.
#pragma once

#include "runtime/spidev_system.h"

class LinuxSpidevSystem : public SpidevSystem {
 public:
  int Open(const std::string& path, int* err) override;
  int Ioctl(int fd, unsigned long request, void* arg, int* err) override;
  void Close(int fd) override;
  std::optional<uint32_t> BufferSize() override;
  std::string GroupOf(const std::string& path) override;
  void Idle(uint64_t ns) override;
  std::vector<std::string> Nodes() override;
};
