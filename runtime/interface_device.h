// InterfaceDevice: one open interface of the device runtime, as both runtime
// generations see it: its SPI port state, select line, clock, configuration
// reset, the simulated chip on its bus, and the call trace.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/trace_writer.h"
#include "sim/sim_interface.h"

/// Each operation serves one entry point, whose name it is given for the
/// trace, and returns what the entry point returns: true for success.
class InterfaceDevice {
 public:
  /// Opens the device `name` names; null, with the reason in `error`, when
  /// the name does not parse or the device cannot be built.
  static std::unique_ptr<InterfaceDevice> Open(const std::string& name, std::string* error);
  ~InterfaceDevice();

  bool Enable(const char* entry, int32_t port);
  bool Disable(const char* entry);
  /// `level` is the select line level: 0 low (selected), 1 high.
  bool SetSelect(const char* entry, int32_t level);
  bool SetMode(const char* entry, uint32_t mode, uint32_t lsbFirst);
  bool SetClock(const char* entry, uint32_t hz, uint32_t* granted);
  bool GetClock(const char* entry, uint32_t* hz);
  /// Drives select to `levelStart`, clocks `count` bytes (from `tx`, or
  /// copies of `fill` when `tx` is null) and drives select to `levelEnd`.
  bool Transfer(const char* entry, int32_t levelStart, int32_t levelEnd, const uint8_t* tx, uint8_t fill,
                uint8_t* rx, int32_t count);
  bool GetCaps(const char* entry, uint32_t* caps);
  bool ConfigReset(const char* entry, int32_t asserted);
  /// Saves the chip contents and closes the trace and the summary file with
  /// the run's summary line.
  bool Close(const char* entry);

 private:
  InterfaceDevice(std::unique_ptr<SimInterface> sim, bool noCaps);
  // Starts a call that drives the bus; false when it must fail.
  bool BeginBusCall();
  void SetSelectLine(bool high);
  bool Trace(const std::string& call, bool result);
  std::string Summary() const;

  std::unique_ptr<SimInterface> sim_;
  TraceWriter trace_;
  // Records no calls: it only receives the summary line when the device closes.
  TraceWriter summary_;
  bool noCaps_;
  bool enabled_ = false;
  bool configReset_ = false;
  bool selectHigh_ = true;
  int32_t port_ = 0;
  uint32_t mode_ = 0;
  uint32_t lsbFirst_ = 0;
};
