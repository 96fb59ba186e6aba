// SPDX-License-Identifier: MIT
// IHEX: the Intel HEX codec. Reads records into a buffer, each data byte at
// its absolute address, and writes a buffer out as records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/text_fault.h"

class HexRecord;
class TextLines;

/// Status codes of IHEX. Each is set only by a failure; no success clears it.
enum IhexStatus : int32_t {
  IHEX_OK = 0,
  /// A non-hexadecimal character where a digit belongs, or a line that ends
  /// before its checksum.
  IHEX_BAD_DIGIT = 1,
  /// No leading colon, a checksum that does not sum to 0, more than blanks
  /// after the checksum, a type above 05, or an address or start record too
  /// short for the fields it carries.
  IHEX_BAD_RECORD = 2,
  IHEX_NO_MEMORY = 3,      // AllocateBuffer, or ReadData's line buffer
  IHEX_OPEN_INPUT = 4,     // OpenInput cannot open the file
  IHEX_OUT_OF_RANGE = 6,   // a data byte's address is at or above the capacity
  IHEX_STREAM_IN_USE = 7,  // an attach or open while a stream is in use
  IHEX_OPEN_OUTPUT = 8,    // OpenOutput cannot open the file, or AttachOutput has no stream
  IHEX_WRITE = 9,          // a line cannot be written to the stream
  IHEX_READ = 11,          // the input stream reports a read error (or there is none)
};

/// Works on a caller's buffer (AttachBuffer) or one of its own
/// (AllocateBuffer), and on a caller's stream (Attach...) or one it opens
/// (Open...). It frees and closes only what it allocated or opened, except
/// that CloseOutput closes the output stream whoever opened it.
class IHEX {
 public:
  /// The size of a buffer the codec allocates, and the capacity after Reset.
  static constexpr uint32_t kDefaultCapacity = 262144;
  /// Characters of a line read at a time, room for the longest record (521
  /// characters); the rest of a longer line is read on and must be blank.
  static constexpr size_t kPieceSize = 2047;

  IHEX();
  IHEX(const IHEX&) = delete;
  IHEX& operator=(const IHEX&) = delete;

  /// Starts afresh: no stream, no buffer (what the codec owned is released
  /// first), capacity kDefaultCapacity, no address mode, empty address range.
  /// The status stays.
  void Reset();

  virtual ~IHEX();
  /// Reset, then works on `data`, which the codec does not own. Always true.
  [[nodiscard]] virtual bool AttachBuffer(uint8_t* data, uint32_t size);
  /// AllocateBuffer, then sets every byte to `fill`.
  [[nodiscard]] virtual bool AllocateFilled(uint8_t fill);
  /// Reset, then works on a kDefaultCapacity-byte buffer of its own.
  [[nodiscard]] virtual bool AllocateBuffer();
  /// Closes and frees what the codec owns and forgets the stream and the
  /// buffer; the address range and start values stay.
  virtual void Release();
  /// Reads records until the end record or the end of the stream. A record
  /// acts once its whole line has been read.
  [[nodiscard]] virtual bool ReadData();
  /// OpenInput, ReadData, CloseInput, up to the first that fails.
  [[nodiscard]] virtual bool ReadFile(const char* fileName);
  [[nodiscard]] virtual bool AttachInput(FILE* input);
  [[nodiscard]] virtual bool OpenInput(const char* fileName);
  /// Closes the stream if the codec opened it; an attached one stays. True.
  [[nodiscard]] virtual bool CloseInput();
  /// Empties the address range and starts writing at page 0.
  [[nodiscard]] virtual bool AttachOutput(FILE* output);
  [[nodiscard]] virtual bool OpenOutput(const char* fileName);
  /// Writes `count` bytes from `data` as one data record for buffer offset
  /// `offset`, preceded by an extended address record when the offset lies in
  /// a new 64 KB page. `count` must be 0 to HexRecord::kMaxAssembledData.
  [[nodiscard]] virtual bool WriteRecord(int32_t count, uint32_t offset, const uint8_t* data);
  /// Writes the end record (no line end) and closes the stream, whoever
  /// opened it. On failure the stream stays open.
  [[nodiscard]] virtual bool CloseOutput();
  virtual int32_t GetStatus() const;
  /// The lowest address filled by a read.
  virtual uint32_t GetLowAddress() const;
  /// The highest address filled by a read, plus one.
  virtual uint32_t GetEndAddress() const;
  /// The span from the lowest to the highest address filled; 0 when nothing was.
  virtual int32_t GetDataLength() const;
  virtual uint8_t* GetBuffer() const;
  [[nodiscard]] virtual bool IsLinear() const;
  [[nodiscard]] virtual bool IsSegmented() const;
  virtual void SetLinear();
  virtual void SetSegmented();
  /// The code segment and the instruction pointer of a start segment record.
  virtual void GetStartSegment(uint16_t& segment, uint16_t& offset) const;
  /// The address of a start linear record.
  virtual void GetStartLinear(uint32_t& address) const;

  /// Addresses from `start` up to, not including, `end`.
  struct Range {
    uint32_t start;
    uint32_t end;
    bool operator==(const Range&) const = default;
  };
  /// What the data records of a read filled, ascending, each range apart
  /// from the next (ranges that overlap or touch are merged).
  std::vector<Range> GetFilledRanges() const;
  /// Where and why the last failure refused the text; no reason when the
  /// failure was not a line's.
  const TextFault& GetFault() const { return fault; }

 private:
  enum Flag : uint32_t {
    FLAG_OWNS_STREAM = 1u << 0,
    FLAG_OWNS_BUFFER = 1u << 1,
    FLAG_LINEAR = 1u << 2,
    FLAG_SEGMENTED = 1u << 3,
  };

  bool Fail(int32_t code, const TextFault& where = {});
  [[nodiscard]] bool OpenStream(const char* fileName, const char* mode, int32_t failStatus);
  [[nodiscard]] bool ReadRecords(TextLines& lines);
  [[nodiscard]] bool ApplyRecord(const HexRecord& record, uint32_t line);
  [[nodiscard]] bool StoreData(const HexRecord& record, uint32_t line);
  [[nodiscard]] bool WriteLine(int32_t type, uint16_t address, const uint8_t* data, int32_t count);

  uint32_t flags = 0;
  int32_t status = IHEX_OK;
  FILE* stream = nullptr;
  uint32_t lowAddress = 0xFFFFFFFF;
  uint32_t endAddress = 0;
  uint8_t* buffer = nullptr;
  uint32_t capacity = 0;
  uint32_t pageBase = 0;
  uint32_t startAddress = 0;
  uint16_t startSegment = 0;
  // Filled addresses in the order the records gave them, runs of
  // consecutive bytes as one range.
  std::vector<Range> filled;
  TextFault fault;
};
