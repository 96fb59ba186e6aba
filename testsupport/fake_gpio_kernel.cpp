// SPDX-License-Identifier: MIT
// The fake GPIO character device.
#include "testsupport/fake_gpio_kernel.h"

#include <linux/gpio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

constexpr uint64_t kDirection = GPIO_V2_LINE_FLAG_INPUT | GPIO_V2_LINE_FLAG_OUTPUT;
constexpr uint64_t kEdges = GPIO_V2_LINE_FLAG_EDGE_RISING | GPIO_V2_LINE_FLAG_EDGE_FALLING;
constexpr uint64_t kDrives = GPIO_V2_LINE_FLAG_OPEN_DRAIN | GPIO_V2_LINE_FLAG_OPEN_SOURCE;
constexpr uint64_t kBiases =
    GPIO_V2_LINE_FLAG_BIAS_PULL_UP | GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN | GPIO_V2_LINE_FLAG_BIAS_DISABLED;
constexpr uint64_t kClocks = GPIO_V2_LINE_FLAG_EVENT_CLOCK_REALTIME | GPIO_V2_LINE_FLAG_EVENT_CLOCK_HTE;
constexpr uint64_t kValidFlags = GPIO_V2_LINE_FLAG_ACTIVE_LOW | kDirection | kEdges | kDrives | kBiases | kClocks;

bool MoreThanOne(uint64_t bits) { return (bits & (bits - 1)) != 0; }

// gpio_v2_line_flags_validate: 0 or EINVAL.
int ValidateFlags(uint64_t flags) {
  const bool bad = (flags & ~kValidFlags) || (flags & kDirection) == kDirection ||
                   MoreThanOne(flags & kClocks) || ((flags & kEdges) && !(flags & GPIO_V2_LINE_FLAG_INPUT)) ||
                   (flags & kDrives) == kDrives || ((flags & kDrives) && !(flags & GPIO_V2_LINE_FLAG_OUTPUT)) ||
                   ((flags & kBiases) && !(flags & kDirection)) || MoreThanOne(flags & kBiases);
  return bad ? EINVAL : 0;
}

bool AnyNonZero(const void* bytes, size_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  return std::any_of(p, p + size, [](uint8_t b) { return b != 0; });
}

// The flags of the request's line `index`: an attribute's, or the config's.
uint64_t LineFlags(const gpio_v2_line_config& config, uint32_t index) {
  for (uint32_t i = 0; i < config.num_attrs; ++i) {
    const gpio_v2_line_config_attribute& a = config.attrs[i];
    if (a.attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS && (a.mask & (1ull << index))) return a.attr.flags;
  }
  return config.flags;
}

// The first output value of line `index`: an attribute's, or 0.
bool OutputValue(const gpio_v2_line_config& config, uint32_t index) {
  for (uint32_t i = 0; i < config.num_attrs; ++i) {
    const gpio_v2_line_config_attribute& a = config.attrs[i];
    if (a.attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES && (a.mask & (1ull << index))) {
      return (a.attr.values >> index) & 1;
    }
  }
  return false;
}

void CopyName(char (&field)[GPIO_MAX_NAME_SIZE], const std::string& text) {
  std::strncpy(field, text.c_str(), sizeof field - 1);
  field[sizeof field - 1] = '\0';
}

// Forwards to a fake that someone else owns.
class Forwarder : public GpioSystem {
 public:
  explicit Forwarder(GpioSystem& target) : target_(target) {}
  int Open(const std::string& path, int* err) override { return target_.Open(path, err); }
  int Ioctl(int fd, unsigned long request, void* arg, int* err) override {
    return target_.Ioctl(fd, request, arg, err);
  }
  void Close(int fd) override { target_.Close(fd); }
  std::vector<std::string> Chips() override { return target_.Chips(); }

 private:
  GpioSystem& target_;
};

}  // namespace

std::vector<FakeGpioChip> FakeGpioKernel::DefaultChips() {
  return {{.name = "gpiochip0", .label = "pinctrl-fake", .lines = 32, .held = {{8, "spi0 CS0"}}},
          {.name = "gpiochip1", .label = "gpio-sim.0-node0", .lines = 8, .held = {}}};
}

FakeGpioKernel::FakeGpioKernel(std::vector<FakeGpioChip> chips)
    : chips_(std::move(chips)), lines_(chips_.size()) {
  for (size_t c = 0; c < chips_.size(); ++c) {
    for (const auto& [offset, consumer] : chips_[c].held) lines_[c][offset].consumer = consumer;
  }
}

std::unique_ptr<GpioSystem> FakeGpioKernel::Seam() { return std::make_unique<Forwarder>(*this); }

std::vector<std::string> FakeGpioKernel::Chips() {
  std::vector<std::string> paths;
  for (const FakeGpioChip& chip : chips_) paths.push_back("/dev/" + chip.name);
  return paths;
}

int FakeGpioKernel::Open(const std::string& path, int* err) {
  for (size_t c = 0; c < chips_.size(); ++c) {
    if (path != "/dev/" + chips_[c].name) continue;
    if (chips_[c].denied) {
      *err = EACCES;
      return -1;
    }
    handles_[nextFd_] = Handle{.chip = c, .lines = {}};
    return nextFd_++;
  }
  *err = ENOENT;
  return -1;
}

void FakeGpioKernel::Close(int fd) {
  const auto handle = handles_.find(fd);
  if (handle == handles_.end()) return;
  // linereq_release: the lines are free again, at the level they were driven to.
  for (uint32_t offset : handle->second.lines) lines_[handle->second.chip][offset].consumer.clear();
  handles_.erase(handle);
}

