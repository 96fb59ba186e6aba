// SPDX-License-Identifier: MIT
// The Intel HEX codec: reading records into a buffer, writing records out.
#include "image/ihex.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/ranges.h"
#include "image/hex_record.h"
#include "image/text_lines.h"

namespace {

/// Bytes that each record type up to 05 must carry: data and end records any
/// number, address records a 16-bit value, start records two 16-bit values.
constexpr int32_t kFieldBytes[] = {0, 0, 2, 4, 2, 4};

uint32_t BigEndian16(const uint8_t* bytes) { return static_cast<uint32_t>(bytes[0] << 8 | bytes[1]); }

}  // namespace

IHEX::IHEX() = default;

IHEX::~IHEX() { Release(); }

void IHEX::Reset() {
  Release();
  capacity = kDefaultCapacity;
  flags = 0;
  lowAddress = 0xFFFFFFFF;
  endAddress = 0;
  pageBase = 0;
  startAddress = 0;
  startSegment = 0;
  filled.clear();
}

bool IHEX::AttachBuffer(uint8_t* data, uint32_t size) {
  Reset();
  buffer = data;
  capacity = size;
  return true;
}

bool IHEX::AllocateFilled(uint8_t fill) {
  if (!AllocateBuffer()) return false;
  std::memset(buffer, fill, capacity);
  return true;
}

bool IHEX::AllocateBuffer() {
  Reset();
  buffer = new (std::nothrow) uint8_t[kDefaultCapacity];
  if (!buffer) {
    capacity = 0;
    return Fail(IHEX_NO_MEMORY);
  }
  flags |= FLAG_OWNS_BUFFER;
  return true;
}

void IHEX::Release() {
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
}

bool IHEX::ReadData() {
  if (!stream) return Fail(IHEX_READ);
  TextLines lines(stream, kPieceSize);
  if (!lines.IsOpen()) return Fail(IHEX_NO_MEMORY);
  return ReadRecords(lines);
}

bool IHEX::ReadFile(const char* fileName) { return OpenInput(fileName) && ReadData() && CloseInput(); }

bool IHEX::AttachInput(FILE* input) {
  if (stream) return Fail(IHEX_STREAM_IN_USE);
  stream = input;
  return true;
}

bool IHEX::OpenInput(const char* fileName) { return OpenStream(fileName, "rt", IHEX_OPEN_INPUT); }

bool IHEX::CloseInput() {
  if (flags & FLAG_OWNS_STREAM) {
    std::fclose(stream);
    stream = nullptr;
    flags &= ~FLAG_OWNS_STREAM;
  }
  return true;
}

bool IHEX::AttachOutput(FILE* output) {
  if (stream) return Fail(IHEX_STREAM_IN_USE);
  if (!output) return Fail(IHEX_OPEN_OUTPUT);
  stream = output;
  lowAddress = endAddress = pageBase = 0;
  return true;
}

bool IHEX::OpenOutput(const char* fileName) {
  if (!OpenStream(fileName, "wt", IHEX_OPEN_OUTPUT)) return false;
  lowAddress = endAddress = pageBase = 0;
  return true;
}

