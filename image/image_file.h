// SPDX-License-Identifier: MIT
// ImageFile: the image file of a run, moved to and from the image buffer as a
// binary image, raw hex text or Intel HEX records.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/ghex.h"
#include "image/ihex.h"
#include "image/image_span.h"
#include "platform/platform.h"

/// The formats of an image file.
enum ImageFormat : int32_t { IMAGEFORMAT_BINARY = 0, IMAGEFORMAT_RAW_HEX = 1, IMAGEFORMAT_INTEL_HEX = 2 };

/// What an operation came to beyond its result, for the caller to turn into
/// the run's result code. Kept apart from those codes so that this layer
/// names what happened and the program's exit codes stay defined in one place.
enum ImageFileOutcome : int32_t {
  IMAGEFILE_NONE = 0,          // nothing to record: a success without a warning, or no buffer to fill
  IMAGEFILE_INTERNAL,          // an unknown format, or a transfer without an open file
  IMAGEFILE_INPUT_FILE,        // the input cannot be opened or read, or its text is refused
  IMAGEFILE_INPUT_TRUNCATED,   // a warning: the input held more than the buffer, which holds its start
  IMAGEFILE_OUTPUT_FILE,       // the output cannot be opened, written, closed or put in place
};

/// Prints what goes wrong on standard output, byte for byte as the program
/// always has, and keeps the outcome (LastOutcome) of each operation.
class ImageFile {
 public:
  ImageFile() = default;
  /// Closes what is still open; a saved file not yet closed is discarded.
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  /// The fopen mode for the image file: written (a chip read into it) or
  /// read, binary or text.
  static const char* Mode(bool written, int32_t format);

  /// Closes any file still open, then opens `name`. A file that is written
  /// replaces the old one only once it is whole (Close).
  [[nodiscard]] bool Open(const char* name, int32_t format, bool written);
  /// Fills `buffer` (`capacity` bytes) from the open file and sets
  /// `dataLength` and `spans`. An Intel HEX image lies at its own addresses:
  /// the buffer is erased to FF first, and only the spans hold the file's
  /// bytes. False, with nothing recorded, when there is no buffer.
  [[nodiscard]] bool Load(int32_t format, uint8_t* buffer, uint32_t capacity);
  /// Writes the first `dataLength` bytes of `buffer` to the open file and
  /// counts the bytes of the text formats in `byteCount`. After an Intel HEX
  /// save, which closes the stream, Stream() is none.
  [[nodiscard]] bool Save(int32_t format, uint8_t* buffer, uint32_t capacity);
  /// Closes the file. A written file takes its name here, only after a save
  /// that succeeded (`complete`); otherwise it goes, and the old file (or
  /// none) stays. False when a saved file cannot be closed or put in place.
  [[nodiscard]] bool Close();

  /// What the last Open, Load, Save or Close came to.
  ImageFileOutcome LastOutcome() const { return outcome; }
  /// The open stream, none when closed. A reference, so that a name bound
  /// to it follows the stream.
  FILE* const& Stream() const { return stream; }

  // What the caller's run shares: it reads them, and a read from the chip
  // sets `dataLength` and `byteCount` before the save.

  /// What the last load filled, ascending, no span touching the next: one
  /// span for a binary or raw hex image, one per run of Intel HEX records;
  /// empty when the file held no data.
  std::vector<ImageSpan> spans;
  /// Bytes loaded, from the lowest offset filled to the highest; the bytes
  /// a save writes.
  int32_t dataLength = 0;
  /// Bytes written by the last text save.
  int32_t byteCount = 0;
  /// The last save succeeded; a run that gives up on the saved file clears
  /// it before Close, so that the old file stays.
  bool complete = false;
  IHEX ihex;
  GHEX ghex;

 private:
  /// Prints `message` (none when null) and records `code`; false.
  bool Fail(const char* message, ImageFileOutcome code);
  /// The input held more than the buffer: the run goes on with what fitted.
  void WarnInputTooLarge();
  /// A load or a save of one format.
  using Step = bool (ImageFile::*)(uint8_t* buffer, uint32_t capacity);
  /// Runs the step of `format` out of `steps` (indexed by ImageFormat), if
  /// there is a buffer and an open file.
  [[nodiscard]] bool Transfer(int32_t format, const std::array<Step, 3>& steps, uint8_t* buffer, uint32_t capacity);

  [[nodiscard]] bool LoadBinary(uint8_t* buffer, uint32_t capacity);
  [[nodiscard]] bool LoadRawHex(uint8_t* buffer, uint32_t capacity);
  [[nodiscard]] bool LoadIntelHex(uint8_t* buffer, uint32_t capacity);
  [[nodiscard]] bool SaveBinary(uint8_t* buffer, uint32_t capacity);
  [[nodiscard]] bool SaveRawHex(uint8_t* buffer, uint32_t capacity);
  [[nodiscard]] bool SaveIntelHex(uint8_t* buffer, uint32_t capacity);
  /// A binary or raw hex image: the bytes loaded, from the buffer's start.
  void SetContiguousSpan();
  /// `dataLength`, kept within the buffer.
  int32_t SavedLength(uint32_t capacity) const;

  FILE* stream = nullptr;
  /// How the written file reaches its name.
  platform::Replacement replacement;
  ImageFileOutcome outcome = IMAGEFILE_NONE;
};
