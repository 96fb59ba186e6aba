// SPDX-License-Identifier: MIT
// PollBatcher: a flash chip's status polls answered from samples that one
// USB write takes ahead, and where in time those samples go.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

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
/// Where the samples go:
/// - When the program clocks idle between its polls (it does while an
///   erase runs), a batch repeats that pattern, and the program's idle
///   clocks are answered from it as well.
/// - When it polls back to back (page programs), the batcher learns how long
///   the last wait after the same kind of window (its first byte and length)
///   took, in bytes clocked since it began (a sample counting as 6), and
///   puts five samples back to back around that point. A wait it knows
///   nothing of gets a sample every 31 bytes (one SPI packet).
/// - A batch whose samples all came too early is followed by one whose
///   samples lie twice as far apart, up to 2048 bytes (11 ms at 1.5 MHz).
class PollBatcher {
 public:
  /// One step of a batch: a status read, or `idleBytes` clocked with chip
  /// select high.
  struct Step {
    bool sample;
    uint32_t idleBytes;

    bool operator==(const Step&) const = default;
  };

  /// A batcher that is not `enabled` plans one read a batch.
  explicit PollBatcher(bool enabled) : enabled_(enabled) {}

  /// Whether a select window of these bytes, alone, reads the status.
  static bool IsStatusRead(const uint8_t* tx, size_t count);

  /// A window that was no status read ended: a run of polls after it waits
  /// for what it asked the chip to do.
  void NoteWindow(uint8_t firstByte, size_t length);
  /// The program reads the status with `opcode`: true, with the reply, when
  /// the stock answers it.
  bool Answer(uint8_t opcode, uint8_t reply[2]);
  /// The program clocks `count` idle bytes between polls: true when the
  /// stock holds them (they have been clocked).
  bool AnswerIdle(size_t count);
  /// The batch for a status read that the stock could not answer.
  std::vector<Step> Plan(uint8_t opcode);
  /// The replies of the planned batch's samples, in order: the first
  /// answers the read (into `reply`), the rest are kept.
  void Stock(const std::vector<Step>& plan, const std::vector<std::array<uint8_t, 2>>& replies, uint8_t reply[2]);
  /// Any other transfer: the run of polls ends and the stock is dropped.
  void EndSequence();
  size_t Stocked() const { return stock_.size(); }

 private:
  struct Entry {
    bool sample;
    std::array<uint8_t, 2> reply;
    uint64_t offset;  // a sample's: bytes clocked since the run began
    uint32_t idleBytes;
  };
  void StartSequence(uint8_t opcode);
  std::vector<Step> PlanMirrored() const;
  std::vector<Step> PlanAroundLearned(uint64_t learned);
  std::vector<Step> PlanSpread();

  const bool enabled_;
  uint32_t windowKey_ = 0;  // of the last window that was no status read
  std::map<uint32_t, uint64_t> learnedOffset_;
  std::map<uint32_t, uint32_t> learnedGap_;

  bool inSequence_ = false;
  uint8_t opcode_ = 0;
  uint32_t key_ = 0;
  uint32_t programGap_ = 0;  // the program's own idle clocks between polls
  bool mirrored_ = false;    // the planned batch repeats them
  uint32_t batches_ = 0;
  uint32_t spacing_ = 0;
  uint64_t offset_ = 0;
  uint64_t answeredOffset_ = 0;
  std::deque<Entry> stock_;
};
