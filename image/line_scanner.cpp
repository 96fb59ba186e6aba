// Line-by-line reading of raw hex text.
#include "image/line_scanner.h"

#include <new>

#include "image/hex_digit.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool LineScanner::Open(FILE* input, int capacity) {
  stream = input;
  lineCapacity = capacity;
  error = 0;
  line.reset(capacity > 1 ? new (std::nothrow) char[static_cast<size_t>(capacity) + 1] : nullptr);
  if (!line) return false;
  line[0] = '\0';
  position = line.get();
  return true;
}

bool LineScanner::ReadLine() {
  line[0] = '\0';
  position = line.get();
  if (!std::fgets(line.get(), lineCapacity, stream)) line[0] = '\0';
  return !std::ferror(stream);
}

bool LineScanner::AtEnd() const { return *position == '\0'; }

void LineScanner::SkipBlanks() {
  while (IsBlank(*position)) ++position;
}

bool LineScanner::ReadByte(uint8_t& value) {
  const int high = HexDigitValue(*position);
  if (high < 0) {
    error = 2;
    return false;
  }
  ++position;
  const int low = HexDigitValue(*position);
  if (low < 0) {
    value = static_cast<uint8_t>(high);
    return true;
  }
  ++position;
  value = static_cast<uint8_t>(high << 4 | low);
  return true;
}

void LineScanner::Close() {
  line.reset();
  position = nullptr;
}
