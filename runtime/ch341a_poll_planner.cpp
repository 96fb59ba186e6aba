// SPDX-License-Identifier: MIT
// The CH341A's batches of status reads.
#include "runtime/ch341a_poll_planner.h"

#include <algorithm>

namespace {

// A wait nothing is known of: samples one SPI packet apart.
constexpr uint32_t kFirstSpacing = 31;
constexpr uint32_t kMaxSpacing = 2048;
constexpr uint32_t kSpreadSamples = 8;
// A status read with the chip-select changes around it takes about as long
// on a CH341A as 6 bytes clocked idle (its USB packets included); the
// places of the samples count it so.
constexpr uint32_t kSampleBytes = 6;
// Around a learned wait: samples back to back, two before the point, two
// after it. Between two of them chip select is high for two pin changes,
// a microsecond or so: the chips need 50 to 250 ns.
constexpr uint32_t kSamplesBefore = 2;
constexpr uint32_t kSamplesAround = 5;
// A mirrored batch starts with 4 polls, doubling, up to this much idle.
constexpr uint32_t kFirstMirrored = 4;
constexpr uint32_t kMaxBatchIdle = 16384;

PollStep Sample() { return {.sample = true, .idleBytes = 0, .at = 0, .programIdle = false}; }
PollStep Idle(uint64_t bytes) { return {.sample = false, .idleBytes = bytes, .at = 0, .programIdle = false}; }

}  // namespace

uint32_t Ch341aPollPlanner::Key(uint8_t firstByte, size_t length) const {
  return uint32_t{firstByte} << 24 | static_cast<uint32_t>(std::min<size_t>(length, 0xFFFFFF));
}

void Ch341aPollPlanner::Begin(uint32_t key, uint64_t) {
  const auto gap = learnedGap_.find(key);
  programGap_ = gap == learnedGap_.end() ? 0 : gap->second;
  spacing_ = 0;
  offset_ = 0;
}

bool Ch341aPollPlanner::End(uint32_t key) {
  if (programGap_ != 0) {
    learnedGap_[key] = programGap_;
    return false;
  }
  learnedGap_.erase(key);
  return true;
}

std::optional<uint64_t> Ch341aPollPlanner::Pause(uint64_t bytes, uint64_t) {
  // The pause is the program's pattern from now on; the next batch repeats it.
  programGap_ = static_cast<uint32_t>(bytes);
  return std::nullopt;
}

std::vector<PollStep> Ch341aPollPlanner::Plan(const PollRun& run, uint64_t) {
  mirrored_ = enabled_ && programGap_ != 0;
  std::vector<PollStep> steps;
  if (!enabled_) {
    steps = {Sample()};
  } else if (mirrored_) {
    steps = PlanMirrored(run.batches);
  } else if (run.batches == 0 && run.learned) {
    steps = PlanAroundLearned(*run.learned);
  } else {
    steps = PlanSpread(run.batches);
  }
  Place(steps);
  return steps;
}

std::vector<PollStep> Ch341aPollPlanner::PlanMirrored(uint32_t batches) const {
  const uint32_t most = std::max(kFirstMirrored, kMaxBatchIdle / programGap_);
  const uint32_t samples = std::min(kFirstMirrored << std::min(batches, 16u), most);
  std::vector<PollStep> steps{Sample()};
  for (uint32_t i = 1; i < samples; ++i) {
    steps.push_back(Idle(programGap_));
    steps.push_back(Sample());
  }
  return steps;
}

std::vector<PollStep> Ch341aPollPlanner::PlanAroundLearned(uint64_t learned) const {
  const uint64_t before = kSamplesBefore * kSampleBytes;
  const uint32_t first = static_cast<uint32_t>(std::min<uint64_t>(learned > before ? learned - before : 0, UINT32_MAX));
  std::vector<PollStep> steps;
  if (first > 0) steps.push_back(Idle(first));
  steps.insert(steps.end(), kSamplesAround, Sample());
  return steps;
}

std::vector<PollStep> Ch341aPollPlanner::PlanSpread(uint32_t batches) {
  std::vector<PollStep> steps;
  if (batches == 0) {
    // The first sample at once: the chip may be ready already.
    spacing_ = kFirstSpacing;
    steps.push_back(Sample());
  } else {
    spacing_ = std::min(kMaxSpacing, std::max(kFirstSpacing, spacing_ * 2));
    steps.push_back(Idle(spacing_));
    steps.push_back(Sample());
  }
  while (steps.size() < 2 * kSpreadSamples - 1) {
    steps.push_back(Idle(spacing_));
    steps.push_back(Sample());
  }
  return steps;
}

void Ch341aPollPlanner::Place(std::vector<PollStep>& steps) {
  for (PollStep& step : steps) {
    if (step.sample) {
      step.at = offset_;
      offset_ += kSampleBytes;
    } else {
      offset_ += step.idleBytes;
      // The program's own idle clocks come to be answered; the planner's do not.
      step.programIdle = mirrored_;
    }
  }
}
