// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "app/flashapp.h"
#include "app/options.h"

// Lets a test make the nothrow array allocations of the name copies fail.
namespace {
bool failNothrowArrays = false;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (failNothrowArrays) return nullptr;
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace {

TEST(Options, DefaultsLeaveNamesAlone) {
  options.SetDevName("dev");
  options.SetAddress(5);
  options.SetRangeErase(false);
  options.SetResultCode(4);
  EXPECT_TRUE(options.SetDefaults());
  EXPECT_STREQ(options.GetDevName(), "dev");
  EXPECT_EQ(options.GetAddress(), 0u);
  EXPECT_TRUE(options.GetRangeErase());
  EXPECT_EQ(options.GetResultCode(), 0);
  options.FreeNames();
  EXPECT_EQ(options.GetDevName(), nullptr);
}

TEST(Options, NameSettersCopy) {
  char text[] = "name";
  ASSERT_TRUE(options.SetFileName(text));
  text[0] = 'X';
  EXPECT_STREQ(options.GetFileName(), "name");
  ASSERT_TRUE(options.SetFileName("other"));
  EXPECT_STREQ(options.GetFileName(), "other");
  options.FreeNames();
  options.FreeNames();
  EXPECT_EQ(options.GetFileName(), nullptr);
}

TEST(Options, FailedNameCopyIsAnInternalError) {
  options.SetDefaults();
  FLASHAPP app;
  char prog[] = "romwick", opt[] = "-d", value[] = "dev", more[] = "-t";
  char* argv[] = {prog, opt, value, more};
  testing::internal::CaptureStdout();
  failNothrowArrays = true;
  const bool ok = app.ParseCommandLine(4, argv);
  failNothrowArrays = false;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "internal program error");
  EXPECT_FALSE(ok);
  EXPECT_EQ(options.GetDevName(), nullptr);
  EXPECT_EQ(options.GetResultCode(), 1);
  EXPECT_FALSE(options.GetPrintUsage());
  EXPECT_FALSE(options.GetPrintTime());  // the walk stopped there
  options.FreeNames();
}

}  // namespace
