// SPDX-License-Identifier: MIT
// TextLines: reads a text stream as lines and hands each line on in pieces of
// a bounded size. The reader under both hex text codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

/// A line ends at a line feed, a carriage return and line feed, or a lone
/// carriage return (as files from every platform end them), or at the end of
/// the stream. Any byte but those two, NUL included, is part of a line.
class TextLines {
 public:
  /// Reads `input`, which it does not own, in pieces of at most `pieceSize`
  /// characters (at least 1).
  TextLines(FILE* input, size_t pieceSize);
  TextLines(const TextLines&) = delete;
  TextLines& operator=(const TextLines&) = delete;

  /// False when the read buffer could not be allocated.
  [[nodiscard]] bool IsOpen() const { return block != nullptr; }
  /// Takes the next piece: the next characters of the current line, up to
  /// pieceSize of them, without the line end; an empty line is one empty
  /// piece. False at the end of the stream and at a read error (ReadFailed).
  [[nodiscard]] bool NextPiece(std::string_view& piece);
  /// The piece is the first of its line.
  [[nodiscard]] bool StartsLine() const { return startsLine; }
  /// The piece is the last of its line.
  [[nodiscard]] bool EndsLine() const { return endsLine; }
  /// The line the last piece came from, or that a read error cut short.
  uint32_t LineNumber() const { return line; }
  [[nodiscard]] bool ReadFailed() const { return readFailed; }

 private:
  /// Reads more of the stream, so that a whole piece and the character after
  /// its line end are in the block unless the stream ends first.
  void Fill();

  FILE* stream;
  size_t pieceSize;
  size_t blockSize;
  std::unique_ptr<char[]> block;
  const char* position = nullptr;  // the next character to hand on
  const char* end = nullptr;       // past the last character read
  bool streamEnded = false;
  bool readFailed = false;
  bool startsLine = false;
  bool endsLine = true;
  uint32_t line = 0;
};
