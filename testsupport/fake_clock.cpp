// SPDX-License-Identifier: MIT
// The fake tick and sleeper.
#include "testsupport/fake_clock.h"

#include "platform/platform.h"

namespace testsupport {

namespace {

uint32_t now = 0;
uint32_t step = 0;
uint32_t slept = 0;

uint32_t Tick() {
  const uint32_t reading = now;
  now += step;
  return reading;
}

void Sleep(uint32_t ms) {
  slept += ms;
  now += ms;
}

}  // namespace

FakeClock::FakeClock(uint32_t start, uint32_t stepMs) {
  now = start;
  step = stepMs;
  slept = 0;
  platform::SetTickSource(&Tick);
  platform::SetSleeper(&Sleep);
}

FakeClock::~FakeClock() {
  platform::SetTickSource(nullptr);
  platform::SetSleeper(nullptr);
}

void FakeClock::Advance(uint32_t ms) { now += ms; }

uint32_t FakeClock::Now() { return now; }

uint32_t FakeClock::Slept() { return slept; }

}  // namespace testsupport
