// SPDX-License-Identifier: MIT
// The image file: moves the image buffer to and from the file, as a binary
// image, raw hex text or Intel HEX records.
#include "image/image_file.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

constexpr const char* kOpenFailed = "Error opening file: %s\n";
constexpr const char* kBinaryReadFailed = "Error reading from input file\n";
constexpr const char* kInputTooLarge = "Warning: Input file larger than memory buffer\n";
constexpr const char* kIntelHexReadFailed = "Error reading input file\n";
constexpr const char* kWriteFailed = "Error writing to output file\n";

/// Text formats carry at most this many bytes a line.
constexpr int32_t kBytesPerRecord = 32;

/// The message for a raw hex codec status. The groups keep room for codes
/// (3, 6, 9) that the codec does not set today.
const char* RawHexLoadMessage(int32_t status) {
  switch (status) {
    case 2: case 3: case 6:
      return "Data format or syntax error in input file\n";
    case 5: case 8: case 9:
      return "Error opening input file\n";
    case 11:
      return "Error reading from input file\n";
    default:
      return "Internal or unexpected error accessing input file\n";
  }
}

/// What follows "line N: " in the line that says why a text file was
/// refused, by TextFaultReason; the fault's value goes into %c or %X, the
/// buffer's size in MB into %u.
constexpr const char* kFaultTexts[] = {
    nullptr,
    "read error",
    "NUL byte",
    "'%c' is not a hex digit",
    "blank line",
    "no ':' at the start",
    "ends before its checksum",
    "checksum",
    "text after the checksum",
    "record type %02X",
    "record type %02X too short for its address",
    "data at 0x%08X is beyond the %u MB image",
};
static_assert(std::size(kFaultTexts) == TEXTFAULT_BEYOND_IMAGE + 1);
/// A character that does not show is named by its code instead.
constexpr const char* kUnprintableNotHexDigit = "byte 0x%02X is not a hex digit";

/// Prints where and why the codec refused the text, when the failure was a
/// line's: one line after the load's message.
void PrintFault(const TextFault& fault, uint32_t capacity) {
  if (fault.reason <= TEXTFAULT_NONE || fault.reason >= static_cast<int32_t>(std::size(kFaultTexts))) return;
  const char* text = kFaultTexts[fault.reason];
  if (fault.reason == TEXTFAULT_NOT_HEX_DIGIT && (fault.value <= ' ' || fault.value >= 0x7F)) {
    text = kUnprintableNotHexDigit;
  }
  std::printf("line %u: ", fault.line);
  std::printf(text, fault.value, capacity >> 20);
  std::printf("\n");
}

/// Attaches the codec to the buffer and the open file and reads the file.
template <typename Codec>
bool ReadWithCodec(Codec& codec, uint8_t* buffer, uint32_t capacity, FILE* stream) {
  return codec.AttachBuffer(buffer, capacity) && codec.AttachInput(stream) && codec.ReadData() &&
         codec.CloseInput();
}

/// Hands `length` bytes from offset 0 up to `writeRecord` in runs of at most
/// kBytesPerRecord, adding each run written to `count`; stops at a failure.
template <typename WriteRecordFn>
bool WriteInRecords(int32_t length, int32_t& count, WriteRecordFn writeRecord) {
  for (int32_t offset = 0; offset < length;) {
    const int32_t n = std::min(length - offset, kBytesPerRecord);
    if (!writeRecord(n, offset)) return false;
    count += n;
    offset += n;
  }
  return true;
}

}  // namespace

ImageFile::~ImageFile() {
  if (stream) std::fclose(stream);
  platform::DiscardReplacement(replacement.temporary);
}

const char* ImageFile::Mode(bool written, int32_t format) {
  const bool binary = format == IMAGEFORMAT_BINARY;
  if (written) return binary ? "wb" : "wt";
  return binary ? "rb" : "rt";
}

bool ImageFile::Open(const char* name, int32_t format, bool written) {
  // A failure to close the file before keeps its outcome unless this open
  // fails too.
  static_cast<void>(Close());
  const char* mode = Mode(written, format);
  if (name) stream = written ? platform::OpenReplacement(name, mode, &replacement) : std::fopen(name, mode);
  if (stream) return true;
  std::printf(kOpenFailed, name ? name : "");
  outcome = written ? IMAGEFILE_OUTPUT_FILE : IMAGEFILE_INPUT_FILE;
  return false;
}

bool ImageFile::Load(int32_t format, uint8_t* buffer, uint32_t capacity) {
  outcome = IMAGEFILE_NONE;
  static constexpr std::array<Step, 3> kLoads = {&ImageFile::LoadBinary, &ImageFile::LoadRawHex,
                                                 &ImageFile::LoadIntelHex};
  return Transfer(format, kLoads, buffer, capacity);
}

bool ImageFile::Save(int32_t format, uint8_t* buffer, uint32_t capacity) {
  outcome = IMAGEFILE_NONE;
  // A file that could only be opened in place is emptied now, with the
  // chip's contents read whole: a failed read has left it as it was.
  if (stream && replacement.inPlace && !platform::EmptyInPlace(stream)) {
    return Fail(kWriteFailed, IMAGEFILE_OUTPUT_FILE);
  }
  static constexpr std::array<Step, 3> kSaves = {&ImageFile::SaveBinary, &ImageFile::SaveRawHex,
                                                 &ImageFile::SaveIntelHex};
  complete = Transfer(format, kSaves, buffer, capacity);
  return complete;
}

