// SPDX-License-Identifier: MIT
// RecordingSpiCtl: a fake SPI controller that logs every call, answers from
// a script, and renders its log in the chip's own terms for whole-log checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "spi/spictl.h"

namespace testsupport {

/// One logged controller call.
struct SpiCall {
  enum class Op {
    Open,
    Close,
    EnableSpi,
    SetPort,
    SetSpiMode,
    SetSpeed,
    SetSelect,
    PutByte,
    Put,
    Get,
    PutSelect
  };
  Op op;
  /// SetSelect: 1 select, 0 release; EnableSpi: 1/0; SetPort: the port;
  /// SetSpiMode: the mode; SetSpeed: the clock in Hz; Get: the fill byte;
  /// PutSelect: the select level at the start plus twice the one at the end.
  uint32_t arg = 0;
  uint32_t lsbFirst = 0;               // SetSpiMode
  std::vector<uint8_t> sent = {};      // bytes clocked out
  std::vector<uint8_t> answered = {};  // bytes clocked in (empty when the call failed)
  bool receiving = false;              // the caller passed a receive buffer
  bool failed = false;
};

/// Answers 0xFF to every byte (no chip driving the data line) unless told
/// otherwise. Starts open and SPI-enabled unless constructed with `ready`
/// false; transfers refuse, like the real adapters, while it is not both.
class RecordingSpiCtl : public SPICTL {
 public:
  explicit RecordingSpiCtl(uint32_t kind = SPIKIND_RT1, bool ready = true);

  /// In every select period that starts with `opcode`, the byte clocked in at
  /// position `from` + i (the opcode is position 0) is `bytes[i]`.
  void Answer(uint8_t opcode, std::vector<uint8_t> bytes, size_t from = 1);
  /// Select periods that start with `opcode` are status reads: each answers
  /// the next value of `sequence` from position 1 on; the last value repeats.
  /// They render as "<opcode> poll".
  void AnswerStatus(uint8_t opcode, std::vector<uint8_t> sequence);
  /// The call at this position of the log (from 0) fails with `code`.
  void FailCall(size_t index, int32_t code = SPIERR_CALL_FAILED);
  /// Runs after every call is logged (to move a fake clock, for instance).
  void OnCall(std::function<void(const SpiCall&)> hook) { hook_ = std::move(hook); }

  const std::vector<SpiCall>& Calls() const { return calls_; }
  void ClearLog() { calls_.clear(); }

  /// The log in the chip's terms, a line per select period (or PutSelect):
  /// the first four bytes sent in hex, then "+N" for each further run of N
  /// bytes put, "+N of FF" for N fill bytes got, e.g. "02 00 01 F0 +16",
  /// "03 01 23 45 +65536 of 55". Status reads read "05 poll"; a run of equal
  /// lines reads "<line> xN". " !failed" marks a period with a failed call,
  /// " !no release" one that was never released, "(empty)" one without a
  /// transfer, "unselected " a transfer outside any, except that FF bytes
  /// clocked with chip select released (a Put outside any period, or a
  /// PutSelect that keeps the line high) read "idle N". Other calls read
  /// "open", "close", "enable 1", "port 0", "mode 0 lsb 0", "speed 50000000".
  std::vector<std::string> Transactions() const;
  /// The calls one by one: "select", "release", "put 4", "put 2 rx",
  /// "get 10 fill 55", "putselect 260", "putselect 3750 high" (select kept
  /// released); other calls as in Transactions().
  std::vector<std::string> CallShapes() const;
  /// The bytes sent in each select period (or PutSelect), in order.
  std::vector<std::vector<uint8_t>> SentPerTransaction() const;

  bool Setup(int32_t* out) override;
  bool Open(int32_t* out) override;
  void Close() override;
  bool EnableSpi(bool enable, int32_t* out) override;
  bool SetSelect(bool selected, int32_t* out) override;
  bool SetPort(int port, int32_t* out) override;
  bool SetSpiMode(uint32_t mode, int lsbFirst, int32_t* out) override;
  bool SetSpeed(uint32_t hz, int32_t* out) override;
  bool PutByte(uint8_t tx, uint8_t* rx, int32_t* out) override;
  bool PutSelect(int32_t count, uint8_t levelStart, uint8_t levelEnd, const uint8_t* tx, uint8_t* rx,
                 int32_t* out) override;
  bool Put(int32_t count, const uint8_t* tx, uint8_t* rx, int32_t* out) override;
  bool Get(int32_t count, uint8_t fill, uint8_t* rx, int32_t* out) override;
  /// As the adapter of its kind: the second generation selects in one call.
  bool SelectsInOneCall() override { return kind == SPIKIND_RT2; }

 private:
  struct Reply {
    size_t from;
    std::vector<uint8_t> bytes;
  };

  /// Logs the call; false (with `out` set) when the script fails it.
  bool Record(SpiCall call, int32_t* out);
  /// Logs a call that stopped at the readiness check; `out` stays untouched.
  bool Refuse(SpiCall call);
  /// Clocks `sent` through the current select period, logging it.
  bool Exchange(SpiCall call, uint8_t* rx, int32_t* out);
  uint8_t AnswerAt(size_t position);
  void StartPeriod();

  std::vector<SpiCall> calls_;
  std::map<uint8_t, Reply> replies_;
  std::map<uint8_t, std::vector<uint8_t>> statusSequences_;
  std::map<uint8_t, size_t> statusReads_;
  std::map<size_t, int32_t> failures_;
  std::function<void(const SpiCall&)> hook_;
  bool selected_ = false;
  std::vector<uint8_t> period_;  // bytes sent since the chip was selected
  uint8_t currentStatus_ = 0xFF;
};

}  // namespace testsupport
