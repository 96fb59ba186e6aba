// SPDX-License-Identifier: MIT
#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "testsupport/fake_clock.h"

namespace {

using testsupport::FakeClock;

class Progress : public testing::Test {
 protected:
  Progress() { line.SetOutput(out); }
  ~Progress() override { std::fclose(out); }

  /// What was drawn since the last call.
  std::string Drawn() {
    std::fflush(out);
    const long end = std::ftell(out);
    std::string text(static_cast<size_t>(end - read), '\0');
    std::fseek(out, read, SEEK_SET);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    read = end;
    std::fseek(out, 0, SEEK_END);
    return text;
  }

  FakeClock clock{5000};
  FILE* out = std::tmpfile();
  long read = 0;
  ProgressLine line;
};

TEST_F(Progress, DrawsAtOnceThenAtMostTenTimesASecond) {
  line.Start("Writing", 1000000);
  line.Update(0);
  EXPECT_EQ(Drawn(), "\rWriting   0%  0 of 1000000 bytes");
  FakeClock::Advance(99);
  line.Update(1000);
  EXPECT_EQ(Drawn(), "");
  FakeClock::Advance(401);
  line.Update(250000);
  // 250,000 bytes in half a second: 488.3 KB/s, and 1.5 s left.
  EXPECT_EQ(Drawn(), "\rWriting  25%  250000 of 1000000 bytes  488.3 KB/s  0:01 left");
  FakeClock::Advance(1500);
  line.Update(1000000);
  EXPECT_EQ(Drawn(), "\rWriting 100%  1000000 of 1000000 bytes  488.3 KB/s  0:00 left");
}

TEST_F(Progress, ClearingLeavesTheCursorWhereTheLineBegan) {
  line.Start("Reading", 10);
  line.Clear();
  EXPECT_EQ(Drawn(), "");  // nothing drawn, nothing to clear
  line.Update(5);
  Drawn();
  line.Clear();
  EXPECT_EQ(Drawn(), "\r" + std::string(27, ' ') + "\r");
  // A new step draws at once again.
  line.Start("Verifying", 10);
  line.Update(10);
  EXPECT_EQ(Drawn(), "\rVerifying 100%  10 of 10 bytes");
}

TEST_F(Progress, ALongWaitShowsItsTimeAgainstTheTypicalOne) {
  line.Start("Erasing", 1 << 20);
  line.Waiting(12500, 8000);
  EXPECT_EQ(Drawn(), "\rErasing  12 s, typically 8 s");
  // A shorter line covers what the longer one left with spaces.
  FakeClock::Advance(100);
  line.Waiting(3200, 8000);
  EXPECT_EQ(Drawn(), "\rErasing  3 s, typically 8 s ");
}

TEST(ProgressWithoutATerminal, DrawsNothing) {
  FakeClock clock;
  ProgressLine line;
  line.Start("Writing", 100);
  line.Update(50);
  line.Waiting(1000, 8000);
  line.Clear();  // and does not touch a stream it does not have
}

}  // namespace
