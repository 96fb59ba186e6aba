// SPDX-License-Identifier: MIT
// The application's file side: moves the image buffer to and from the image
// file, as a binary image, raw hex text or Intel HEX records.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "app/flashapp.h"
#include "app/options.h"
#include "platform/platform.h"

namespace {

constexpr const char* kOpenFailed = "Error opening file: %s\n";
constexpr const char* kBinaryReadFailed = "Error reading from input file\n";
constexpr const char* kInputTooLarge = "Warning: Input file larger than memory buffer\n";
constexpr const char* kIntelHexReadFailed = "Error reading input file\n";
constexpr const char* kWriteFailed = "Error writing to output file\n";

/// Text formats carry at most this many bytes a line.
constexpr int32_t kBytesPerRecord = 32;

/// The input held more than the buffer: the run goes on with what fitted.
void WarnInputTooLarge() {
  std::fputs(kInputTooLarge, stdout);
  options.SetResultCode(RC_INPUT_TRUNCATED);
}

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
/// refused, by TextFaultReason; the fault's value goes into %c or %X.
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
void PrintFault(const TextFault& fault) {
  if (fault.reason <= TEXTFAULT_NONE || fault.reason >= static_cast<int32_t>(std::size(kFaultTexts))) return;
  const char* text = kFaultTexts[fault.reason];
  if (fault.reason == TEXTFAULT_NOT_HEX_DIGIT && (fault.value <= ' ' || fault.value >= 0x7F)) {
    text = kUnprintableNotHexDigit;
  }
  std::printf("line %u: ", fault.line);
  std::printf(text, fault.value, kImageBufferSize >> 20);
  std::printf("\n");
}

/// `dataLength`, kept within the buffer.
int32_t SavedLength(const FLASHAPP& app) {
  return std::clamp(app.dataLength, int32_t{0}, static_cast<int32_t>(kImageBufferSize));
}

/// Attaches the codec to the buffer and the open file and reads the file.
template <typename Codec>
bool ReadWithCodec(Codec& codec, FLASHAPP& app) {
  return codec.AttachBuffer(app.imageBuffer.get(), kImageBufferSize) &&
         codec.AttachInput(app.imageFile) && codec.ReadData() && codec.CloseInput();
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

/// A binary or raw hex image: the bytes loaded, from the buffer's start.
void SetContiguousSpan(FLASHAPP& app) {
  app.imageSpans.clear();
  if (app.dataLength > 0) app.imageSpans.push_back({0, static_cast<uint32_t>(app.dataLength)});
}

bool LoadBinary(FLASHAPP& app) {
  FILE* file = app.imageFile;
  uint32_t total = 0;
  while (total < kImageBufferSize && !std::feof(file)) {
    total += static_cast<uint32_t>(std::fread(app.imageBuffer.get() + total, 1, kImageBufferSize - total, file));
    if (std::ferror(file)) return Fail(kBinaryReadFailed, RC_INPUT_FILE);
  }
  // A full image of the largest chips fills the buffer exactly: only a byte
  // beyond it is input that the image cannot hold.
  if (total == kImageBufferSize) {
    const bool more = std::fgetc(file) != EOF;
    if (std::ferror(file)) return Fail(kBinaryReadFailed, RC_INPUT_FILE);
    if (more) WarnInputTooLarge();
  }
  app.dataLength = static_cast<int32_t>(total);
  SetContiguousSpan(app);
  return true;
}

bool LoadRawHex(FLASHAPP& app) {
  const bool ok = ReadWithCodec(app.ghex, app);
  app.dataLength = app.ghex.GetDataLength();
  SetContiguousSpan(app);
  app.ghex.Release();
  if (!ok) {
    std::fputs(RawHexLoadMessage(app.ghex.GetStatus()), stdout);
    PrintFault(app.ghex.GetFault());
    return Fail(nullptr, RC_INPUT_FILE);
  }
  if (app.ghex.HasDroppedBytes()) WarnInputTooLarge();
  return true;
}

bool LoadIntelHex(FLASHAPP& app) {
  // The erased state of flash: the gaps between records program as no-ops.
  std::memset(app.imageBuffer.get(), 0xFF, kImageBufferSize);
  const bool ok = ReadWithCodec(app.ihex, app);
  app.dataLength = app.ihex.GetDataLength();
  app.imageSpans.clear();
  for (const IHEX::Range& r : app.ihex.GetFilledRanges()) app.imageSpans.push_back({r.start, r.end - r.start});
  app.ihex.Release();
  if (ok) return true;
  std::fputs(kIntelHexReadFailed, stdout);
  PrintFault(app.ihex.GetFault());
  return Fail(nullptr, RC_INPUT_FILE);
}

bool SaveBinary(FLASHAPP& app) {
  const size_t length = static_cast<size_t>(SavedLength(app));
  // The flush brings out a write failure that the stream buffer held back.
  if (std::fwrite(app.imageBuffer.get(), 1, length, app.imageFile) < length ||
      std::fflush(app.imageFile) != 0) {
    return Fail(kWriteFailed, RC_OUTPUT_FILE);
  }
  return true;
}

bool SaveRawHex(FLASHAPP& app) {
  GHEX& ghex = app.ghex;
  bool ok = ghex.AttachBuffer(app.imageBuffer.get(), kImageBufferSize) &&
            ghex.AttachOutput(app.imageFile);
  app.byteCount = 0;
  ok = ok && WriteInRecords(SavedLength(app), app.byteCount,
                            [&](int32_t n, int32_t offset) { return ghex.WriteRecord(n, offset); });
  ok = ok && ghex.CloseOutput() && std::fflush(app.imageFile) == 0;
  ghex.Release();
  return ok || Fail(kWriteFailed, RC_OUTPUT_FILE);
}

bool SaveIntelHex(FLASHAPP& app) {
  IHEX& ihex = app.ihex;
  uint8_t* buffer = app.imageBuffer.get();
  bool ok = ihex.AttachBuffer(buffer, kImageBufferSize);
  // Offsets from 64 KB up need extended linear address records.
  ihex.SetLinear();
  ok = ok && ihex.AttachOutput(app.imageFile);
  app.byteCount = 0;
  ok = ok && WriteInRecords(SavedLength(app), app.byteCount, [&](int32_t n, int32_t offset) {
         const uint32_t at = static_cast<uint32_t>(offset);
         return ihex.WriteRecord(n, at, buffer + at);
       });
  // The codec closes the stream once it has ended the output, so the file
  // must not be closed again; when ending fails the stream stays open.
  ok = ok && ihex.CloseOutput();
  if (ok) app.imageFile = nullptr;
  ihex.Release();
  return ok || Fail(kWriteFailed, RC_OUTPUT_FILE);
}

struct FormatTransfers {
  bool (*load)(FLASHAPP&);
  bool (*save)(FLASHAPP&);
};

/// Indexed by FileFormat.
constexpr FormatTransfers kTransfers[] = {
    {LoadBinary, SaveBinary},
    {LoadRawHex, SaveRawHex},
    {LoadIntelHex, SaveIntelHex},
};

/// Runs the format's load or save. Without an image buffer (Startup has
/// recorded code 5) or an open file there is nothing to move.
bool Transfer(FLASHAPP& app, bool (*FormatTransfers::*direction)(FLASHAPP&)) {
  const int32_t format = options.GetFileFormat();
  if (format < FORMAT_BINARY || format > FORMAT_INTEL_HEX) return Fail(nullptr, RC_INTERNAL);
  if (!app.imageBuffer) return false;
  if (!app.imageFile) return Fail(nullptr, RC_INTERNAL);
  return (kTransfers[format].*direction)(app);
}

}  // namespace

const char* FLASHAPP::ImageFileMode(bool fileIsWritten, int32_t fileFormat) {
  const bool binary = fileFormat == FORMAT_BINARY;
  if (fileIsWritten) return binary ? "wb" : "wt";
  return binary ? "rb" : "rt";
}

bool FLASHAPP::OpenImageFile() {
  CloseImageFile();
  const bool fileIsWritten = options.GetReadFlash();
  const char* name = options.GetFileName();
  const char* mode = ImageFileMode(fileIsWritten, options.GetFileFormat());
  if (name) {
    // A file read from the chip replaces the old one only once it is whole.
    imageFile = fileIsWritten ? platform::OpenReplacement(name, mode, &imageReplacement) : std::fopen(name, mode);
  }
  if (imageFile) return true;
  std::printf(kOpenFailed, name ? name : "");
  options.SetResultCode(fileIsWritten ? RC_OUTPUT_FILE : RC_INPUT_FILE);
  return false;
}

bool FLASHAPP::LoadImage() { return Transfer(*this, &FormatTransfers::load); }

bool FLASHAPP::SaveImage() {
  // A file that could only be opened in place is emptied now, with the
  // chip's contents read whole: a failed read has left it as it was.
  if (imageFile && imageReplacement.inPlace && !platform::EmptyInPlace(imageFile)) {
    return Fail(kWriteFailed, RC_OUTPUT_FILE);
  }
  imageComplete = Transfer(*this, &FormatTransfers::save);
  return imageComplete;
}

bool FLASHAPP::CloseImageFile() {
  const bool closed = !imageFile || std::fclose(imageFile) == 0;
  imageFile = nullptr;
  const bool saved = std::exchange(imageComplete, false);
  const platform::Replacement replacement = std::exchange(imageReplacement, {});
  const std::string& temporary = replacement.temporary;
  if (!saved) {
    platform::DiscardReplacement(temporary);
    return true;
  }
  if (closed && (temporary.empty() || platform::PutReplacementInPlace(temporary, replacement.target))) return true;
  platform::DiscardReplacement(temporary);
  return Fail(kWriteFailed, RC_OUTPUT_FILE);
}
