// SPDX-License-Identifier: MIT
// SerprogLink: the byte stream with one serprog device: commands written in
// order, each answer read in order with its ACK or NAK checked, every wait
// with a deadline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "runtime/serial_system.h"
#include "runtime/trace_writer.h"

/// A command whose answer nobody waits for yet may be queued and go with
/// later ones in one write; its answer is read, and checked, when a later
/// command's answer is needed, when the queue is pushed, or when room must
/// be made in the device's input buffer: the bytes written whose answers
/// have not been read stay within its size (S_CMD_Q_SERBUF), as a device
/// without flow control needs, except that a command longer than the
/// buffer goes alone. A NAK is the failure of the settle that reads it; the
/// answers after it are still read, so the stream stays in step. A byte
/// that is neither ACK nor NAK, the end of the stream, a write or read that
/// fails, or no answer by the deadline breaks the link: its answers can no
/// longer be matched to their commands, and every later call fails at once.
class SerprogLink {
 public:
  /// `fd` comes from `system`, which outlives the link. `name` names the
  /// device in reasons; `goneText` says what the end of the stream means
  /// ("the port closed: ..."). `timeoutMs`: how long an answer may take to
  /// begin, beyond the time its command keeps the device busy, and how long
  /// the device may fall silent in the middle of one.
  SerprogLink(SerialSystem& system, int fd, std::string name, std::string goneText, TraceWriter& trace,
              uint32_t timeoutMs);

  /// Brings the device's command parser to a known state: drops what has
  /// arrived, sends NOPs to finish a command it may be halfway through and
  /// S_CMD_SYNCNOP, looks for its NAK ACK, and sends S_CMD_SYNCNOP once more
  /// to be sure that answer was no stale one; when it was, or none came, the
  /// round starts again once the device has been silent for a while.
  [[nodiscard]] bool Synchronise();

  /// Queues `command` (its opcode first). Its answer is ACK and
  /// `replyLength` bytes, into `reply` (null: dropped), or NAK. `busyNs`:
  /// what the command keeps the device busy beyond its bytes' passage (its
  /// SPI clocking), added to its deadline. False when room had to be made
  /// in the device's buffer and settling failed.
  [[nodiscard]] bool Queue(std::vector<uint8_t> command, size_t replyLength, uint8_t* reply, uint64_t busyNs = 0);
  /// Writes what is queued, its answers left to be read later.
  [[nodiscard]] bool Push();
  /// Writes what is queued and reads every answer due.
  [[nodiscard]] bool Settle();
  /// Queues `command` and settles: its answer is in `reply` on return.
  [[nodiscard]] bool Ask(std::vector<uint8_t> command, size_t replyLength = 0, uint8_t* reply = nullptr,
                         uint64_t busyNs = 0);

  /// The device's input buffer, from S_CMD_Q_SERBUF.
  void SetBufferSize(uint32_t bytes) { bufferSize_ = bytes; }
  bool Broken() const { return broken_; }
  /// Why the last call failed.
  const std::string& Reason() const { return reason_; }

  uint64_t Writes() const { return writes_; }
  uint64_t Commands() const { return commands_; }
  uint64_t BytesOut() const { return bytesOut_; }
  uint64_t BytesIn() const { return bytesIn_; }

 private:
  struct Answer {
    uint8_t opcode;
    size_t commandBytes;
    size_t replyLength;
    uint8_t* reply;
    uint64_t busyMs;
  };
  enum class Got { kBytes, kTimedOut, kFailed };

  bool Fail(std::string reason);
  bool Break(std::string reason);
  /// Writes `count` one-byte commands `opcode` at once, their answers read
  /// by the caller.
  bool SendBare(uint8_t opcode, size_t count);
  /// Drops what arrives until nothing has for a while, or until `deadlineMs`.
  bool Drain(uint64_t deadlineMs);
  /// Writes `out_` whole, taking in what arrives meanwhile.
  bool WriteOut();
  /// Takes in what has arrived, without waiting; false when the stream broke.
  bool TakeIn();
  /// `n` bytes into `into` (null: dropped) by `deadlineMs`, which moves on
  /// while bytes keep coming; a time-out leaves what came in `*got`.
  Got Receive(uint8_t* into, size_t n, uint64_t deadlineMs, size_t* got);
  bool ReadAnswer(const Answer& answer);
  std::string TimeOut(uint8_t opcode, uint64_t waitedMs) const;
  void TraceWrite();

  SerialSystem& system_;
  const int fd_;
  const std::string name_;
  const std::string goneText_;
  TraceWriter& trace_;
  const uint32_t timeoutMs_;
  // Until the device says otherwise: what flashrom assumes of a device
  // that does not answer S_CMD_Q_SERBUF (serprog.c, sp_device_serbuf_size).
  uint32_t bufferSize_ = 16;

  std::vector<uint8_t> out_;        // queued, not written
  std::vector<size_t> outCommands_;  // where each queued command starts in out_
  std::deque<Answer> due_;          // answers not read, in order
  size_t unanswered_ = 0;           // bytes written or queued whose answers are due
  std::vector<uint8_t> in_;         // arrived ahead of being read
  size_t inAt_ = 0;
  bool broken_ = false;
  std::string reason_;

  uint64_t writes_ = 0;
  uint64_t commands_ = 0;
  uint64_t bytesOut_ = 0;
  uint64_t bytesIn_ = 0;
};
