// SPDX-License-Identifier: MIT
// FakeGpioKernel: the kernel's GPIO character device (its v2 requests) as a
// GPIO line meets it: chips with their names, labels and lines, some lines
// held by others, and the level each line is driven to.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/gpio_system.h"

namespace testsupport {

struct FakeGpioChip {
  std::string name;   // the device's ("gpiochip0"); its node is /dev/<name>
  std::string label;  // the driver's
  uint32_t lines = 32;
  std::map<uint32_t, std::string> held;  // lines others hold, with their consumer label
  bool denied = false;                   // its node's open fails with EACCES
};

/// The rules kept, as drivers/gpio/gpiolib-cdev.c keeps them: a request
/// names 1 to 64 lines of the chip, with zeroed padding and at most 10
/// attributes (EINVAL); flags that are unknown or conflict (input and
/// output, open drain and open source, a drive or bias without a direction,
/// edges without input, two biases, two event clocks) are EINVAL, a line
/// beyond the chip's too; a line someone holds is EBUSY; values are set
/// only on lines of a request, at least one (EINVAL), that are outputs
/// (EPERM). A request the fake does not model is EINVAL, as the kernel
/// answers one it does not know.
class FakeGpioKernel : public GpioSystem {
 public:
  /// gpiochip0 ("pinctrl-fake", 32 lines, line 8 held by "spi0 CS0") and
  /// gpiochip1 ("gpio-sim.0-node0", 8 lines).
  static std::vector<FakeGpioChip> DefaultChips();
  explicit FakeGpioKernel(std::vector<FakeGpioChip> chips = DefaultChips());

  /// A seam that forwards to this fake, for a line to own while the test keeps the fake.
  std::unique_ptr<GpioSystem> Seam();

  int Open(const std::string& path, int* err) override;
  int Ioctl(int fd, unsigned long request, void* arg, int* err) override;
  void Close(int fd) override;
  std::vector<std::string> Chips() override;

  /// Each level line `offset` of chip `chip` (its name) was driven to:
  /// "low", "high", or "released" (an open-drain output at 1).
  std::vector<std::string> Levels(const std::string& chip, uint32_t offset) const;
  /// Whether anyone holds the line now.
  bool Held(const std::string& chip, uint32_t offset) const;

 private:
  struct Line {
    std::string consumer;  // empty: free
    uint64_t flags = 0;
    std::vector<std::string> levels;
  };
  // An open descriptor: a chip's node, or a request for lines of a chip.
  struct Handle {
    size_t chip;
    std::vector<uint32_t> lines;  // empty for the chip's node
  };

  int ChipIoctl(size_t chip, unsigned long request, void* arg);
  int RequestLines(size_t chip, void* arg);
  int SetValues(const Handle& handle, const void* arg);
  void Drive(Line& line, bool value);

  std::vector<FakeGpioChip> chips_;
  std::vector<std::map<uint32_t, Line>> lines_;  // of each chip
  std::map<int, Handle> handles_;
  int nextFd_ = 100;
};

}  // namespace testsupport
