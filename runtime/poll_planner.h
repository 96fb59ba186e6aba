// SPDX-License-Identifier: MIT
// PollPlanner: where in time a device's batch of status reads puts its
// samples, the one part of PollBatcher that each USB programmer has its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

/// One step of a batch: a sample, a status read in a select period of its
/// own, or `idleBytes` clocked with chip select high.
struct PollStep {
  bool sample;
  uint64_t idleBytes;  // an idle step's
  uint64_t at;         // a sample's place in the run, in the planner's own unit
  /// An idle step that repeats the program's own pause between two polls;
  /// it answers that pause when the program makes it.
  bool programIdle;

  bool operator==(const PollStep&) const = default;
};

/// A run of polls as PollBatcher keeps it, for the planning of its next batch.
struct PollRun {
  uint32_t key;      // the kind of window the polls follow (PollPlanner::Key)
  uint32_t batches;  // planned before this one
  /// Where the last run after the same kind of window found what it waited
  /// for: the place of the last sample the program was given.
  std::optional<uint64_t> learned;
};

/// How a device spaces its samples follows from what its round trips and
/// its bus cost: a planner counts places in whatever unit suits it (bus
/// bytes, nanoseconds) and the batcher only compares them.
class PollPlanner {
 public:
  virtual ~PollPlanner() = default;

  /// The kind of a window by its first byte and length: the runs of polls
  /// after windows of one kind wait alike.
  virtual uint32_t Key(uint8_t firstByte, size_t length) const = 0;
  /// A run of polls begins at `nowNs` after a window of kind `key`.
  virtual void Begin(uint32_t key, uint64_t nowNs) = 0;
  /// The next batch of the run, each sample's place counted from its start.
  virtual std::vector<PollStep> Plan(const PollRun& run, uint64_t nowNs) = 0;
  /// The program pauses `bytes` of clocks between two polls, after the
  /// sample at `answered`: the place from which the stock's samples stand in
  /// for the pause, which then is not clocked; nothing when the pause must be
  /// clocked and the stock is of no more use.
  virtual std::optional<uint64_t> Pause(uint64_t bytes, uint64_t answered) = 0;
  /// The program polled where the batch repeated its pause: it polls back to
  /// back after all.
  virtual void BackToBack() = 0;
  /// The run after a window of kind `key` ends: true when the batcher is to
  /// learn where it found what it waited for.
  virtual bool End(uint32_t key) = 0;
};
