// SPDX-License-Identifier: MIT
// Parsing and assembling Intel HEX record lines.
#include "image/hex_record.h"

#include <algorithm>
#include <cstring>

#include "base/hex_digit.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/// Reads two digits off the front of `text` into `value`; false at a
/// character that is no digit or at the end of the text.
bool ReadHexByte(std::string_view& text, uint8_t& value) {
  const int high = text.size() > 0 ? HexDigitValue(text[0]) : -1;
  const int low = text.size() > 1 ? HexDigitValue(text[1]) : -1;
  if ((high | low) < 0) return false;
  value = static_cast<uint8_t>(high << 4 | low);
  text.remove_prefix(2);
  return true;
}

}  // namespace

bool HexRecord::Parse(std::string_view line) {
  error = 0;
  reason = TEXTFAULT_NONE;
  faultValue = 0;
  if (line.empty() || line[0] != ':') {
    const bool blank = std::all_of(line.begin(), line.end(), IsBlank);
    return Refuse(2, blank ? TEXTFAULT_BLANK_LINE : line[0] == '\0' ? TEXTFAULT_NUL : TEXTFAULT_NO_COLON);
  }
  std::string_view text = line.substr(1);
  uint8_t header[4];
  for (uint8_t& b : header) {
    if (!ReadHexByte(text, b)) return RefuseDigit(text);
  }
  length = header[0];
  address = static_cast<uint16_t>(header[1] << 8 | header[2]);
  type = header[3];
  uint8_t sum = static_cast<uint8_t>(header[0] + header[1] + header[2] + header[3]);
  // The checksum is read as one more byte after the data, into the area's
  // spare room (a length byte allows at most 255 data bytes).
  for (int32_t i = 0; i <= length; ++i) {
    if (!ReadHexByte(text, bytes[i])) return RefuseDigit(text);
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  if (sum != 0) return Refuse(2, TEXTFAULT_CHECKSUM);
  return ParseMore(text);
}

bool HexRecord::ParseMore(std::string_view text) {
  const auto other = std::find_if_not(text.begin(), text.end(), IsBlank);
  // A line of blanks so far lacks its colon, unless blanks fill it to its end.
  if (reason == TEXTFAULT_BLANK_LINE) {
    return Refuse(2, other == text.end() ? TEXTFAULT_BLANK_LINE : TEXTFAULT_NO_COLON);
  }
  // A second record on the line, or anything else there, would be lost.
  if (other == text.end()) return true;
  return Refuse(2, *other == '\0' ? TEXTFAULT_NUL : TEXTFAULT_TEXT_AFTER_CHECKSUM);
}

bool HexRecord::RefuseDigit(std::string_view text) {
  const size_t at = !text.empty() && HexDigitValue(text[0]) >= 0 ? 1 : 0;
  if (at == text.size()) return Refuse(1, TEXTFAULT_ENDS_EARLY);
  const auto c = static_cast<uint8_t>(text[at]);
  return Refuse(1, c == 0 ? TEXTFAULT_NUL : TEXTFAULT_NOT_HEX_DIGIT, c);
}

bool HexRecord::Refuse(int32_t code, TextFaultReason why, uint32_t value) {
  error = code;
  reason = why;
  faultValue = value;
  return false;
}

bool HexRecord::Assemble(int32_t recordType, uint16_t recordAddress, const uint8_t* data,
                         int32_t count) {
  if (count < 0 || count > kMaxAssembledData || (count > 0 && !data)) return false;
  type = recordType;
  length = count;
  address = recordAddress;
  bytes[0] = static_cast<uint8_t>(count);
  bytes[1] = static_cast<uint8_t>(recordAddress >> 8);
  bytes[2] = static_cast<uint8_t>(recordAddress);
  bytes[3] = static_cast<uint8_t>(recordType);
  if (count > 0) std::memcpy(bytes + 4, data, static_cast<size_t>(count));
  uint8_t sum = 0;
  for (int32_t i = 0; i < count + 4; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  bytes[count + 4] = static_cast<uint8_t>(-sum);
  return true;
}

size_t HexRecord::Format(std::span<char, kMaxLineSize> line) const {
  const int32_t size = length + kOverhead;
  char* out = line.data();
  *out++ = ':';
  for (int32_t i = 0; i < size; ++i) out = PutHexByte(out, bytes[i]);
  *out++ = '\n';
  return static_cast<size_t>(out - line.data());
}
