// SPDX-License-Identifier: MIT
// GpioSystem: the system calls through which a GPIO line reaches the
// kernel's GPIO character device.
#pragma once

#include <string>
#include <vector>

/// Abstract so that tests can put a fake kernel in its place; the real one is
/// LinuxGpioSystem. Failures give the errno value in `err`.
class GpioSystem {
 public:
  virtual ~GpioSystem() = default;
  /// Opens `path` for reading and writing: a descriptor, or -1.
  virtual int Open(const std::string& path, int* err) = 0;
  /// ioctl(2): its result, or -1.
  virtual int Ioctl(int fd, unsigned long request, void* arg, int* err) = 0;
  virtual void Close(int fd) = 0;
  /// The GPIO chips' device nodes there are, sorted.
  virtual std::vector<std::string> Chips() = 0;
};
