// SPDX-License-Identifier: MIT
// FakeGpioLine: a GPIO line of a fake GPIO chip, "gpiochip0" with 32 lines,
// that records the levels it is driven to.
#pragma once

#include <string>
#include <vector>

#include "runtime/gpio_line.h"

namespace testsupport {

class FakeGpioLine : public GpioLine {
 public:
  /// `levels`, when given, outlives the line and receives each level the
  /// line is driven to, "low" or "high", from its request on.
  explicit FakeGpioLine(std::vector<std::string>* levels = nullptr) : levels_(levels) {}

  bool Request(const std::string& chip, unsigned offset, bool activeLow, std::string* error) override;
  bool Set(bool active, std::string* error) override;

 private:
  void Drive(bool active);

  std::vector<std::string>* levels_;
  bool activeLow_ = true;
};

}  // namespace testsupport
