// SPDX-License-Identifier: MIT
// A GPIO line through the kernel's GPIO character device.
#include "runtime/gpio_line.h"

#include <linux/gpio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// How the line's holder shows in the kernel's GPIO tools.
constexpr char kConsumer[] = "romwick";
static_assert(sizeof kConsumer <= GPIO_MAX_NAME_SIZE);
// A chip named by number is this node, as the kernel names its devices.
constexpr const char* kChipNodePrefix = "/dev/gpiochip";

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A field of the kernel's, not always terminated when it fills the array.
std::string Field(const char (&field)[GPIO_MAX_NAME_SIZE]) { return std::string(field, strnlen(field, sizeof field)); }

}  // namespace

GpioLine::GpioLine(std::unique_ptr<GpioSystem> system) : system_(std::move(system)) {}

GpioLine::~GpioLine() {
  if (fd_ >= 0) system_->Close(fd_);
}

int GpioLine::OpenChipAt(const std::string& path, gpiochip_info* info, int* err) {
  const int fd = system_->Open(path, err);
  if (fd < 0) return -1;
  if (system_->Ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, info, err) == 0) return fd;
  system_->Close(fd);
  return -1;
}

int GpioLine::OpenChip(const std::string& chip, gpiochip_info* info, std::string* error) {
  int err = ENOENT;
  if (chip.find('/') != std::string::npos || IsNumber(chip)) {
    const std::string path = IsNumber(chip) ? kChipNodePrefix + chip : chip;
    const int fd = OpenChipAt(path, info, &err);
    if (fd >= 0) return fd;
  } else {
    // A name or a label: GPIO_GET_CHIPINFO_IOCTL tells each chip's.
    for (const std::string& path : system_->Chips()) {
      int chipErr = 0;
      const int fd = OpenChipAt(path, info, &chipErr);
      if (fd < 0) {
        if (chipErr == EACCES || chipErr == EPERM) err = chipErr;  // this one may have been it
        continue;
      }
      if (chip == Field(info->name) || chip == Field(info->label)) return fd;
      system_->Close(fd);
    }
  }
  *error = "no GPIO chip '" + chip + "' (" + std::strerror(err) + ")";
  if (err == EACCES || err == EPERM) {
    *error += ": give your user read and write access to the GPIO chips (/dev/gpiochip*), or run as root";
  }
  return -1;
}

std::string GpioLine::Refusal(int chipFd, unsigned offset, int err) {
  std::string reason = "cannot drive GPIO line " + name_ + " (" + std::strerror(err) + ")";
  if (err == EBUSY) {
    gpio_v2_line_info info{};
    info.offset = offset;
    int infoErr = 0;
    if (system_->Ioctl(chipFd, GPIO_V2_GET_LINEINFO_IOCTL, &info, &infoErr) == 0 && info.consumer[0] != '\0') {
      reason += ": '" + Field(info.consumer) + "' holds it";
    }
  } else if (err == EINVAL || err == ENOTTY) {
    reason += ": the GPIO character device's v2 requests need Linux 5.10 or later";
  }
  return reason;
}

bool GpioLine::Request(const std::string& chip, unsigned offset, const GpioOutput& output, std::string* error) {
  name_ = chip + ":" + std::to_string(offset);
  gpiochip_info info{};
  const int chipFd = OpenChip(chip, &info, error);
  if (chipFd < 0) return false;
  if (offset >= info.lines) {
    system_->Close(chipFd);
    *error = "GPIO chip '" + chip + "' has no line " + std::to_string(offset) + " (it has " +
             std::to_string(info.lines) + ")";
    return false;
  }
  gpio_v2_line_request request{};
  request.offsets[0] = offset;
  request.num_lines = 1;
  std::memcpy(request.consumer, kConsumer, sizeof kConsumer);
  request.config.flags = GPIO_V2_LINE_FLAG_OUTPUT | (output.activeLow ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0) |
                         (output.openDrain ? GPIO_V2_LINE_FLAG_OPEN_DRAIN : 0);
  // The first value the line drives: inactive (bit 0 is the request's only line).
  request.config.num_attrs = 1;
  request.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
  request.config.attrs[0].attr.values = 0;
  request.config.attrs[0].mask = 1;
  int err = 0;
  const bool taken = system_->Ioctl(chipFd, GPIO_V2_GET_LINE_IOCTL, &request, &err) == 0;
  if (taken) {
    fd_ = request.fd;
  } else {
    *error = Refusal(chipFd, offset, err);
  }
  // The line request keeps the chip's device; its node is no longer needed.
  system_->Close(chipFd);
  return taken;
}

bool GpioLine::Set(bool active, std::string* error) {
  gpio_v2_line_values values{};
  values.mask = 1;
  values.bits = active ? 1 : 0;
  int err = 0;
  if (system_->Ioctl(fd_, GPIO_V2_LINE_SET_VALUES_IOCTL, &values, &err) == 0) return true;
  *error = "cannot set GPIO line " + name_ + " (" + std::strerror(err) + ")";
  return false;
}
