// SPDX-License-Identifier: MIT
// GpioLine: one GPIO line of the kernel's GPIO character device, driven as
// an output (a backend's configuration reset).
#pragma once

#include <string>

/// Abstract so that tests can put a fake in its place; the real one goes
/// through libgpiod. Failures give their reason in `error`.
class GpioLine {
 public:
  virtual ~GpioLine() = default;
  /// Takes line `offset` of `chip` (a path, name, label or number) as an
  /// output at its inactive level. Active low: active drives the line low.
  virtual bool Request(const std::string& chip, unsigned offset, bool activeLow, std::string* error) = 0;
  /// Drives the line to its active or inactive level.
  virtual bool Set(bool active, std::string* error) = 0;
};
