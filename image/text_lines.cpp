// SPDX-License-Identifier: MIT
// Reading a text stream in pieces of its lines.
#include "image/text_lines.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

/// Large reads cost little more than small ones; a block holds many lines.
constexpr size_t kMinBlockSize = 65536;

const char* Find(const char* from, size_t length, char c) {
  return static_cast<const char*>(std::memchr(from, c, length));
}

}  // namespace

TextLines::TextLines(FILE* input, size_t size)
    : stream(input),
      pieceSize(std::max<size_t>(size, 1)),
      blockSize(std::max(kMinBlockSize, 2 * pieceSize + 2)),
      block(new (std::nothrow) char[blockSize]) {
  position = end = block.get();
}

bool TextLines::NextPiece(std::string_view& piece) {
  if (!block || readFailed) return false;
  startsLine = endsLine;
  if (startsLine) ++line;
  Fill();
  if (readFailed || position == end) return false;

  const char* start = position;
  const size_t available = static_cast<size_t>(end - start);
  // A line end right after a whole piece still ends the piece's line.
  const size_t scanned = std::min(available, pieceSize + 1);
  const char* lineEnd = Find(start, scanned, '\n');
  if (const char* cr = Find(start, lineEnd ? static_cast<size_t>(lineEnd - start) : scanned, '\r')) lineEnd = cr;

  if (lineEnd) {
    piece = std::string_view(start, static_cast<size_t>(lineEnd - start));
    position = lineEnd + 1;
    // Fill left the character after the line end in the block, if there is one.
    if (*lineEnd == '\r' && position != end && *position == '\n') ++position;
  } else {
    // Without a line end in reach, either the line goes on past this piece
    // or Fill met the end of the stream, and the line ends with it.
    piece = std::string_view(start, std::min(available, pieceSize));
    position = start + piece.size();
  }
  endsLine = lineEnd || available <= pieceSize;
  return true;
}

void TextLines::Fill() {
  const size_t available = static_cast<size_t>(end - position);
  if (streamEnded || available >= pieceSize + 2) return;
  std::memmove(block.get(), position, available);
  position = block.get();
  end = position + available;
  const size_t wanted = blockSize - available;
  const size_t got = std::fread(block.get() + available, 1, wanted, stream);
  end += got;
  // A short read means the end of the stream or an error; either way
  // nothing more comes from it.
  if (got < wanted) {
    streamEnded = true;
    readFailed = std::ferror(stream) != 0;
  }
}
