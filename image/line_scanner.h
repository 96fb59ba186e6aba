// SPDX-License-Identifier: MIT
// LineScanner: takes raw hex byte tokens off the lines of a text stream.
// GHEX's reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>

#include "image/text_fault.h"
#include "image/text_lines.h"

/// A byte token is a hexadecimal digit, and a second one if it follows on the
/// same line: digits pair up from the left, and a lone digit is a byte of its
/// own. Spaces and tabs separate tokens, and so does a line end; any other
/// character, NUL included, is a fault.
class LineScanner {
 public:
  /// Starts on `input`, read in pieces of `pieceSize` characters; false when
  /// a buffer cannot be allocated.
  [[nodiscard]] bool Open(FILE* input, size_t pieceSize);
  /// Decodes the tokens of the next piece of text into `bytes`. A pair that
  /// the piece cuts in two is decoded with the next piece. False at the end
  /// of the text, at a read error and at a fault (GetError tells which), with
  /// `bytes` holding what came before the fault.
  [[nodiscard]] bool ReadBytes(std::span<const uint8_t>& bytes);
  /// 0; 2 after a character that cannot begin a token; 11 after a read error.
  int GetError() const { return error; }
  /// Where and why reading failed.
  const TextFault& GetFault() const { return fault; }
  /// Frees the buffers.
  void Close();

 private:
  /// Decodes `piece` into `decoded`; returns the bytes decoded.
  size_t Decode(std::string_view piece, bool endsLine);
  void Refuse(char c);

  std::optional<TextLines> lines;
  std::unique_ptr<uint8_t[]> decoded;
  int pendingDigit = -1;  // a pair's first digit, cut off by the end of a piece
  int error = 0;
  TextFault fault;
};
