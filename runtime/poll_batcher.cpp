// SPDX-License-Identifier: MIT
// Status polls answered from batches of samples.
#include "runtime/poll_batcher.h"

#include <algorithm>

namespace {

constexpr uint8_t kReadStatus = 0x05;          // sector-erase chips
constexpr uint8_t kReadDataFlashStatus = 0xD7;  // DataFlash
// A wait nothing is known of: samples one SPI packet apart.
constexpr uint32_t kFirstSpacing = 31;
constexpr uint32_t kMaxSpacing = 2048;
constexpr uint32_t kSpreadSamples = 8;
// A status read with the chip-select changes around it takes about as long
// on a CH341A as 6 bytes clocked idle (its USB packets included); the
// offsets of the samples count it so.
constexpr uint32_t kSampleBytes = 6;
// Around a learned wait: samples back to back, two before the point, two
// after it. Between two of them chip select is high for two pin changes,
// a microsecond or so: the chips need 50 to 250 ns.
constexpr uint32_t kSamplesBefore = 2;
constexpr uint32_t kSamplesAround = 5;
// A mirrored batch starts with 4 polls, doubling, up to this much idle.
constexpr uint32_t kFirstMirrored = 4;
constexpr uint32_t kMaxBatchIdle = 16384;

}  // namespace

bool PollBatcher::IsStatusRead(const uint8_t* tx, size_t count) {
  return tx && count == 2 && (tx[0] == kReadStatus || tx[0] == kReadDataFlashStatus);
}

void PollBatcher::NoteWindow(uint8_t firstByte, size_t length) {
  EndSequence();
  windowKey_ = uint32_t{firstByte} << 24 | static_cast<uint32_t>(std::min<size_t>(length, 0xFFFFFF));
}

void PollBatcher::StartSequence(uint8_t opcode) {
  inSequence_ = true;
  opcode_ = opcode;
  key_ = windowKey_;
  const auto gap = learnedGap_.find(key_);
  programGap_ = gap == learnedGap_.end() ? 0 : gap->second;
  batches_ = 0;
  spacing_ = 0;
  offset_ = 0;
  answeredOffset_ = 0;
  stock_.clear();
}

void PollBatcher::EndSequence() {
  if (!inSequence_) return;
  if (programGap_ != 0) {
    learnedGap_[key_] = programGap_;
  } else {
    learnedGap_.erase(key_);
    learnedOffset_[key_] = answeredOffset_;
  }
  inSequence_ = false;
  stock_.clear();
}

bool PollBatcher::Answer(uint8_t opcode, uint8_t reply[2]) {
  if (!inSequence_ || opcode != opcode_ || stock_.empty()) return false;
  if (!stock_.front().sample) {
    // The program polls back to back after all.
    stock_.clear();
    programGap_ = 0;
    return false;
  }
  std::copy(stock_.front().reply.begin(), stock_.front().reply.end(), reply);
  answeredOffset_ = stock_.front().offset;
  stock_.pop_front();
  return true;
}

bool PollBatcher::AnswerIdle(size_t count) {
  if (!inSequence_) return false;
  if (!stock_.empty() && !stock_.front().sample && stock_.front().idleBytes == count) {
    stock_.pop_front();
    return true;
  }
  stock_.clear();
  programGap_ = static_cast<uint32_t>(count);
  return false;
}

std::vector<PollBatcher::Step> PollBatcher::Plan(uint8_t opcode) {
  if (inSequence_ && opcode != opcode_) EndSequence();
  if (!inSequence_) StartSequence(opcode);
  mirrored_ = enabled_ && programGap_ != 0;
  std::vector<Step> steps;
  if (!enabled_) {
    steps = {{true, 0}};
  } else if (mirrored_) {
    steps = PlanMirrored();
  } else if (const auto learned = learnedOffset_.find(key_); batches_ == 0 && learned != learnedOffset_.end()) {
    steps = PlanAroundLearned(learned->second);
  } else {
    steps = PlanSpread();
  }
  ++batches_;
  return steps;
}

std::vector<PollBatcher::Step> PollBatcher::PlanMirrored() const {
  const uint32_t most = std::max(kFirstMirrored, kMaxBatchIdle / programGap_);
  const uint32_t samples = std::min(kFirstMirrored << std::min(batches_, 16u), most);
  std::vector<Step> steps{{true, 0}};
  for (uint32_t i = 1; i < samples; ++i) {
    steps.push_back({false, programGap_});
    steps.push_back({true, 0});
  }
  return steps;
}

std::vector<PollBatcher::Step> PollBatcher::PlanAroundLearned(uint64_t learned) {
  const uint64_t before = kSamplesBefore * kSampleBytes;
  const uint32_t first = static_cast<uint32_t>(std::min<uint64_t>(learned > before ? learned - before : 0, UINT32_MAX));
  std::vector<Step> steps;
  if (first > 0) steps.push_back({false, first});
  steps.insert(steps.end(), kSamplesAround, {true, 0});
  return steps;
}

std::vector<PollBatcher::Step> PollBatcher::PlanSpread() {
  std::vector<Step> steps;
  if (batches_ == 0) {
    // The first sample at once: the chip may be ready already.
    spacing_ = kFirstSpacing;
    steps.push_back({true, 0});
  } else {
    spacing_ = std::min(kMaxSpacing, std::max(kFirstSpacing, spacing_ * 2));
    steps.push_back({false, spacing_});
    steps.push_back({true, 0});
  }
  while (steps.size() < 2 * kSpreadSamples - 1) {
    steps.push_back({false, spacing_});
    steps.push_back({true, 0});
  }
  return steps;
}

void PollBatcher::Stock(const std::vector<Step>& plan, const std::vector<std::array<uint8_t, 2>>& replies,
                        uint8_t reply[2]) {
  size_t next = 0;
  for (const Step& step : plan) {
    if (step.sample) {
      stock_.push_back({.sample = true, .reply = replies[next++], .offset = offset_, .idleBytes = 0});
      offset_ += kSampleBytes;
    } else {
      offset_ += step.idleBytes;
      // The program's own idle clocks come to be answered; the batcher's do not.
      if (mirrored_) stock_.push_back({.sample = false, .reply = {}, .offset = 0, .idleBytes = step.idleBytes});
    }
  }
  // The first sample of a batch answers the read that asked for it.
  Answer(opcode_, reply);
}
