// SPDX-License-Identifier: MIT
// Ch347PollPlanner: where a CH347's batches of status reads put their
// samples, in time on the device.
#pragma once

#include <cstdint>

#include "runtime/poll_planner.h"

/// On the CH347 every command costs more than its bytes on the bus: a
/// status sample is three commands (select, the two-byte exchange,
/// release) and a reply, some 100 µs whatever the clock, close to a USB
/// round trip (125 µs at high speed). So a batch has few samples:
/// - after a window whose wait is known (the last wait after a window that
///   began with the same byte), idle clocks up to a sample's time before
///   that wait ends, then three samples back to back;
/// - otherwise eight samples, the first at once, spaced in spans that grow
///   with the square root of the time waited, so that a long erase costs
///   few round trips and little time after its end.
/// Places are nanoseconds since the run's first batch was planned, on the
/// device's clock. An idle gap the program asks for between two polls is
/// not clocked: the samples it covers are skipped instead.
class Ch347PollPlanner : public PollPlanner {
 public:
  /// What one command costs the device besides its bytes on the bus. The
  /// published read rate of 4,950 KB/s at 60 MHz (981213/ch347-nor-prog,
  /// README.md) is 100 µs for a reply of 507 bytes, 68 µs of them on the
  /// bus and 9 µs on the USB.
  static constexpr uint64_t kCommandNs = 23'000;
  static constexpr uint64_t kRoundTripNs = 125'000;

  /// A planner that is not `enabled` plans one read a batch.
  explicit Ch347PollPlanner(bool enabled) : enabled_(enabled) {}

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
  /// The time of `bytes` clocked idle, in commands of up to 507 bytes.
  uint64_t IdleNs(uint64_t bytes) const;
  /// The idle bytes that take about `ns`.
  uint64_t IdleBytes(uint64_t ns) const;
  uint64_t SampleNs() const;

  const bool enabled_;
  uint32_t busHz_ = 0;
  uint64_t startNs_ = 0;      // when the run's first batch was planned
  uint64_t notBeforeNs_ = 0;  // the next sample's earliest place, after a pause
};
