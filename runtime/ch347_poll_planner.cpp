// SPDX-License-Identifier: MIT
// The batches of status reads of a CH347.
#include "runtime/ch347_poll_planner.h"

#include <algorithm>
#include <cmath>

#include "runtime/ch347_stream.h"

namespace {

constexpr uint32_t kSpreadSamples = 8;
constexpr uint32_t kSamplesAround = 3;
// A spread batch covers at most this long: a long erase polls every 10 ms
// or so at the end of its batches.
constexpr uint64_t kMostSpanNs = 80'000'000;
// A sample: select, the exchange of the status read and its reply, release.
constexpr uint64_t kSampleCommands = 4;
constexpr uint64_t kSampleBytes = 2;

PollStep Sample(uint64_t at) { return {.sample = true, .idleBytes = 0, .at = at, .programIdle = false}; }
PollStep Idle(uint64_t bytes) { return {.sample = false, .idleBytes = bytes, .at = 0, .programIdle = false}; }

}  // namespace

// The command byte alone: a wait after a page program is the same however
// long the page.
uint32_t Ch347PollPlanner::Key(uint8_t firstByte, size_t) const { return firstByte; }

void Ch347PollPlanner::Begin(uint32_t, uint64_t nowNs) {
  startNs_ = nowNs;
  notBeforeNs_ = 0;
}

// Before the clock is set there is no time on the bus to speak of.
uint64_t Ch347PollPlanner::BytesToNs(uint64_t bytes) const {
  return busHz_ == 0 ? 0 : bytes * 8'000'000'000ull / busHz_;
}

uint64_t Ch347PollPlanner::IdleNs(uint64_t bytes) const {
  return BytesToNs(bytes) + (bytes + ch347::kMostData - 1) / ch347::kMostData * kCommandNs;
}

uint64_t Ch347PollPlanner::IdleBytes(uint64_t ns) const {
  if (busHz_ == 0 || ns <= kCommandNs) return ns == 0 ? 0 : 1;
  const uint64_t chunkNs = IdleNs(ch347::kMostData);
  const uint64_t chunks = ns / chunkNs;
  const uint64_t rest = ns % chunkNs;
  const uint64_t restBytes = rest > kCommandNs ? (rest - kCommandNs) * busHz_ / 8'000'000'000ull : 0;
  return std::max<uint64_t>(1, chunks * ch347::kMostData + restBytes);
}

uint64_t Ch347PollPlanner::SampleNs() const { return kSampleCommands * kCommandNs + BytesToNs(kSampleBytes); }

std::vector<PollStep> Ch347PollPlanner::Plan(const PollRun& run, uint64_t nowNs) {
  const uint64_t elapsedNs = nowNs - startNs_;
  std::vector<PollStep> steps;
  uint64_t at = elapsedNs;
  const auto add = [&](uint64_t idleNs, uint32_t samples) {
    const uint64_t lead = std::max(idleNs, notBeforeNs_ > at ? notBeforeNs_ - at : 0);
    if (lead > 0) {
      const uint64_t bytes = IdleBytes(lead);
      steps.push_back(Idle(bytes));
      at += IdleNs(bytes);
    }
    for (uint32_t i = 0; i < samples; ++i) {
      steps.push_back(Sample(at));
      at += SampleNs();
    }
  };
  if (!enabled_) {
    add(0, 1);
  } else if (run.batches == 0 && run.learned && *run.learned > SampleNs()) {
    add(*run.learned - SampleNs(), kSamplesAround);
  } else {
    const double grown = std::sqrt(static_cast<double>(kRoundTripNs) * static_cast<double>(elapsedNs));
    const uint64_t spanNs = std::min(std::max(kRoundTripNs, static_cast<uint64_t>(grown)), kMostSpanNs);
    const uint64_t gapNs = spanNs / kSpreadSamples > SampleNs() ? spanNs / kSpreadSamples - SampleNs() : 0;
    // The first sample of a run at once: the chip may be ready already.
    add(run.batches == 0 ? 0 : gapNs, 1);
    for (uint32_t i = 1; i < kSpreadSamples; ++i) add(gapNs, 1);
  }
  return steps;
}

std::optional<uint64_t> Ch347PollPlanner::Pause(uint64_t bytes, uint64_t answered) {
  // The next poll's answer must be a sample taken at least this long after
  // the last one: the program counts the idle time as time waited.
  notBeforeNs_ = answered + BytesToNs(bytes);
  return notBeforeNs_;
}
