// SPDX-License-Identifier: MIT
// Ch341aPollPlanner: where the CH341A's batches of status reads put their
// samples, counted in bytes clocked on its fixed 1.5 MHz bus.
#pragma once

#include <cstdint>
#include <map>

#include "runtime/poll_planner.h"

/// A CH341A round trip takes a millisecond, some 190 bytes on its bus, so a
/// batch is laid out in bytes:
/// - When the program clocks idle between its polls (it does while an
///   erase runs), a batch repeats that pattern, and the program's idle
///   clocks are answered from it as well.
/// - When it polls back to back (page programs), the planner learns how long
///   the last wait after the same kind of window (its first byte and length)
///   took, in bytes clocked since it began (a sample counting as 6), and
///   puts five samples back to back around that point. A wait it knows
///   nothing of gets a sample every 31 bytes (one SPI packet).
/// - A batch whose samples all came too early is followed by one whose
///   samples lie twice as far apart, up to 2048 bytes (11 ms at 1.5 MHz).
class Ch341aPollPlanner : public PollPlanner {
 public:
  /// A planner that is not `enabled` plans one read a batch.
  explicit Ch341aPollPlanner(bool enabled) : enabled_(enabled) {}

  uint32_t Key(uint8_t firstByte, size_t length) const override;
  void Begin(uint32_t key, uint64_t nowNs) override;
  std::vector<PollStep> Plan(const PollRun& run, uint64_t nowNs) override;
  std::optional<uint64_t> Pause(uint64_t bytes, uint64_t answered) override;
  void BackToBack() override { programGap_ = 0; }
  bool End(uint32_t key) override;

 private:
  std::vector<PollStep> PlanMirrored(uint32_t batches) const;
  std::vector<PollStep> PlanAroundLearned(uint64_t learned) const;
  std::vector<PollStep> PlanSpread(uint32_t batches);
  /// Gives the samples their places, from where the last batch ended.
  void Place(std::vector<PollStep>& steps);

  const bool enabled_;
  std::map<uint32_t, uint32_t> learnedGap_;  // the program's pause after each kind of window
  uint32_t programGap_ = 0;  // the program's own idle clocks between polls
  bool mirrored_ = false;    // the planned batch repeats them
  uint32_t spacing_ = 0;
  uint64_t offset_ = 0;  // bytes clocked since the run began, as planned
};