int FakeGpioKernel::Ioctl(int fd, unsigned long request, void* arg, int* err) {
  const auto handle = handles_.find(fd);
  if (handle == handles_.end()) {
    *err = EBADF;
    return -1;
  }
  const Handle& h = handle->second;
  *err = h.lines.empty() ? ChipIoctl(h.chip, request, arg)
                         : (request == GPIO_V2_LINE_SET_VALUES_IOCTL ? SetValues(h, arg) : EINVAL);
  return *err == 0 ? 0 : -1;
}

int FakeGpioKernel::ChipIoctl(size_t chip, unsigned long request, void* arg) {
  const FakeGpioChip& c = chips_[chip];
  if (request == GPIO_GET_CHIPINFO_IOCTL) {
    auto* info = static_cast<gpiochip_info*>(arg);
    *info = {};
    CopyName(info->name, c.name);
    CopyName(info->label, c.label);
    info->lines = c.lines;
    return 0;
  }
  if (request == GPIO_V2_GET_LINEINFO_IOCTL) {
    auto* info = static_cast<gpio_v2_line_info*>(arg);
    if (info->offset >= c.lines || AnyNonZero(info->padding, sizeof info->padding)) return EINVAL;
    const uint32_t offset = info->offset;
    *info = {};
    info->offset = offset;
    const auto line = lines_[chip].find(offset);
    if (line != lines_[chip].end() && !line->second.consumer.empty()) {
      CopyName(info->consumer, line->second.consumer);
      info->flags = GPIO_V2_LINE_FLAG_USED | line->second.flags;
    }
    return 0;
  }
  if (request == GPIO_V2_GET_LINE_IOCTL) return RequestLines(chip, arg);
  return EINVAL;
}

int FakeGpioKernel::RequestLines(size_t chip, void* arg) {
  auto* request = static_cast<gpio_v2_line_request*>(arg);
  const gpio_v2_line_config& config = request->config;
  if (request->num_lines == 0 || request->num_lines > GPIO_V2_LINES_MAX ||
      AnyNonZero(request->padding, sizeof request->padding) || config.num_attrs > GPIO_V2_LINE_NUM_ATTRS_MAX ||
      AnyNonZero(config.padding, sizeof config.padding)) {
    return EINVAL;
  }
  for (uint32_t i = 0; i < request->num_lines; ++i) {
    if (const int err = ValidateFlags(LineFlags(config, i)); err != 0) return err;
  }
  // Each line in turn, as gpiod_request takes them: a line named twice is busy the second time.
  std::vector<uint32_t> taken;
  const auto giveBack = [&] {
    for (uint32_t offset : taken) lines_[chip][offset].consumer.clear();
  };
  const std::string consumer(request->consumer, strnlen(request->consumer, sizeof request->consumer));
  for (uint32_t i = 0; i < request->num_lines; ++i) {
    const uint32_t offset = request->offsets[i];
    if (offset >= chips_[chip].lines) {
      giveBack();
      return EINVAL;
    }
    Line& line = lines_[chip][offset];
    if (!line.consumer.empty()) {
      giveBack();
      return EBUSY;
    }
    // An empty label still marks the line taken; the kernel shows "?" for it.
    line.consumer = consumer.empty() ? "?" : consumer;
    line.flags = LineFlags(config, i);
    taken.push_back(offset);
    if (line.flags & GPIO_V2_LINE_FLAG_OUTPUT) Drive(line, OutputValue(config, i));
  }
  request->fd = nextFd_;
  handles_[nextFd_++] = Handle{.chip = chip, .lines = taken};
  return 0;
}

int FakeGpioKernel::SetValues(const Handle& handle, const void* arg) {
  const auto* values = static_cast<const gpio_v2_line_values*>(arg);
  bool any = false;
  for (size_t i = 0; i < handle.lines.size(); ++i) {
    if (!(values->mask & (1ull << i))) continue;
    if (!(lines_[handle.chip][handle.lines[i]].flags & GPIO_V2_LINE_FLAG_OUTPUT)) return EPERM;
    any = true;
  }
  if (!any) return EINVAL;
  for (size_t i = 0; i < handle.lines.size(); ++i) {
    if (values->mask & (1ull << i)) Drive(lines_[handle.chip][handle.lines[i]], (values->bits >> i) & 1);
  }
  return 0;
}

void FakeGpioKernel::Drive(Line& line, bool value) {
  const bool high = value != ((line.flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
  const bool letGo = high ? (line.flags & GPIO_V2_LINE_FLAG_OPEN_DRAIN) : (line.flags & GPIO_V2_LINE_FLAG_OPEN_SOURCE);
  line.levels.push_back(letGo ? "released" : high ? "high" : "low");
}

std::vector<std::string> FakeGpioKernel::Levels(const std::string& chip, uint32_t offset) const {
  for (size_t c = 0; c < chips_.size(); ++c) {
    if (chips_[c].name != chip) continue;
    const auto line = lines_[c].find(offset);
    return line == lines_[c].end() ? std::vector<std::string>{} : line->second.levels;
  }
  return {};
}

bool FakeGpioKernel::Held(const std::string& chip, uint32_t offset) const {
  for (size_t c = 0; c < chips_.size(); ++c) {
    if (chips_[c].name != chip) continue;
    const auto line = lines_[c].find(offset);
    return line != lines_[c].end() && !line->second.consumer.empty();
  }
  return false;
}

}  // namespace testsupport
