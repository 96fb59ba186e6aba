// SPDX-License-Identifier: MIT
// The fake GPIO character device keeps gpiolib-cdev's rules.
#include "testsupport/fake_gpio_kernel.h"

#include <gtest/gtest.h>
#include <linux/gpio.h>

#include <cstring>
#include <vector>

namespace {

using testsupport::FakeGpioKernel;

class FakeGpio : public testing::Test {
 protected:
  void SetUp() override {
    chip = kernel.Open("/dev/gpiochip0", &err);
    ASSERT_GE(chip, 0);
  }
  // Requests `lines` of gpiochip0 with `flags`: the line request's descriptor, or -1 with `err`.
  int Request(std::vector<uint32_t> lines, uint64_t flags) {
    gpio_v2_line_request request{};
    for (size_t i = 0; i < lines.size(); ++i) request.offsets[i] = lines[i];
    request.num_lines = static_cast<uint32_t>(lines.size());
    std::strcpy(request.consumer, "test");
    request.config.flags = flags;
    return kernel.Ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &request, &err) == 0 ? static_cast<int>(request.fd) : -1;
  }
  int SetValues(int fd, uint64_t mask, uint64_t bits) {
    gpio_v2_line_values values{.bits = bits, .mask = mask};
    return kernel.Ioctl(fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values, &err);
  }

  FakeGpioKernel kernel;
  int chip = -1;
  int err = 0;
};

TEST_F(FakeGpio, ChipInfoGivesTheDevicesNameAndTheDriversLabel) {
  gpiochip_info info{};
  ASSERT_EQ(kernel.Ioctl(chip, GPIO_GET_CHIPINFO_IOCTL, &info, &err), 0);
  EXPECT_STREQ(info.name, "gpiochip0");
  EXPECT_STREQ(info.label, "pinctrl-fake");
  EXPECT_EQ(info.lines, 32u);
  EXPECT_EQ(kernel.Chips(), (std::vector<std::string>{"/dev/gpiochip0", "/dev/gpiochip1"}));
  EXPECT_EQ(kernel.Open("/dev/gpiochip7", &err), -1);
  EXPECT_EQ(err, ENOENT);
}

// gpio_v2_line_flags_validate, and the request's own checks.
TEST_F(FakeGpio, FlagsThatConflictAreInvalid) {
  constexpr uint64_t out = GPIO_V2_LINE_FLAG_OUTPUT, in = GPIO_V2_LINE_FLAG_INPUT;
  constexpr uint64_t drain = GPIO_V2_LINE_FLAG_OPEN_DRAIN, up = GPIO_V2_LINE_FLAG_BIAS_PULL_UP;
  for (const uint64_t flags : std::vector<uint64_t>{out | in, drain, out | drain | GPIO_V2_LINE_FLAG_OPEN_SOURCE, up,
                                                    in | up | GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN,
                                                    out | GPIO_V2_LINE_FLAG_EDGE_RISING, out | (uint64_t{1} << 40)}) {
    EXPECT_EQ(Request({1}, flags), -1) << flags;
    EXPECT_EQ(err, EINVAL) << flags;
  }
  EXPECT_EQ(Request({}, out), -1);
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(Request({32}, out), -1);  // beyond the chip's 32 lines
  EXPECT_EQ(err, EINVAL);
  EXPECT_FALSE(kernel.Held("gpiochip0", 1));
  EXPECT_GE(Request({1}, out | GPIO_V2_LINE_FLAG_OPEN_DRAIN | GPIO_V2_LINE_FLAG_ACTIVE_LOW), 0);
}

TEST_F(FakeGpio, ALineSomeoneHoldsIsBusy) {
  EXPECT_EQ(Request({8}, GPIO_V2_LINE_FLAG_OUTPUT), -1);  // spi0 CS0's
  EXPECT_EQ(err, EBUSY);
  const int fd = Request({3}, GPIO_V2_LINE_FLAG_OUTPUT);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Request({3}, GPIO_V2_LINE_FLAG_OUTPUT), -1);
  EXPECT_EQ(err, EBUSY);
  EXPECT_EQ(Request({4, 4}, GPIO_V2_LINE_FLAG_OUTPUT), -1);  // the second time it is named
  EXPECT_EQ(err, EBUSY);
  EXPECT_FALSE(kernel.Held("gpiochip0", 4));
  gpio_v2_line_info info{};
  info.offset = 3;
  ASSERT_EQ(kernel.Ioctl(chip, GPIO_V2_GET_LINEINFO_IOCTL, &info, &err), 0);
  EXPECT_STREQ(info.consumer, "test");
  kernel.Close(fd);
  EXPECT_GE(Request({3}, GPIO_V2_LINE_FLAG_OUTPUT), 0);
}

TEST_F(FakeGpio, ValuesAreSetOnlyOnARequestsOutputs) {
  const int input = Request({1}, GPIO_V2_LINE_FLAG_INPUT);
  const int output = Request({2}, GPIO_V2_LINE_FLAG_OUTPUT);
  ASSERT_GE(input, 0);
  ASSERT_GE(output, 0);
  EXPECT_EQ(SetValues(input, 1, 1), -1);
  EXPECT_EQ(err, EPERM);
  EXPECT_EQ(SetValues(output, 0, 1), -1);  // no line chosen
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(SetValues(chip, 1, 1), -1);  // the chip's node takes no values
  EXPECT_EQ(err, EINVAL);
  EXPECT_EQ(SetValues(output, 1, 1), 0);
  EXPECT_EQ(kernel.Levels("gpiochip0", 2), (std::vector<std::string>{"low", "high"}));
}

}  // namespace
