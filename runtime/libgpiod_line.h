// SPDX-License-Identifier: MIT
// LibgpiodLine: a GPIO line taken and driven through libgpiod (its 1.x API).
#pragma once

#include "runtime/gpio_line.h"

struct gpiod_chip;
struct gpiod_line;

/// Gives the line back to the kernel when destroyed, at the level it was
/// last driven to (whether the line keeps it is the GPIO driver's matter).
class LibgpiodLine : public GpioLine {
 public:
  LibgpiodLine() = default;
  ~LibgpiodLine() override;
  LibgpiodLine(const LibgpiodLine&) = delete;
  LibgpiodLine& operator=(const LibgpiodLine&) = delete;

  bool Request(const std::string& chip, unsigned offset, bool activeLow, std::string* error) override;
  bool Set(bool active, std::string* error) override;

 private:
  gpiod_chip* chip_ = nullptr;
  gpiod_line* line_ = nullptr;
  std::string name_;  // "<chip>:<line>", for reasons
};
