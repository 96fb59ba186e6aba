// SPDX-License-Identifier: MIT
// GpioLine: one line of a GPIO chip, taken through the kernel's GPIO
// character device (its v2 interface, <linux/gpio.h>) and driven as an
// output: a backend's configuration reset.
#pragma once

#include <memory>
#include <string>

#include "runtime/gpio_system.h"

struct gpiochip_info;

/// How the line drives its pin.
struct GpioOutput {
  bool activeLow = true;   // active drives the pin low
  bool openDrain = false;  // the pin is driven low or let go, never driven high
};

/// Gives the line back to the kernel when destroyed, at the level it was
/// last driven to (whether the pin keeps it is the GPIO driver's matter).
/// Failures give their reason in `error`.
class GpioLine {
 public:
  explicit GpioLine(std::unique_ptr<GpioSystem> system);
  ~GpioLine();
  GpioLine(const GpioLine&) = delete;
  GpioLine& operator=(const GpioLine&) = delete;

  /// Takes line `offset` of `chip` (a device node's path, a chip's name or
  /// label, or its number) as an output at its inactive level.
  [[nodiscard]] bool Request(const std::string& chip, unsigned offset, const GpioOutput& output,
                             std::string* error);
  /// Drives the line to its active or inactive level.
  [[nodiscard]] bool Set(bool active, std::string* error);

 private:
  /// The chip `chip` names, open: its descriptor, or -1 with the reason.
  int OpenChip(const std::string& chip, gpiochip_info* info, std::string* error);
  /// `path` open, if it is a GPIO chip: its descriptor, or -1 with errno.
  int OpenChipAt(const std::string& path, gpiochip_info* info, int* err);
  /// Why the kernel refused the line (`err`); `chipFd` tells who holds it.
  std::string Refusal(int chipFd, unsigned offset, int err);

  std::unique_ptr<GpioSystem> system_;
  int fd_ = -1;       // the line request's
  std::string name_;  // "<chip>:<line>", for reasons
};
