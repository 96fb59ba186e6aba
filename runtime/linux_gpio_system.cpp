// SPDX-License-Identifier: MIT
// The kernel's side of a GPIO line.
#include "runtime/linux_gpio_system.h"

#include "runtime/linux_device_calls.h"

int LinuxGpioSystem::Open(const std::string& path, int* err) { return linux_device_calls::Open(path, err); }

int LinuxGpioSystem::Ioctl(int fd, unsigned long request, void* arg, int* err) {
  return linux_device_calls::Ioctl(fd, request, arg, err);
}

void LinuxGpioSystem::Close(int fd) { linux_device_calls::Close(fd); }

std::vector<std::string> LinuxGpioSystem::Chips() { return linux_device_calls::Nodes("gpiochip"); }
