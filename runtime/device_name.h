// Parsing an interface device name: which backend, which chip, which faults.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

/// What `sim:<CHIP>[,<key>[=<value>]]...` asks for.
struct SimDeviceRequest {
  std::string chip;       // as written; the simulator ignores letter case
  std::string imagePath;  // empty: contents live only as long as the interface
  std::optional<std::array<uint8_t, 3>> id;
  bool noChip = false;
  bool stuck = false;
  uint32_t failCall = 0;  // 0: no call fails
  uint32_t holdCall = 0;  // 0: no call waits for a signal
  bool protect = false;
  bool noCaps = false;
  std::optional<uint32_t> latencyUs;
  std::string tracePath;    // empty: no trace
  std::string summaryPath;  // empty: no summary line of its own
};

/// Parses a device name; false (with a reason in `error`) for a name that
/// does not parse, names no known backend, or carries an unknown key.
bool ParseDeviceName(const std::string& name, SimDeviceRequest* request, std::string* error);
