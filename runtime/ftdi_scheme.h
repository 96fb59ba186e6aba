// SPDX-License-Identifier: MIT
// The ftdi: scheme: what `ftdi:[<key>[=<value>]][,...]` asks for, its
// parser, its opener and its lister.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/backend_scheme.h"

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
  bool resetOpenDrain = false;  // driven low or let go, never driven high
  uint32_t speedCap = 0;     // Hz; 0: the clock the program asks for
  uint32_t pollBatch = 32;   // status reads one USB round trip may carry

  bool operator==(const FtdiDeviceRequest&) const = default;
};

/// `ADBUS<n>` or `ACBUS<n>`, n from 0 to 7, letter case ignored.
bool ParseFtdiPin(const std::string& text, FtdiPin* pin);

extern const BackendScheme kFtdiScheme;