bool IHEX::WriteRecord(int32_t count, uint32_t offset, const uint8_t* data) {
  const uint32_t page = offset & 0xFFFF0000;
  if (page != pageBase) {
    // A segment record holds the page as a paragraph number, so it reaches
    // only the first megabyte; a linear record holds the upper 16 bits.
    const uint32_t value = IsLinear() ? offset >> 16 : page >> 4;
    const uint8_t field[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    if (!WriteLine(IsLinear() ? HEXREC_EXT_LINEAR : HEXREC_EXT_SEGMENT, 0, field, 2)) return false;
    pageBase = page;
  }
  return WriteLine(HEXREC_DATA, static_cast<uint16_t>(offset - pageBase), data, count);
}

bool IHEX::CloseOutput() {
  // The flush makes a write failure that the stream buffer held back show
  // here, while the stream can still be reported as open.
  if (!stream || std::fputs(":00000001FF", stream) < 0 || std::fflush(stream) != 0) {
    return Fail(IHEX_WRITE);
  }
  std::fclose(stream);
  stream = nullptr;
  flags &= ~FLAG_OWNS_STREAM;
  return true;
}

int32_t IHEX::GetStatus() const { return status; }
uint32_t IHEX::GetLowAddress() const { return lowAddress; }
uint32_t IHEX::GetEndAddress() const { return endAddress; }

int32_t IHEX::GetDataLength() const {
  // Before any data byte the range runs from 0xFFFFFFFF to 0: nothing.
  return endAddress > lowAddress ? static_cast<int32_t>(endAddress - lowAddress) : 0;
}

uint8_t* IHEX::GetBuffer() const { return buffer; }

std::vector<IHEX::Range> IHEX::GetFilledRanges() const {
  std::vector<Range> ranges = filled;
  std::ranges::sort(ranges, {}, &Range::start);
  std::vector<Range> merged;
  for (const Range& r : ranges) AppendRange(merged, r);
  return merged;
}
bool IHEX::IsLinear() const { return flags & FLAG_LINEAR; }
bool IHEX::IsSegmented() const { return flags & FLAG_SEGMENTED; }
void IHEX::SetLinear() { flags |= FLAG_LINEAR; }
void IHEX::SetSegmented() { flags |= FLAG_SEGMENTED; }

void IHEX::GetStartSegment(uint16_t& segment, uint16_t& offset) const {
  segment = startSegment;
  offset = static_cast<uint16_t>(startAddress);
}

void IHEX::GetStartLinear(uint32_t& address) const { address = startAddress; }

bool IHEX::Fail(int32_t code, const TextFault& where) {
  status = code;
  fault = where;
  return false;
}

bool IHEX::OpenStream(const char* fileName, const char* mode, int32_t failStatus) {
  if (stream) return Fail(IHEX_STREAM_IN_USE);
  stream = fileName ? std::fopen(fileName, mode) : nullptr;
  if (!stream) return Fail(failStatus);
  flags |= FLAG_OWNS_STREAM;
  return true;
}

bool IHEX::ReadRecords(TextLines& lines) {
  HexRecord record;
  std::string_view piece;
  while (lines.NextPiece(piece)) {
    const bool parsed = lines.StartsLine() ? record.Parse(piece) : record.ParseMore(piece);
    // Whether a line of blanks is blank shows only at its end.
    const bool blankSoFar = !parsed && record.reason == TEXTFAULT_BLANK_LINE && !lines.EndsLine();
    if (!parsed && !blankSoFar) return Fail(record.error, {record.reason, lines.LineNumber(), record.faultValue});
    // A record acts once the rest of its line has proven blank, so that a
    // line holding more than a record is refused before it changes anything.
    if (!lines.EndsLine()) continue;
    // Whatever follows the end record is never looked at.
    if (record.type == HEXREC_END) return true;
    if (!ApplyRecord(record, lines.LineNumber())) return false;
  }
  return !lines.ReadFailed() || Fail(IHEX_READ, {TEXTFAULT_READ, lines.LineNumber(), 0});
}

bool IHEX::ApplyRecord(const HexRecord& record, uint32_t line) {
  if (record.type > HEXREC_START_LINEAR) {
    return Fail(IHEX_BAD_RECORD, {TEXTFAULT_RECORD_TYPE, line, static_cast<uint32_t>(record.type)});
  }
  if (record.length < kFieldBytes[record.type]) {
    return Fail(IHEX_BAD_RECORD, {TEXTFAULT_RECORD_TOO_SHORT, line, static_cast<uint32_t>(record.type)});
  }
  switch (record.type) {
    case HEXREC_DATA:
      return StoreData(record, line);
    case HEXREC_EXT_SEGMENT:
      flags = (flags & ~FLAG_LINEAR) | FLAG_SEGMENTED;
      pageBase = BigEndian16(record.bytes) << 4;
      break;
    case HEXREC_START_SEGMENT:
      startSegment = static_cast<uint16_t>(BigEndian16(record.bytes));
      startAddress = BigEndian16(record.bytes + 2);
      break;
    case HEXREC_EXT_LINEAR:
      flags = (flags & ~FLAG_SEGMENTED) | FLAG_LINEAR;
      pageBase = BigEndian16(record.bytes) << 16;
      break;
    case HEXREC_START_LINEAR:
      startAddress = BigEndian16(record.bytes) << 16 | BigEndian16(record.bytes + 2);
      break;
  }
  return true;
}

bool IHEX::StoreData(const HexRecord& record, uint32_t line) {
  for (int32_t i = 0; i < record.length; ++i) {
    const uint32_t offset = record.address + static_cast<uint32_t>(i);
    uint32_t address = offset;
    if (IsLinear()) {
      address = pageBase + offset;
    } else if (IsSegmented()) {
      address = pageBase + (offset & 0xFFFF);
    }
    // Addresses rise byte by byte, so the top of the 32-bit space fails here
    // before a sum could wrap round.
    if (!buffer || address >= capacity) return Fail(IHEX_OUT_OF_RANGE, {TEXTFAULT_BEYOND_IMAGE, line, address});
    lowAddress = std::min(lowAddress, address);
    endAddress = std::max(endAddress, address + 1);
    if (!filled.empty() && filled.back().end == address) {
      ++filled.back().end;
    } else {
      filled.push_back({address, address + 1});
    }
    buffer[address] = record.bytes[i];
  }
  return true;
}

bool IHEX::WriteLine(int32_t type, uint16_t address, const uint8_t* data, int32_t count) {
  HexRecord record;
  char line[HexRecord::kMaxLineSize];
  if (!stream || !record.Assemble(type, address, data, count)) return Fail(IHEX_WRITE);
  const size_t size = record.Format(line);
  return std::fwrite(line, 1, size, stream) == size || Fail(IHEX_WRITE);
}
