// SPDX-License-Identifier: MIT
// GHEX: the raw hex codec. Reads hexadecimal byte tokens into a buffer from
// its first byte on, and writes runs of buffer bytes as lines of digit pairs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "image/text_fault.h"

class LineScanner;

/// Status codes of GHEX. Each is set only by a failure; no success clears it.
enum GhexStatus : int32_t {
  GHEX_OK = 0,
  GHEX_NO_LINE_BUFFER = 1,  // ReadData cannot allocate its line buffer
  GHEX_BAD_TOKEN = 2,       // neither a digit nor a blank where a byte token begins (NUL included)
  GHEX_NO_MEMORY = 4,       // AllocateBuffer
  GHEX_OPEN_FAILED = 5,     // OpenInput or OpenOutput cannot open the file
  GHEX_STREAM_IN_USE = 8,   // an attach or open while a stream is in use
  GHEX_READ = 11,           // the input stream reports a read error (or there is none)
};

/// Works on a caller's buffer (AttachBuffer) or one of its own
/// (AllocateBuffer), and on a caller's stream (Attach...) or one it opens
/// (Open...); it frees and closes only what it allocated or opened.
class GHEX {
 public:
  /// The size of a buffer the codec allocates, and the capacity after Reset.
  static constexpr uint32_t kDefaultCapacity = 262144;
  /// Characters of a line read at a time; a longer line is read in pieces,
  /// and a digit pair that two pieces share reads as one byte.
  static constexpr size_t kPieceSize = 2047;

  GHEX();
  GHEX(const GHEX&) = delete;
  GHEX& operator=(const GHEX&) = delete;

  /// Starts afresh: no stream, no buffer (what the codec owned is released
  /// first), capacity kDefaultCapacity. The status stays.
  virtual void Reset();
  virtual ~GHEX();
  /// Reset, then works on `data`, which the codec does not own, filling it
  /// from its first byte. Always true.
  [[nodiscard]] virtual bool AttachBuffer(uint8_t* data, uint32_t size);
  /// AllocateBuffer, then sets every byte to `fill`.
  [[nodiscard]] virtual bool AllocateFilled(uint8_t fill);
  /// Reset, then works on a kDefaultCapacity-byte buffer of its own.
  [[nodiscard]] virtual bool AllocateBuffer();
  /// Closes and frees what the codec owns; forgets the stream, the buffer and
  /// the fill position.
  virtual void Release();
  [[nodiscard]] virtual bool AttachInput(FILE* input);
  [[nodiscard]] virtual bool OpenInput(const char* fileName);
  /// Reads byte tokens to the end of the stream. Bytes beyond the capacity
  /// are parsed but dropped (see HasDroppedBytes).
  [[nodiscard]] virtual bool ReadData();
  /// OpenInput, ReadData, CloseInput, up to the first that fails.
  [[nodiscard]] virtual bool ReadFile(const char* fileName);
  /// Closes the stream if the codec opened it; an attached one stays. True.
  [[nodiscard]] virtual bool CloseInput();
  [[nodiscard]] virtual bool AttachOutput(FILE* output);
  [[nodiscard]] virtual bool OpenOutput(const char* fileName);
  /// Writes `count` buffer bytes from `offset` as one line of "%2.2X "
  /// groups. False, with no status, when a write fails or the bytes lie
  /// outside the buffer.
  [[nodiscard]] virtual bool WriteRecord(int32_t count, int32_t offset);
  /// As CloseInput. True.
  [[nodiscard]] virtual bool CloseOutput();
  virtual int32_t GetStatus() const;
  /// Bytes stored by reading, counted from the first byte of the buffer.
  virtual int32_t GetDataLength() const;
  virtual uint8_t* GetBuffer() const;

  /// True when the last ReadData met more bytes than the buffer holds.
  [[nodiscard]] bool HasDroppedBytes() const { return droppedBytes; }
  /// Where and why the last failure refused the text; no reason when the
  /// failure was not a line's.
  const TextFault& GetFault() const { return fault; }

 private:
  enum Flag : uint32_t {
    FLAG_OWNS_STREAM = 1u << 0,
    FLAG_OWNS_BUFFER = 1u << 1,
  };

  bool Fail(int32_t code, const TextFault& where = {});
  [[nodiscard]] bool AttachStream(FILE* given);
  [[nodiscard]] bool OpenStream(const char* fileName, const char* mode);
  [[nodiscard]] bool CloseOwnedStream();
  [[nodiscard]] bool ReadLines(LineScanner& scanner);
  void Store(std::span<const uint8_t> bytes);

  uint32_t flags = 0;
  int32_t status = GHEX_OK;
  FILE* stream = nullptr;
  uint8_t* buffer = nullptr;
  uint8_t* cursor = nullptr;
  uint32_t capacity = 0;
  bool droppedBytes = false;
  TextFault fault;
};
