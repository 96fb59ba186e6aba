// SPDX-License-Identifier: MIT
// FLASHAPP: the application object that owns everything a run needs and
// drives it: command line, interface bring-up, the run driver, the file side.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/progress_line.h"
#include "app/run_observer.h"
#include "app/run_plan.h"
#include "platform/platform.h"
#include "flash/sfprg.h"
#include "image/image_file.h"

class SPICTL;
struct WriteProtection;
struct FLASHDEV;

/// Size of the image buffer made at start-up; a larger device gets one of
/// its own size (FitImageBuffer).
constexpr uint32_t kImageBufferSize = 0x1000000;
/// The clock the interface device is brought up with, unless "-s" says otherwise.
constexpr uint32_t kBringUpClockHz = 50000000;

/// Flash and image buffer meet in chunks of at most this size, one
/// programmer call each.
constexpr uint32_t kChunkSize = 65536;


/// What "-u" wrote back into the erase units it rewrote, outside the image:
/// the bytes those units held before, which the verify expects to find
/// again. `bytes` holds the runs' bytes one after the other.
struct RestoredBytes {
  std::vector<FlashRange> runs;  // ascending
  std::vector<uint8_t> bytes;

  void Clear() {
    runs.clear();
    bytes.clear();
  }
};

class FLASHAPP {
 public:
  FLASHAPP();
  ~FLASHAPP();
  FLASHAPP(const FLASHAPP&) = delete;
  FLASHAPP& operator=(const FLASHAPP&) = delete;

  /// Option defaults, the generic programmer, the image buffer. A failure
  /// records its result code; the run goes on without what is missing.
  [[nodiscard]] bool Startup();
  /// Releases everything Startup and OpenInterface acquired.
  void Shutdown();

  /// Takes the argument list into `options`; false on the first error, with
  /// its message printed and its result code recorded.
  [[nodiscard]] bool ParseCommandLine(int argc, char** argv);
  /// Decimal, or hexadecimal after 0x/0X; nothing else, nothing above 32 bits.
  [[nodiscard]] bool ParseNumber(const char* text, uint32_t* value);

  /// Creates the controller and brings the interface device up.
  [[nodiscard]] bool OpenInterface();
  /// Releases chip select, disables SPI and closes the device, if there is a controller.
  void CloseInterface();
  /// Prints the interface devices the runtime can find, one name a line;
  /// opens none of them.
  void ListDevices();

  /// Performs what `options` asks for, in a fixed order; the first failing step ends it.
  void RunOperations();

  // The steps of RunOperations.
  [[nodiscard]] bool IdentifyDevice();
  [[nodiscard]] bool PrepareWrite();
  [[nodiscard]] bool ReadFromFlash();
  [[nodiscard]] bool WriteToFlash();

  /// True when an interrupting signal has come; the first time, prints
  /// "Interrupted" and records 128 plus the signal's number as the result.
  [[nodiscard]] bool Interrupted();

  // The file side: `imageFileSide` with the file name, the format and the
  // direction from `options`, each outcome recorded as the result code.
  [[nodiscard]] bool OpenImageFile();
  /// Fills the buffer from the open file and sets `dataLength` and
  /// `imageSpans`. An Intel HEX image lies at its own addresses: the buffer
  /// is erased to FF first, and only the spans hold the file's bytes.
  [[nodiscard]] bool LoadImage();
  /// Writes the first `dataLength` buffer bytes to the open file. After an
  /// Intel HEX save that closed the stream, `imageFile` is none.
  [[nodiscard]] bool SaveImage();
  /// Closes the image file. A file the chip is read into is written under a
  /// temporary name beside its own and takes that name here, only after a
  /// save that succeeded; otherwise the temporary file goes, and the old file
  /// (or none) stays. False, with its message and result code, when a saved
  /// file cannot be closed or put in place.
  [[nodiscard]] bool CloseImageFile();
  /// The fopen mode for the image file: written ("-r") or read, binary or text.
  static const char* ImageFileMode(bool fileIsWritten, int32_t fileFormat);

  /// The image file; the file-side names below are its state.
  ImageFile imageFileSide;
  FILE* const& imageFile = imageFileSide.Stream();
  std::unique_ptr<SPICTL> controller;
  std::unique_ptr<SFPRG> programmer;
  std::unique_ptr<uint8_t[]> imageBuffer;
  uint32_t imageCapacity = kImageBufferSize;
  int32_t& dataLength = imageFileSide.dataLength;
  std::vector<ImageSpan>& imageSpans = imageFileSide.spans;
  int32_t spiPort = 0;
  int32_t ctlError = 0;
  int32_t& byteCount = imageFileSide.byteCount;
  IHEX& ihex = imageFileSide.ihex;
  GHEX& ghex = imageFileSide.ghex;
  /// Cleared by a read that gives up on the file it saved, so that the old
  /// file stays.
  bool& imageComplete = imageFileSide.complete;

 private:
  // Creates the controller that runtimeVersion asks for and loads its
  // runtime, falling back from the second generation to the first.
  [[nodiscard]] bool LoadController();
  [[nodiscard]] bool CreateFirstGeneration();
  [[nodiscard]] bool CreateSecondGeneration();

