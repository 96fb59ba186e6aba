// SPDX-License-Identifier: MIT
// The raw hex codec: reading byte tokens into a buffer, writing lines of them.
#include "image/ghex.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/hex_digit.h"
#include "image/line_scanner.h"

GHEX::GHEX() = default;

void GHEX::Reset() {
  Release();
  flags = 0;
  capacity = kDefaultCapacity;
}

GHEX::~GHEX() { Release(); }

bool GHEX::AttachBuffer(uint8_t* data, uint32_t size) {
  Reset();
  buffer = cursor = data;
  capacity = size;
  return true;
}

bool GHEX::AllocateFilled(uint8_t fill) {
  if (!AllocateBuffer()) return false;
  std::memset(buffer, fill, capacity);
  return true;
}

bool GHEX::AllocateBuffer() {
  Reset();
  buffer = cursor = new (std::nothrow) uint8_t[kDefaultCapacity];
  if (!buffer) {
    capacity = 0;
    return Fail(GHEX_NO_MEMORY);
  }
  flags |= FLAG_OWNS_BUFFER;
  return true;
}

void GHEX::Release() {
  if (flags & FLAG_OWNS_STREAM) {
    if (stream) std::fclose(stream);
    flags &= ~FLAG_OWNS_STREAM;
  }
  if (flags & FLAG_OWNS_BUFFER) {
    delete[] buffer;
    flags &= ~FLAG_OWNS_BUFFER;
  }
  stream = nullptr;
  buffer = nullptr;
  cursor = nullptr;
}

bool GHEX::AttachInput(FILE* input) { return AttachStream(input); }

bool GHEX::OpenInput(const char* fileName) { return OpenStream(fileName, "rt"); }

bool GHEX::ReadData() {
  droppedBytes = false;
  if (!stream) return Fail(GHEX_READ);
  LineScanner scanner;
  if (!scanner.Open(stream, kPieceSize)) return Fail(GHEX_NO_LINE_BUFFER);
  const bool ok = ReadLines(scanner);
  scanner.Close();
  return ok;
}

bool GHEX::ReadFile(const char* fileName) { return OpenInput(fileName) && ReadData() && CloseInput(); }

bool GHEX::CloseInput() { return CloseOwnedStream(); }

bool GHEX::AttachOutput(FILE* output) { return AttachStream(output); }

bool GHEX::OpenOutput(const char* fileName) { return OpenStream(fileName, "wt"); }

bool GHEX::WriteRecord(int32_t count, int32_t offset) {
  if (!stream || !buffer || count < 0 || offset < 0 ||
      static_cast<uint64_t>(offset) + static_cast<uint64_t>(count) > capacity) {
    return false;
  }
  std::string text;
  text.reserve(static_cast<size_t>(count) * 3);
  for (const uint8_t* b = buffer + offset; b != buffer + offset + count; ++b) {
    AppendHexByte(text, *b);
    text += ' ';
  }
  // The line is ended even after a failed write, so that what follows starts
  // on a line of its own.
  const bool bytesWritten = std::fputs(text.c_str(), stream) >= 0;
  const bool lineEnded = std::fputs("\n", stream) >= 0;
  return bytesWritten && lineEnded;
}

bool GHEX::CloseOutput() { return CloseOwnedStream(); }

int32_t GHEX::GetStatus() const { return status; }

int32_t GHEX::GetDataLength() const { return static_cast<int32_t>(cursor - buffer); }

uint8_t* GHEX::GetBuffer() const { return buffer; }

bool GHEX::Fail(int32_t code, const TextFault& where) {
  status = code;
  fault = where;
  return false;
}

bool GHEX::AttachStream(FILE* given) {
  if (stream) return Fail(GHEX_STREAM_IN_USE);
  stream = given;
  return true;
}

bool GHEX::OpenStream(const char* fileName, const char* mode) {
  if (stream) return Fail(GHEX_STREAM_IN_USE);
  stream = fileName ? std::fopen(fileName, mode) : nullptr;
  if (!stream) return Fail(GHEX_OPEN_FAILED);
  flags |= FLAG_OWNS_STREAM;
  return true;
}

bool GHEX::CloseOwnedStream() {
  if (flags & FLAG_OWNS_STREAM) {
    std::fclose(stream);
    stream = nullptr;
    flags &= ~FLAG_OWNS_STREAM;
  }
  return true;
}

bool GHEX::ReadLines(LineScanner& scanner) {
  std::span<const uint8_t> bytes;
  bool more;
  do {
    more = scanner.ReadBytes(bytes);
    // Bytes before a fault stay stored.
    Store(bytes);
  } while (more);
  return scanner.GetError() == 0 || Fail(scanner.GetError(), scanner.GetFault());
}

void GHEX::Store(std::span<const uint8_t> bytes) {
  const size_t room = buffer ? capacity - static_cast<size_t>(cursor - buffer) : 0;
  const size_t stored = std::min(room, bytes.size());
  if (stored > 0) std::memcpy(cursor, bytes.data(), stored);
  cursor += stored;
  if (stored < bytes.size()) droppedBytes = true;
}
