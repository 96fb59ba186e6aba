// SPDX-License-Identifier: MIT
// A GPIO line through libgpiod.
#include "runtime/libgpiod_line.h"

#include <gpiod.h>

#include <cerrno>
#include <cstring>

namespace {
// How the line's holder shows in the kernel's GPIO tools.
constexpr const char* kConsumer = "romwick";
}  // namespace

LibgpiodLine::~LibgpiodLine() {
  if (line_) gpiod_line_release(line_);
  if (chip_) gpiod_chip_close(chip_);
}

bool LibgpiodLine::Request(const std::string& chip, unsigned offset, bool activeLow, std::string* error) {
  name_ = chip + ":" + std::to_string(offset);
  chip_ = gpiod_chip_open_lookup(chip.c_str());
  if (!chip_) {
    *error = "no GPIO chip '" + chip + "' (" + std::strerror(errno) + ")";
    return false;
  }
  line_ = gpiod_chip_get_line(chip_, offset);
  if (!line_) {
    *error = "GPIO chip '" + chip + "' has no line " + std::to_string(offset) + " (" + std::strerror(errno) + ")";
    return false;
  }
  const int flags = activeLow ? GPIOD_LINE_REQUEST_FLAG_ACTIVE_LOW : 0;
  if (gpiod_line_request_output_flags(line_, kConsumer, flags, 0) != 0) {
    const int err = errno;
    line_ = nullptr;  // not ours to release
    *error = "cannot drive GPIO line " + name_ + " (" + std::strerror(err) + ")";
    return false;
  }
  return true;
}

bool LibgpiodLine::Set(bool active, std::string* error) {
  if (gpiod_line_set_value(line_, active ? 1 : 0) == 0) return true;
  *error = "cannot set GPIO line " + name_ + " (" + std::strerror(errno) + ")";
  return false;
}