  // Steps of RunOperations; false stops the run.
  /// With "-cr", asserts the interface device's configuration reset; false,
  /// with its message and code, when the device does not offer it or the
  /// assert fails.
  [[nodiscard]] bool AssertConfigReset(bool* asserted);
  /// Releases the configuration reset; says so when the device refuses.
  void ReleaseConfigReset();
  [[nodiscard]] bool RunFlashSteps();
  void PrintId();
  /// The row of the chip: the one "-m" names, the one its identification
  /// code finds, or one made from its SFDP ("-m sfdp", or a code the table
  /// does not know).
  [[nodiscard]] bool FindDevice(FLASHDEV* row);
  /// Reads the identification code twice: two reads that differ, or a code
  /// of all 00 or all FF bytes (no chip driving the line), stop the run.
  [[nodiscard]] bool ReadIdTwice(uint8_t id[3]);
  /// A row whose code other parts answer too: checked against the chip's
  /// SFDP, and the part driven from that SFDP where they disagree (an older
  /// part without it is driven in 4-byte mode past 16 MiB).
  [[nodiscard]] bool CheckSharedRow(FLASHDEV* row);
  /// Reads the chip's SFDP into a row; false, with its message and code, when
  /// it has none this program can use.
  [[nodiscard]] bool DeviceBySfdp(bool named, FLASHDEV* row);
  /// Identification runs at a clock every part of the table takes.
  [[nodiscard]] bool SlowClockForIdentification();
  /// The run's clock as asked, but no faster than the part takes; reads use
  /// fast read where the clock is above its plain read's limit.
  [[nodiscard]] bool FitClock(const FLASHDEV& row);
  /// A device larger than the buffer gets a buffer of its size.
  [[nodiscard]] bool FitImageBuffer();
  /// Leaves the chip in the addressing mode it powered up in.
  void FinishChip();
  /// Refuses, before anything is erased or programmed, a run that would
  /// touch what the chip protects; with "-unprotect" clears the protection first.
  [[nodiscard]] bool ProtectionStep();
  [[nodiscard]] bool BulkErase();
  [[nodiscard]] bool RangeErase();
  [[nodiscard]] bool WriteStep();
  /// Reads back what the write step programmed and compares it with the image.
  [[nodiscard]] bool VerifyStep();
  [[nodiscard]] bool ReadStep();
  /// Refuses an image that holds no data or that runs past the device end.
  [[nodiscard]] bool CheckImageFits();
  /// Sends the plan's commands, one at a time.
  [[nodiscard]] bool EraseUnits(const std::vector<SFPRG::EraseCommand>& plan);
  /// The write of "-u": every erase unit under the image read, and rewritten
  /// only when it differs, erased only when it must be.
  [[nodiscard]] bool UpdateFlash();
  /// With "-rv": reads what ReadFromFlash read once more and compares; a
  /// difference is a verify failure, and the file is not written.
  [[nodiscard]] bool ReadAgainAndCompare();
  /// After a comparison failed at a clock above 1 MHz: says a lower one may help.
  void SuggestLowerClock();
  /// The long steps' one loop: `step` for each piece of at most kChunkSize
  /// bytes of `ranges`, in order, with the progress line under `label` and
  /// a check for an interrupting signal before each. False as soon as a
  /// step or the check is.
  using ChunkStep = std::function<bool(uint32_t address, uint32_t length)>;
  [[nodiscard]] bool InChunks(const char* label, const std::vector<FlashRange>& ranges, const ChunkStep& step);
  /// Reads [start, start + length) in chunks into `destination`.
  [[nodiscard]] bool ReadChunks(uint32_t start, uint32_t length, uint8_t* destination);
  /// Copies `unit` bytes of `current` to `wanted` and lays the image bytes
  /// of [start, start + unit) over them; returns how many image bytes that
  /// was. With `restored`, the bytes of the unit outside the image are added
  /// to it.
  uint32_t LayImageOver(uint32_t start, uint32_t unit, const uint8_t* current, uint8_t* wanted,
                        RestoredBytes* restored) const;
  /// What the verify expects the `length` bytes from `start` to hold: the
  /// image's bytes, and "-u"'s restored ones where it rewrote a unit.
  void Expected(uint64_t start, uint32_t length, uint8_t* expected) const;
  /// A programmer operation failed: "Interrupted" if that was why, else
  /// `message` (and which wait timed out, if one did) with `code`. False.
  [[nodiscard]] bool FlashFailed(const char* message, int32_t code);
  /// "-unprotect" did not clear the protection: says why. False.
  [[nodiscard]] bool StillProtected(const WriteProtection& protection);
  /// `length`, cut at the end of the device from `address`; 0 at or past the end.
  int32_t InsideDevice(uint64_t address, uint32_t length) const;
  /// With "-t", the time since `startTick` as "<label>: <seconds>".
  static void PrintElapsed(const char* label, uint32_t startTick);

  ProgressLine progress;
  RunObserver observer{progress};
  bool interruptionReported = false;
  /// What this run erases, programs and verifies, once the part and the image are known.
  RunPlan plan;
  uint32_t askedHz = kBringUpClockHz;  // the clock last asked of the controller
  /// What "-u" rewrote (whole units), for the verify, with the bytes it
  /// wrote back outside the image; and the image bytes it found the chip
  /// already holding.
  std::vector<FlashRange> rewritten;
  RestoredBytes restored;
  int32_t bytesAlreadyThere = 0;
};

/// The run's application object.
extern FLASHAPP flashApp;