bool ImageFile::Close() {
  outcome = IMAGEFILE_NONE;
  const bool closed = !stream || std::fclose(stream) == 0;
  stream = nullptr;
  const bool saved = std::exchange(complete, false);
  const platform::Replacement closing = std::exchange(replacement, {});
  const std::string& temporary = closing.temporary;
  if (!saved) {
    platform::DiscardReplacement(temporary);
    return true;
  }
  if (closed && (temporary.empty() || platform::PutReplacementInPlace(temporary, closing.target))) return true;
  platform::DiscardReplacement(temporary);
  return Fail(kWriteFailed, IMAGEFILE_OUTPUT_FILE);
}

bool ImageFile::Fail(const char* message, ImageFileOutcome code) {
  if (message) std::fputs(message, stdout);
  outcome = code;
  return false;
}

void ImageFile::WarnInputTooLarge() {
  std::fputs(kInputTooLarge, stdout);
  outcome = IMAGEFILE_INPUT_TRUNCATED;
}

bool ImageFile::Transfer(int32_t format, const std::array<Step, 3>& steps, uint8_t* buffer, uint32_t capacity) {
  if (format < IMAGEFORMAT_BINARY || format > IMAGEFORMAT_INTEL_HEX) return Fail(nullptr, IMAGEFILE_INTERNAL);
  // Without a buffer the caller has recorded why; there is nothing to move.
  if (!buffer) return false;
  if (!stream) return Fail(nullptr, IMAGEFILE_INTERNAL);
  return (this->*steps[static_cast<size_t>(format)])(buffer, capacity);
}

void ImageFile::SetContiguousSpan() {
  spans.clear();
  if (dataLength > 0) spans.push_back({0, static_cast<uint32_t>(dataLength)});
}

int32_t ImageFile::SavedLength(uint32_t capacity) const {
  return static_cast<int32_t>(std::clamp<int64_t>(dataLength, 0, capacity));
}

bool ImageFile::LoadBinary(uint8_t* buffer, uint32_t capacity) {
  uint32_t total = 0;
  while (total < capacity && !std::feof(stream)) {
    total += static_cast<uint32_t>(std::fread(buffer + total, 1, capacity - total, stream));
    if (std::ferror(stream)) return Fail(kBinaryReadFailed, IMAGEFILE_INPUT_FILE);
  }
  // A full image of the largest chip fills the buffer exactly: only a byte
  // beyond it is input that the image cannot hold.
  if (total == capacity) {
    const bool more = std::fgetc(stream) != EOF;
    if (std::ferror(stream)) return Fail(kBinaryReadFailed, IMAGEFILE_INPUT_FILE);
    if (more) WarnInputTooLarge();
  }
  dataLength = static_cast<int32_t>(total);
  SetContiguousSpan();
  return true;
}

bool ImageFile::LoadRawHex(uint8_t* buffer, uint32_t capacity) {
  const bool ok = ReadWithCodec(ghex, buffer, capacity, stream);
  dataLength = ghex.GetDataLength();
  SetContiguousSpan();
  ghex.Release();
  if (!ok) {
    std::fputs(RawHexLoadMessage(ghex.GetStatus()), stdout);
    PrintFault(ghex.GetFault(), capacity);
    return Fail(nullptr, IMAGEFILE_INPUT_FILE);
  }
  if (ghex.HasDroppedBytes()) WarnInputTooLarge();
  return true;
}

bool ImageFile::LoadIntelHex(uint8_t* buffer, uint32_t capacity) {
  // The erased state of flash: the gaps between records program as no-ops.
  std::memset(buffer, 0xFF, capacity);
  const bool ok = ReadWithCodec(ihex, buffer, capacity, stream);
  dataLength = ihex.GetDataLength();
  spans.clear();
  for (const IHEX::Range& r : ihex.GetFilledRanges()) spans.push_back({r.start, r.end - r.start});
  ihex.Release();
  if (ok) return true;
  std::fputs(kIntelHexReadFailed, stdout);
  PrintFault(ihex.GetFault(), capacity);
  return Fail(nullptr, IMAGEFILE_INPUT_FILE);
}

bool ImageFile::SaveBinary(uint8_t* buffer, uint32_t capacity) {
  const size_t length = static_cast<size_t>(SavedLength(capacity));
  // The flush brings out a write failure that the stream buffer held back.
  if (std::fwrite(buffer, 1, length, stream) < length || std::fflush(stream) != 0) {
    return Fail(kWriteFailed, IMAGEFILE_OUTPUT_FILE);
  }
  return true;
}

bool ImageFile::SaveRawHex(uint8_t* buffer, uint32_t capacity) {
  bool ok = ghex.AttachBuffer(buffer, capacity) && ghex.AttachOutput(stream);
  byteCount = 0;
  ok = ok && WriteInRecords(SavedLength(capacity), byteCount,
                            [&](int32_t n, int32_t offset) { return ghex.WriteRecord(n, offset); });
  ok = ok && ghex.CloseOutput() && std::fflush(stream) == 0;
  ghex.Release();
  return ok || Fail(kWriteFailed, IMAGEFILE_OUTPUT_FILE);
}

bool ImageFile::SaveIntelHex(uint8_t* buffer, uint32_t capacity) {
  bool ok = ihex.AttachBuffer(buffer, capacity);
  // Offsets from 64 KB up need extended linear address records.
  ihex.SetLinear();
  ok = ok && ihex.AttachOutput(stream);
  byteCount = 0;
  ok = ok && WriteInRecords(SavedLength(capacity), byteCount, [&](int32_t n, int32_t offset) {
         const uint32_t at = static_cast<uint32_t>(offset);
         return ihex.WriteRecord(n, at, buffer + at);
       });
  // The codec closes the stream once it has ended the output, so the file
  // must not be closed again; when ending fails the stream stays open.
  ok = ok && ihex.CloseOutput();
  if (ok) stream = nullptr;
  ihex.Release();
  return ok || Fail(kWriteFailed, IMAGEFILE_OUTPUT_FILE);
}
