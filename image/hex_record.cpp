// Parsing and assembling Intel HEX record lines.
#include "image/hex_record.h"

#include <cstring>

#include "image/hex_digit.h"

namespace {

/// Reads two digits at `text` into `value`; false at a non-digit, the
/// terminating zero included.
bool ReadHexByte(const char*& text, uint8_t& value) {
  const int high = HexDigitValue(text[0]);
  if (high < 0) return false;
  const int low = HexDigitValue(text[1]);
  if (low < 0) return false;
  value = static_cast<uint8_t>(high << 4 | low);
  text += 2;
  return true;
}

}  // namespace

bool HexRecord::Parse(const char* line) {
  error = 0;
  if (line[0] != ':') {
    error = 2;
    return false;
  }
  const char* text = line + 1;
  uint8_t header[4];
  for (uint8_t& b : header) {
    if (!ReadHexByte(text, b)) {
      error = 1;
      return false;
    }
  }
  length = header[0];
  address = static_cast<uint16_t>(header[1] << 8 | header[2]);
  type = header[3];
  uint8_t sum = static_cast<uint8_t>(header[0] + header[1] + header[2] + header[3]);
  // The checksum is read as one more byte after the data, into the area's
  // spare room (a length byte allows at most 255 data bytes).
  for (int32_t i = 0; i <= length; ++i) {
    if (!ReadHexByte(text, bytes[i])) {
      error = 1;
      return false;
    }
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  if (sum != 0) {
    error = 2;
    return false;
  }
  return true;
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

std::string HexRecord::Line() const {
  const int32_t size = length + kOverhead;
  std::string line;
  line.reserve(static_cast<size_t>(size) * 2 + 2);
  line += ':';
  for (int32_t i = 0; i < size; ++i) AppendHexByte(line, bytes[i]);
  line += '\n';
  return line;
}
