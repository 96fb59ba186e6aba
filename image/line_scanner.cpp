// SPDX-License-Identifier: MIT
// Raw hex byte tokens, line by line.
#include "image/line_scanner.h"

#include <new>

#include "base/hex_digit.h"

bool LineScanner::Open(FILE* input, size_t pieceSize) {
  error = 0;
  fault = {};
  pendingDigit = -1;
  lines.emplace(input, pieceSize);
  // A piece decodes to at most one byte a character, and a carried digit.
  decoded.reset(new (std::nothrow) uint8_t[pieceSize + 1]);
  return lines->IsOpen() && decoded;
}

bool LineScanner::ReadBytes(std::span<const uint8_t>& bytes) {
  bytes = {};
  std::string_view piece;
  if (!lines->NextPiece(piece)) {
    if (lines->ReadFailed()) {
      error = 11;
      fault = {TEXTFAULT_READ, lines->LineNumber(), 0};
    }
    return false;
  }
  bytes = std::span<const uint8_t>(decoded.get(), Decode(piece, lines->EndsLine()));
  return error == 0;
}

void LineScanner::Close() {
  lines.reset();
  decoded.reset();
}

size_t LineScanner::Decode(std::string_view piece, bool endsLine) {
  uint8_t* out = decoded.get();
  const char* c = piece.data();
  const char* const end = c + piece.size();
  if (pendingDigit >= 0) {
    const int low = c != end ? HexDigitValue(*c) : -1;
    if (low >= 0) ++c;
    *out++ = static_cast<uint8_t>(low >= 0 ? pendingDigit << 4 | low : pendingDigit);
    pendingDigit = -1;
  }
  while (c != end) {
    if (*c == ' ' || *c == '\t') {
      ++c;
      continue;
    }
    const int high = HexDigitValue(*c);
    if (high < 0) {
      Refuse(*c);
      break;
    }
    if (++c == end) {
      // The pair may go on in the next piece of the same line.
      if (endsLine) {
        *out++ = static_cast<uint8_t>(high);
      } else {
        pendingDigit = high;
      }
      break;
    }
    const int low = HexDigitValue(*c);
    if (low < 0) {
      *out++ = static_cast<uint8_t>(high);
    } else {
      *out++ = static_cast<uint8_t>(high << 4 | low);
      ++c;
    }
  }
  return static_cast<size_t>(out - decoded.get());
}

void LineScanner::Refuse(char c) {
  error = 2;
  const auto code = static_cast<uint8_t>(c);
  fault = {code == 0 ? TEXTFAULT_NUL : TEXTFAULT_NOT_HEX_DIGIT, lines->LineNumber(), code};
}
