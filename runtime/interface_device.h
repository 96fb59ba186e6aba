// SPDX-License-Identifier: MIT
// InterfaceDevice: one open interface of the device runtime, as both runtime
// generations see it: its SPI port state, select line, configuration reset,
// call trace and summary, and the backend that moves its bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/backend.h"
#include "runtime/runtime_api.h"
#include "runtime/trace_writer.h"

/// Each operation serves one entry point, whose name it is given for the
/// trace, and returns what the entry point returns: true for success. A
/// failure whose backend gives a reason writes it to standard error.
class InterfaceDevice {
 public:
  /// Opens the device `name` names; null, with the reason in `error`, when
  /// the name does not parse or the device cannot be opened.
  static std::unique_ptr<InterfaceDevice> Open(const std::string& name, std::string* error);
  ~InterfaceDevice();

  bool Enable(const char* entry, int32_t port);
  bool Disable(const char* entry);
  /// `level` is the select line level: 0 low (selected), 1 high.
  bool SetSelect(const char* entry, int32_t level);
  /// The select line level as the last call left it. The first generation's
  /// transfers keep it: with chip select released they clock the bus idle.
  int32_t SelectLevel() const { return selectHigh_ ? RT_LINE_HIGH : RT_LINE_LOW; }
  bool SetMode(const char* entry, uint32_t mode, uint32_t lsbFirst);
  bool SetClock(const char* entry, uint32_t hz, uint32_t* granted);
  /// Mode and clock in one call, as the first generation sets them.
  bool SetModeAndClock(const char* entry, uint32_t mode, uint32_t lsbFirst, uint32_t hz);
  bool GetClock(const char* entry, uint32_t* hz);
  /// Drives select to `levelStart`, clocks `count` bytes (from `tx`, or
  /// copies of `fill` when `tx` is null) and drives select to `levelEnd`.
  bool Transfer(const char* entry, int32_t levelStart, int32_t levelEnd, const uint8_t* tx, uint8_t fill,
                uint8_t* rx, int32_t count);
  bool GetCaps(const char* entry, uint32_t* caps);
  /// The most bytes one select window may carry, 0 for no limit (Backend).
  bool GetWindowLimit(const char* entry, uint32_t* bytes);
  bool ConfigReset(const char* entry, int32_t asserted);
  /// Closes the backend (a simulated chip saves its contents) and closes the
  /// trace and the summary file with the run's summary line.
  bool Close(const char* entry);

 private:
  InterfaceDevice() = default;
  // Starts a call that drives the bus; false while the port is disabled.
  bool BeginBusCall() const { return enabled_; }
  bool ApplyMode(uint32_t mode, uint32_t lsbFirst);
  bool ApplyClock(uint32_t hz, uint32_t* granted);
  /// Records the call and, when it failed, the backend's reason.
  bool Trace(const std::string& call, bool result);
  std::string Summary() const;

  TraceWriter trace_;
  // Records no calls: it only receives the summary line when the device closes.
  TraceWriter summary_;
  // After the trace, which the backend writes its details into.
  std::unique_ptr<Backend> backend_;
  bool enabled_ = false;
  bool configReset_ = false;
  bool selectHigh_ = true;
};
