// SPDX-License-Identifier: MIT
// The batches of status reads of an FTDI MPSSE channel.
#include "runtime/ftdi_poll_planner.h"

#include <algorithm>
#include <cmath>

#include "runtime/mpsse_commands.h"

namespace {

// One USB round trip of a high-speed chip, what a batch should outlast: a
// microframe each way (measured about 120 µs on an FT232H, pyftdi issue #193).
constexpr uint64_t kRoundTripNs = 125'000;
// A learned wait is covered from 7/8 of it to 1/64 past it: every sample
// after the one that finds the chip ready is time lost, so the batch ends
// soon after the moment it is expected, and a chip a little faster than last
// time is still caught early.
constexpr uint64_t kEarlyParts = 8;
constexpr uint64_t kLateParts = 64;
// A sample's select period clocks the two bytes of the status read.
constexpr uint64_t kSampleBytes = 2;

}  // namespace

// The command byte alone: a wait after a page program is the same however
// long the page.
uint32_t FtdiPollPlanner::Key(uint8_t firstByte, size_t) const { return firstByte; }

void FtdiPollPlanner::Begin(uint32_t, uint64_t nowNs) {
  startNs_ = nowNs;
  notBeforeNs_ = 0;
}

// Before the clock is set there is no time on the bus to speak of.
uint64_t FtdiPollPlanner::BytesToNs(uint64_t bytes) const {
  return busHz_ == 0 ? 0 : bytes * 8'000'000'000ull / busHz_;
}

uint64_t FtdiPollPlanner::NsToBytes(uint64_t ns) const { return ns * busHz_ / 8'000'000'000ull; }

void FtdiPollPlanner::Spacing(const PollRun& run, uint64_t elapsedNs, uint64_t* leadNs, uint64_t* gapNs) const {
  const uint64_t samples = samples_;
  const uint64_t minGapNs = BytesToNs(1);
  const bool firstBatch = run.batches == 0;
  if (firstBatch && run.learned && *run.learned > 0) {
    const uint64_t wait = *run.learned;
    *leadNs = wait - wait / kEarlyParts;
    *gapNs = std::max((wait / kEarlyParts + wait / kLateParts) / samples, minGapNs);
    return;
  }
  // Spans that grow as the square root of the time waited: few round trips
  // for a long wait, and little time past its end.
  const double grown = std::sqrt(static_cast<double>(kRoundTripNs) * static_cast<double>(elapsedNs));
  const uint64_t maxSpanNs = samples * BytesToNs(MpsseCommands::kMaxShift);
  const uint64_t spanNs = std::min(std::max(kRoundTripNs, static_cast<uint64_t>(grown)), maxSpanNs);
  *gapNs = std::max(spanNs / samples, minGapNs);
  *leadNs = firstBatch ? 0 : *gapNs;
  if (notBeforeNs_ > elapsedNs) *leadNs = std::max(*leadNs, notBeforeNs_ - elapsedNs);
}

std::vector<PollStep> FtdiPollPlanner::Plan(const PollRun& run, uint64_t nowNs) {
  std::vector<PollStep> steps;
  const uint64_t elapsedNs = nowNs - startNs_;
  uint64_t leadNs = 0, gapNs = 0;
  Spacing(run, elapsedNs, &leadNs, &gapNs);
  uint64_t at = elapsedNs;
  for (uint32_t i = 0; i < samples_; ++i) {
    const uint64_t idle = NsToBytes(i == 0 ? leadNs : gapNs);
    if (idle > 0) steps.push_back({.sample = false, .idleBytes = idle, .at = 0, .programIdle = false});
    at += BytesToNs(idle);
    steps.push_back({.sample = true, .idleBytes = 0, .at = at, .programIdle = false});
    at += BytesToNs(kSampleBytes);
  }
  return steps;
}

std::optional<uint64_t> FtdiPollPlanner::Pause(uint64_t bytes, uint64_t answered) {
  // The next poll's answer must be a sample taken at least this long after
  // the last one: the program counts the idle time as time waited.
  notBeforeNs_ = answered + BytesToNs(bytes);
  return notBeforeNs_;
}
