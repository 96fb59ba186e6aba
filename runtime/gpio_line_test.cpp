// SPDX-License-Identifier: MIT
// A GPIO line against the fake GPIO character device: finding the chip,
// the levels it drives, the kernel's refusals; and against the real kernel
// where no hardware is needed.
#include "runtime/gpio_line.h"

#include <gtest/gtest.h>

#include "runtime/system_seams.h"
#include "testsupport/fake_gpio_kernel.h"

namespace {

using testsupport::FakeGpioKernel;

// gpiochip1 of the fake's, named each way a reset= key may name it.
TEST(GpioLine, FindsTheChipByPathNameLabelOrNumber) {
  for (const char* chip : {"/dev/gpiochip1", "gpiochip1", "gpio-sim.0-node0", "1"}) {
    SCOPED_TRACE(chip);
    FakeGpioKernel kernel;
    GpioLine line(kernel.Seam());
    std::string error;
    ASSERT_TRUE(line.Request(chip, 3, GpioOutput{}, &error)) << error;
    EXPECT_TRUE(kernel.Held("gpiochip1", 3));
    EXPECT_FALSE(kernel.Held("gpiochip0", 3));
  }
}

// Active low push-pull (a reset= key's default), active high, open drain:
// taken inactive, then active, then inactive again; given back at the end.
TEST(GpioLine, DrivesItsLevelsAndGivesTheLineBack) {
  struct LevelCase {
    GpioOutput output;
    std::vector<std::string> levels;
  };
  for (const LevelCase& c : {LevelCase{{}, {"high", "low", "high"}},
                             LevelCase{{.activeLow = false}, {"low", "high", "low"}},
                             LevelCase{{.openDrain = true}, {"released", "low", "released"}}}) {
    FakeGpioKernel kernel;
    {
      GpioLine line(kernel.Seam());
      std::string error;
      ASSERT_TRUE(line.Request("gpiochip0", 5, c.output, &error)) << error;
      ASSERT_TRUE(line.Set(true, &error)) << error;
      ASSERT_TRUE(line.Set(false, &error)) << error;
      EXPECT_TRUE(kernel.Held("gpiochip0", 5));
    }
    EXPECT_EQ(kernel.Levels("gpiochip0", 5), c.levels);
    EXPECT_FALSE(kernel.Held("gpiochip0", 5));
  }
}

TEST(GpioLine, SaysWhyTheKernelRefusesTheLine) {
  struct RefusalCase {
    std::string chip;
    unsigned line;
    std::string reason;
  };
  // A chip the user may not open could be the one a name or label means.
  std::vector<testsupport::FakeGpioChip> chips = FakeGpioKernel::DefaultChips();
  chips.push_back({.name = "gpiochip2", .label = "locked", .lines = 4, .held = {}, .denied = true});
  for (const RefusalCase& c :
       {RefusalCase{"gpiochip9", 0, "no GPIO chip 'gpiochip9' (No such file or directory)"},
        RefusalCase{"7", 0, "no GPIO chip '7' (No such file or directory)"},
        RefusalCase{"gpiochip1", 8, "GPIO chip 'gpiochip1' has no line 8 (it has 8)"},
        RefusalCase{"pinctrl-fake", 8,
                    "cannot drive GPIO line pinctrl-fake:8 (Device or resource busy): 'spi0 CS0' holds it"},
        RefusalCase{"locked", 0,
                    "no GPIO chip 'locked' (Permission denied): give your user read and write access to the GPIO "
                    "chips (/dev/gpiochip*), or run as root"}}) {
    SCOPED_TRACE(c.chip);
    FakeGpioKernel kernel(c.chip == "locked" ? chips : FakeGpioKernel::DefaultChips());
    GpioLine line(kernel.Seam());
    std::string error;
    EXPECT_FALSE(line.Request(c.chip, c.line, GpioOutput{}, &error));
    EXPECT_EQ(error, c.reason);
  }
  // A line this program holds already is as busy as any other.
  FakeGpioKernel kernel;
  GpioLine first(kernel.Seam()), second(kernel.Seam());
  std::string error;
  ASSERT_TRUE(first.Request("gpiochip0", 2, GpioOutput{}, &error));
  EXPECT_FALSE(second.Request("gpiochip0", 2, GpioOutput{}, &error));
  EXPECT_EQ(error, "cannot drive GPIO line gpiochip0:2 (Device or resource busy): 'romwick' holds it");
}

// The real kernel's GPIO character device, wherever the test runs: a chip
// that no node, name or label gives.
TEST(SystemGpioLine, ANonexistentChipIsRefusedWithItsReason) {
  std::string error;
  const std::unique_ptr<GpioLine> line = MakeGpioLine(&error);
  ASSERT_TRUE(line) << error;
  EXPECT_FALSE(line->Request("romwick-no-such-chip", 0, GpioOutput{}, &error));
  EXPECT_EQ(error.rfind("no GPIO chip 'romwick-no-such-chip' (", 0), 0u) << error;
}

}  // namespace
