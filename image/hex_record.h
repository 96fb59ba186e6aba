// SPDX-License-Identifier: MIT
// HexRecord: one Intel HEX record, parsed from a text line or assembled into
// one. IHEX's working record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "image/text_fault.h"

/// Intel HEX record types.
enum HexRecordType : int32_t {
  HEXREC_DATA = 0,
  HEXREC_END = 1,
  HEXREC_EXT_SEGMENT = 2,
  HEXREC_START_SEGMENT = 3,
  HEXREC_EXT_LINEAR = 4,
  HEXREC_START_LINEAR = 5,
};

class HexRecord {
 public:
  /// Length, address high and low, type, and the checksum around the data.
  static constexpr int32_t kOverhead = 5;
  static constexpr int32_t kAreaSize = 256;
  /// The most data bytes an assembled record can carry in `bytes`.
  static constexpr int32_t kMaxAssembledData = kAreaSize - kOverhead;
  /// Room for the longest line Format writes: the colon, two digits for each
  /// byte of the area, the line feed.
  static constexpr size_t kMaxLineSize = 1 + 2 * kAreaSize + 1;

  /// Parses ":LLAAAATT<data>CC" from `line` (without its line end), which
  /// may hold nothing but spaces and tabs after the checksum. False with
  /// `error` 1 for a missing or non-hexadecimal digit, 2 for a line without
  /// the leading colon, a checksum that does not sum to 0 or more text after
  /// it; `reason` and `faultValue` say which.
  [[nodiscard]] bool Parse(std::string_view line);
  /// Checks more of the record's line, read after it: blanks only. False
  /// with `error` 2 otherwise. After a line refused as blank, whose first
  /// part held only blanks, more blanks keep it blank and anything else
  /// makes it a line without its colon.
  [[nodiscard]] bool ParseMore(std::string_view text);

  /// Collects the record's bytes, from the length byte to the checksum, in
  /// `bytes`. False when `count` is negative or above kMaxAssembledData, or
  /// when `data` is missing for a non-zero count.
  [[nodiscard]] bool Assemble(int32_t recordType, uint16_t recordAddress, const uint8_t* data, int32_t count);

  /// Writes the assembled record as a text line into `line`: ':', two
  /// upper-case digits a byte, a line feed. Returns the line's length.
  /// Straight into a caller's array, as a whole chip's save formats millions
  /// of lines and a string for each was most of its time.
  size_t Format(std::span<char, kMaxLineSize> line) const;

  int32_t type = 0;
  int32_t length = 0;
  uint16_t address = 0;
  int32_t error = 0;
  TextFaultReason reason = TEXTFAULT_NONE;
  /// The character of a TEXTFAULT_NOT_HEX_DIGIT.
  uint32_t faultValue = 0;
  /// Parsing: the data bytes. Assembling: the whole record.
  uint8_t bytes[kAreaSize] = {};

 private:
  /// Refuses the line for the first two characters of `text`, which are not
  /// both digits: with error 1, and the reason.
  [[nodiscard]] bool RefuseDigit(std::string_view text);
  [[nodiscard]] bool Refuse(int32_t code, TextFaultReason why, uint32_t value = 0);
};
