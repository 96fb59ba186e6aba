// SPDX-License-Identifier: MIT
// Status polls answered from batches of samples.
#include "runtime/poll_batcher.h"

#include <algorithm>

namespace {

constexpr uint8_t kReadStatus = 0x05;          // sector-erase chips
constexpr uint8_t kReadDataFlashStatus = 0xD7;  // DataFlash

}  // namespace

bool PollBatcher::IsStatusRead(const uint8_t* tx, size_t count) {
  return tx && count == 2 && (tx[0] == kReadStatus || tx[0] == kReadDataFlashStatus);
}

size_t PollBatcher::Samples(const std::vector<PollStep>& plan) {
  return static_cast<size_t>(std::count_if(plan.begin(), plan.end(), [](const PollStep& s) { return s.sample; }));
}

void PollBatcher::NoteWindow(uint8_t firstByte, size_t length) {
  EndRun();
  windowKey_ = planner_.Key(firstByte, length);
}

void PollBatcher::BeginRun(const uint8_t* tx, uint64_t nowNs) {
  inRun_ = true;
  std::copy(tx, tx + 2, tx_.begin());
  key_ = windowKey_;
  batches_ = 0;
  answered_ = 0;
  stock_.clear();
  planner_.Begin(key_, nowNs);
}

void PollBatcher::EndRun() {
  if (!inRun_) return;
  if (planner_.End(key_)) learned_[key_] = answered_;
  inRun_ = false;
  stock_.clear();
}

bool PollBatcher::Answer(const uint8_t* tx, uint8_t* reply) {
  if (!inRun_ || !std::equal(tx_.begin(), tx_.end(), tx) || stock_.empty()) return false;
  if (!stock_.front().step.sample) {
    // Where the batch repeated the program's pause, it polls.
    stock_.clear();
    planner_.BackToBack();
    return false;
  }
  std::copy(stock_.front().reply.begin(), stock_.front().reply.end(), reply);
  answered_ = stock_.front().step.at;
  stock_.pop_front();
  return true;
}

bool PollBatcher::AnswerIdle(size_t count) {
  if (!inRun_) return false;
  if (!stock_.empty() && !stock_.front().step.sample && stock_.front().step.idleBytes == count) {
    stock_.pop_front();
    return true;
  }
  const std::optional<uint64_t> keepFrom = planner_.Pause(count, answered_);
  if (!keepFrom) {
    stock_.clear();
    return false;
  }
  while (!stock_.empty() && (!stock_.front().step.sample || stock_.front().step.at < *keepFrom)) stock_.pop_front();
  return true;
}

std::vector<PollStep> PollBatcher::Plan(const uint8_t* tx, uint64_t nowNs) {
  if (inRun_ && !std::equal(tx_.begin(), tx_.end(), tx)) EndRun();
  if (!inRun_) BeginRun(tx, nowNs);
  const auto learned = learned_.find(key_);
  const PollRun run{.key = key_,
                    .batches = batches_,
                    .learned = learned == learned_.end() ? std::nullopt : std::optional<uint64_t>(learned->second)};
  ++batches_;
  return planner_.Plan(run, nowNs);
}

void PollBatcher::Stock(const std::vector<PollStep>& plan, const std::vector<std::array<uint8_t, 2>>& replies,
                        uint8_t* reply) {
  size_t next = 0;
  for (const PollStep& step : plan) {
    if (step.sample && next < replies.size()) {
      stock_.push_back({step, replies[next++]});
    } else if (step.programIdle) {
      stock_.push_back({step, {}});
    }
  }
  // The first sample of a batch answers the read that asked for it. A batch
  // without one (a planner's fault) answers FF, as a bus without a chip
  // does, and the program polls again.
  if (!Answer(tx_.data(), reply)) std::fill(reply, reply + 2, 0xFF);
}
