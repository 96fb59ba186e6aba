// SPDX-License-Identifier: MIT
// The fake GPIO line.
#include "testsupport/fake_gpio_line.h"

namespace testsupport {

namespace {
constexpr const char* kChip = "gpiochip0";
constexpr unsigned kLines = 32;
}  // namespace

bool FakeGpioLine::Request(const std::string& chip, unsigned offset, bool activeLow, std::string* error) {
  if (chip != kChip && chip != std::string("/dev/") + kChip) {
    *error = "no GPIO chip '" + chip + "' (No such file or directory)";
    return false;
  }
  if (offset >= kLines) {
    *error = "GPIO chip '" + chip + "' has no line " + std::to_string(offset) + " (Invalid argument)";
    return false;
  }
  activeLow_ = activeLow;
  Drive(false);
  return true;
}

bool FakeGpioLine::Set(bool active, std::string*) {
  Drive(active);
  return true;
}

void FakeGpioLine::Drive(bool active) {
  if (levels_) levels_->push_back(active == activeLow_ ? "low" : "high");
}

}  // namespace testsupport
