// SPDX-License-Identifier: MIT
// Parsing an interface device name: which backend, what it is told to open,
// and its keys.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/text.h"

/// Keys every backend takes.
struct CommonKeys {
  std::string tracePath;    // empty: no trace
  std::string summaryPath;  // empty: no summary line of its own

  bool operator==(const CommonKeys&) const = default;
};

/// What `sim:<CHIP>[,<key>[=<value>]]...` asks for.
struct SimDeviceRequest {
  std::string chip;       // as written; the simulator ignores letter case
  std::string imagePath;  // empty: contents live only as long as the interface
  std::optional<std::array<uint8_t, 3>> id;
  bool noChip = false;
  bool stuck = false;
  uint32_t failCall = 0;  // 0: no call fails
  uint32_t holdCall = 0;  // 0: no call waits for a signal
  bool protect = false;  // every sector protected
  std::optional<uint32_t> protectBits;  // protect=<bits>; the later protect key wins
  bool writeProtectPin = false;         // wp: W# held low
  bool quadEnable = false;              // qe: QE set at power-up
  bool noSfdp = false;                  // sfdp=off
  std::string sfdpPath;                 // sfdp=<file>; the later sfdp key wins
  std::optional<uint32_t> topClockHz;   // clock=<Hz>: the fastest clock the interface grants
  std::vector<uint32_t> flips;          // flip=<address>, once per address
  bool noCaps = false;
  std::optional<uint32_t> latencyUs;

  bool operator==(const SimDeviceRequest&) const = default;
};

/// A GPIO line: `<chip>:<line>[:active-high]`.
struct GpioLineName {
  std::string chip;  // a character device, its name or label, or its number
  uint32_t line = 0;
  bool activeHigh = false;

  bool operator==(const GpioLineName&) const = default;
};

/// What `spidev:<node>[,<key>[=<value>]]...` asks for.
struct SpidevDeviceRequest {
  std::string node;
  uint32_t speedCap = 0;  // Hz; 0: the clock the program asks for
  uint32_t xferCap = 0;   // bytes a transfer may carry at most; 0: no cap of its own
  std::optional<GpioLineName> reset;

  bool operator==(const SpidevDeviceRequest&) const = default;
};

/// A pin of an FTDI chip's MPSSE channel: ADBUS<n>, the low byte, whose
/// pins 0 to 2 are the clock and the two data lines, or ACBUS<n>, the high
/// byte (on a second channel they are BDBUS and BCBUS; the names stay).
struct FtdiPin {
  bool highByte = false;
  uint8_t bit = 3;

  bool operator==(const FtdiPin&) const = default;
};

/// The most status reads one USB round trip carries: their replies must fit
/// the smallest device buffer (1 KiB on the FT232H) with room to spare.
constexpr uint32_t kMaxFtdiPollBatch = 256;

/// What `ftdi:[<key>[=<value>]][,...]` asks for.
struct FtdiDeviceRequest {
  std::optional<uint16_t> vid;  // nothing: 0x0403
  std::optional<uint16_t> pid;  // nothing: the first FT232H, FT2232H or FT4232H
  std::string serial;           // empty: any
  uint32_t index = 0;           // of the devices that match
  char channel = 'A';           // A to D
  FtdiPin cs;                   // ADBUS3
  std::optional<FtdiPin> reset;
  bool resetActiveHigh = false;
  uint32_t speedCap = 0;     // Hz; 0: the clock the program asks for
  uint32_t pollBatch = 32;   // status reads one USB round trip may carry

  bool operator==(const FtdiDeviceRequest&) const = default;
};

/// What `ch341a:[index=<n>][,<key>[=<value>]]...` asks for.
struct Ch341aDeviceRequest {
  uint32_t index = 0;    // the n-th CH341A, counted in order of bus and address
  bool noBatch = false;  // one USB round trip for every status read

  bool operator==(const Ch341aDeviceRequest&) const = default;
};

/// A parsed device name: the scheme before the first colon picks the backend.
struct DeviceRequest {
  CommonKeys common;
  std::variant<SimDeviceRequest, SpidevDeviceRequest, FtdiDeviceRequest, Ch341aDeviceRequest> backend;

  bool operator==(const DeviceRequest&) const = default;
};

/// Parses a device name; false (with a reason in `error`) for a name that
/// does not parse, names no known backend, or carries an unknown key.
bool ParseDeviceName(const std::string& name, DeviceRequest* request, std::string* error);

/// One `<key>[=<value>]` item of a comma-separated list.
struct KeyItem {
  explicit KeyItem(const std::string& item);

  /// A key that takes no value: sets `*field`; false when a value was given.
  bool Flag(bool* field) const;
  /// A key whose value is a path: false when it is empty.
  bool Path(std::string* field) const;
  /// A key whose value is a number (ParseUnsigned).
  bool Unsigned(uint32_t* field) const;

  std::string text;  // as written
  std::string key;
  std::string value;
  bool hasValue;
};

/// `ADBUS<n>` or `ACBUS<n>`, n from 0 to 7, letter case ignored.
bool ParseFtdiPin(const std::string& text, FtdiPin* pin);

/// `text` cut at every `sep`.
std::vector<std::string> SplitAt(const std::string& text, char sep);
