// SPDX-License-Identifier: MIT
// PollBatcher: a flash chip's status polls answered from samples that one
// USB write takes ahead, for every USB programmer's backend.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "runtime/poll_planner.h"

/// Polling the status is where a USB programmer's time goes: every read is
/// a round trip. So the first poll of a run of polls is sent as a batch of
/// status reads, each in a select period of its own, spaced by idle clocks
/// with chip select high; the program's next polls are answered from their
/// replies, one by one, each a true sample of the status at its moment,
/// until another transfer comes and drops what is left.
///
/// Recognising the status reads is the one piece of flash knowledge the
/// runtime has: 05 (the sector-erase chips) and D7 (the DataFlash) followed
/// by one byte read the status register and change nothing, so reading it
/// ahead of the program, or more often, leaves the chip as it was.
///
/// The batcher keeps the run, the stock of samples and, for each kind of
/// window a run followed, where the last such run found what it waited for;
/// the device's PollPlanner says where the samples of each batch go. The
/// backend puts each batch on its bus and hands back the replies.
class PollBatcher {
 public:
  /// `planner` outlives the batcher.
  explicit PollBatcher(PollPlanner& planner) : planner_(planner) {}

  /// Whether a select window of these bytes, alone, reads the status.
  static bool IsStatusRead(const uint8_t* tx, size_t count);

  /// A window that was no status read: a run of polls after it waits for
  /// what it asked the chip to do. `length`: its bytes so far.
  void NoteWindow(uint8_t firstByte, size_t length);
  /// The program reads the status with the two bytes `tx`: true, with the
  /// reply in `reply`, when the stock answers it.
  [[nodiscard]] bool Answer(const uint8_t* tx, uint8_t* reply);
  /// The program clocks `count` idle bytes between polls: true when the
  /// stock answers them (they need not be clocked).
  [[nodiscard]] bool AnswerIdle(size_t count);
  /// The batch for a status read `tx` that the stock could not answer, at
  /// `nowNs` on the device's clock.
  std::vector<PollStep> Plan(const uint8_t* tx, uint64_t nowNs);
  /// The replies of the planned batch's samples, in order: the first
  /// answers the read (into `reply`), the rest are kept.
  void Stock(const std::vector<PollStep>& plan, const std::vector<std::array<uint8_t, 2>>& replies, uint8_t* reply);
  /// Any other transfer: the run of polls ends and the stock is dropped.
  void EndRun();

  /// The samples a batch takes.
  static size_t Samples(const std::vector<PollStep>& plan);

 private:
  struct Entry {
    PollStep step;
    std::array<uint8_t, 2> reply;
  };
  void BeginRun(const uint8_t* tx, uint64_t nowNs);

  PollPlanner& planner_;
  uint32_t windowKey_ = 0;  // of the last window that was no status read
  std::map<uint32_t, uint64_t> learned_;

  bool inRun_ = false;
  std::array<uint8_t, 2> tx_{};  // the run's status read
  uint32_t key_ = 0;
  uint32_t batches_ = 0;
  uint64_t answered_ = 0;  // the place of the last sample given to the program
  std::deque<Entry> stock_;
};
