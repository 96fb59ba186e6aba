// SPDX-License-Identifier: MIT
// TextFault: why a hex text reader refused its input, and on which line. The
// codecs keep it beside their status; the file side prints it.
#pragma once

#include <cstdint>

/// What was wrong with the line. Each reader sets only the reasons of its
/// format; `value` says more where a reason names it.
enum TextFaultReason : int32_t {
  TEXTFAULT_NONE = 0,             // no fault on a line (or the failure was not a line's)
  TEXTFAULT_READ,                 // the stream reported a read error
  TEXTFAULT_NUL,                  // a NUL byte: text holds none
  TEXTFAULT_NOT_HEX_DIGIT,        // `value`: the character where a digit belongs
  TEXTFAULT_BLANK_LINE,           // Intel HEX: a line without a record
  TEXTFAULT_NO_COLON,             // Intel HEX: the line does not begin with ':'
  TEXTFAULT_ENDS_EARLY,           // Intel HEX: the line ends before its checksum
  TEXTFAULT_CHECKSUM,             // Intel HEX: the record's bytes do not sum to 0
  TEXTFAULT_TEXT_AFTER_CHECKSUM,  // Intel HEX: more than blanks after the checksum
  TEXTFAULT_RECORD_TYPE,          // Intel HEX: `value`: a type above 05
  TEXTFAULT_RECORD_TOO_SHORT,     // Intel HEX: `value`: the type of a record too short for its address
  TEXTFAULT_BEYOND_IMAGE,         // Intel HEX: `value`: the first address at or above the capacity
};

struct TextFault {
  TextFaultReason reason = TEXTFAULT_NONE;
  /// Counted from 1; a line ends at a line feed, a carriage return and line
  /// feed, or a carriage return alone.
  uint32_t line = 0;
  uint32_t value = 0;
  bool operator==(const TextFault&) const = default;
};
