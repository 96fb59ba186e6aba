// SPDX-License-Identifier: MIT
// FtdiPollPlanner: where an FTDI MPSSE channel's batches of status reads
// put their samples, in time on its bus.
#pragma once

#include <cstdint>

#include "runtime/poll_planner.h"

/// A batch (`polls=`, 32 samples) runs on the bus whole before its replies
/// come back, so it is laid where the chip is likely to finish: up to just
/// past the time the last wait after a window that began with the same byte
/// took (the same command, in effect), and, with nothing to go by or past
/// that time, in spans growing with the square root of the time waited so
/// far, so that a long erase costs few round trips and little time after
/// its end. Places are nanoseconds since the run's first batch was sent, on
/// the device's clock: the round trips between batches pass too. An idle
/// gap the program asks for between two polls is not clocked: the samples
/// it covers are skipped instead.
class FtdiPollPlanner : public PollPlanner {
 public:
  explicit FtdiPollPlanner(uint32_t samples) : samples_(samples) {}

  /// The bus clock the bytes of a batch run at.
  void SetBusClock(uint32_t hz) { busHz_ = hz; }

  uint32_t Key(uint8_t firstByte, size_t length) const override;
  void Begin(uint32_t key, uint64_t nowNs) override;
  std::vector<PollStep> Plan(const PollRun& run, uint64_t nowNs) override;
  std::optional<uint64_t> Pause(uint64_t bytes, uint64_t answered) override;
  void BackToBack() override {}
  bool End(uint32_t) override { return true; }

 private:
  uint64_t BytesToNs(uint64_t bytes) const;
  uint64_t NsToBytes(uint64_t ns) const;
  /// The idle time before the batch's first sample and between two samples.
  void Spacing(const PollRun& run, uint64_t elapsedNs, uint64_t* leadNs, uint64_t* gapNs) const;

  const uint32_t samples_;
  uint32_t busHz_ = 0;
  uint64_t startNs_ = 0;     // when the run's first batch was planned
  uint64_t notBeforeNs_ = 0;  // the next sample's earliest place, after a pause
};
