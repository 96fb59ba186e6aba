// SPDX-License-Identifier: MIT
// LinuxGpioSystem: a GPIO line's system calls, made to the kernel.
#pragma once

#include "runtime/gpio_system.h"

class LinuxGpioSystem : public GpioSystem {
 public:
  int Open(const std::string& path, int* err) override;
  int Ioctl(int fd, unsigned long request, void* arg, int* err) override;
  void Close(int fd) override;
  std::vector<std::string> Chips() override;
};
